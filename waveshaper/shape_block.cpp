#include "waveshaper/shape_block.h"

#include <cstring>

#include "waveshaper/table_layout.h"

// The same steps as shapeSample, with each test turned into a selection: the interpolation is computed
// for every sample from an index kept below the last entry, and the ends replace it where they apply.
void shapeBlockPortable(const float* table, const float* in, float* out, int32_t count) {
    const float first = table[0];
    const float last = table[kLastTableEntry];
    for (int32_t n = 0; n < count; ++n) {
        const float b = in[n] + kTableOffset;
        uint32_t bits;
        std::memcpy(&bits, &b, sizeof bits);
        const float p = b * kTableStepsPerUnit;
        // Clamping before the conversion keeps it in range for every p (a NaN p selects the last
        // step's start); within [0, kTableSteps) the clamp changes no truncation.
        const float lastStart = kTableStepsPerUnit - 1.0f;
        float clamped = p < lastStart ? p : lastStart;
        clamped = clamped > 0.0f ? clamped : 0.0f;
        const int32_t k = static_cast<int32_t>(clamped);
        const bool low = (bits >> 31) != 0;
        const bool high = !(p < kTableStepsPerUnit);
        // The ends take a zero fraction, so that an infinite p never meets a zero difference.
        const float fraction = (low || high) ? 0.0f : p - static_cast<float>(k);
        const float inner = table[k] + fraction * (table[k + 1] - table[k]);
        out[n] = low ? first : (high ? last : inner);
    }
}
