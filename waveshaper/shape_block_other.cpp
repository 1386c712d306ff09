// Processors without a vector form of their own: the portable loop, which compilers may vectorise.
#include "waveshaper/shape_block.h"

void shapeBlock(const float* table, const float* in, float* out, int32_t count) {
    shapeBlockPortable(table, in, out, count);
}

int shapePaths(ShapePath (&paths)[kMaxShapePaths]) {
    paths[0] = {"portable", &shapeBlockPortable};
    return 1;
}
