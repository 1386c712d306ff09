// The sample loop of the waveshapers: every input sample shaped by linear interpolation in the 513-entry
// table, block by block. The vector forms give, bit for bit, what shapeSample gives for each sample.
#pragma once

#include <cstdint>

// Shapes count samples from in to out through table (513 entries). out may be in itself (each sample is
// read before its output is written) but must not otherwise overlap it. Reads nothing beyond in[count-1]
// and table[512], writes nothing beyond out[count-1], allocates nothing. count <= 0 does nothing.
using ShapeBlockFunction = void (*)(const float* table, const float* in, float* out, int32_t count);

// The fastest form this processor runs, chosen once when the library loads.
void shapeBlock(const float* table, const float* in, float* out, int32_t count);

// One form of the loop, for tests and benchmarks that compare them.
struct ShapePath {
    const char* name;
    ShapeBlockFunction function;
};

// The forms this processor can run, fastest first (the first is what shapeBlock uses); at most
// kMaxShapePaths.
constexpr int kMaxShapePaths = 4;
int shapePaths(ShapePath (&paths)[kMaxShapePaths]);

// The form in plain C++, without branches on the sample values; every other form must agree with it.
void shapeBlockPortable(const float* table, const float* in, float* out, int32_t count);
