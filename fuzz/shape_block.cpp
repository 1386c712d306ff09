// Every form of the sample loop against the per-sample steps (shapeSample) on arbitrary bytes: samples
// of any bit pattern, any count (so every split into whole vectors and a remainder), separate buffers
// and in place, and a table that is either a ramp or the input's own bits. Buffers are allocated at
// their exact sizes, so a read or write past either end is caught by the address sanitizer.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "waveshaper/shape_block.h"
#include "waveshaper/waveshaper.h"

namespace {

uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Equal bits, or both NaN: which of two NaN entries an interpolation passes on depends on the order the
// compiler gives the operands of an addition, which no form promises.
bool same(float a, float b) {
    return bitsOf(a) == bitsOf(b) || (std::isnan(a) && std::isnan(b));
}

std::vector<float> makeTable(FuzzedDataProvider& in) {
    std::vector<float> table(kTableEntries);
    if (in.ConsumeBool()) {
        for (int i = 0; i < kTableEntries; ++i)
            table[i] = static_cast<float>(i) / 512.0f - 0.5f;
    } else {
        for (float& entry : table) {
            const uint32_t bits = in.ConsumeIntegral<uint32_t>();
            std::memcpy(&entry, &bits, sizeof entry);
        }
    }
    return table;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::vector<float> table = makeTable(in);
    std::vector<float> samples;
    while (in.remaining_bytes() >= sizeof(uint32_t)) {
        const uint32_t bits = in.ConsumeIntegral<uint32_t>();
        float sample;
        std::memcpy(&sample, &bits, sizeof sample);
        samples.push_back(sample);
    }
    const auto count = static_cast<int32_t>(samples.size());

    ShapePath paths[kMaxShapePaths];
    const int pathCount = shapePaths(paths);
    for (int p = 0; p <= pathCount; ++p) {
        const ShapeBlockFunction function = p < pathCount ? paths[p].function : &shapeBlock;
        const char* name = p < pathCount ? paths[p].name : "shapeBlock";
        std::vector<float> out(samples.size());
        std::vector<float> shared = samples;
        function(table.data(), samples.data(), out.data(), count);
        function(table.data(), shared.data(), shared.data(), count);
        for (int32_t n = 0; n < count; ++n) {
            const float expected = shapeSample(table.data(), samples[n]);
            if (!same(out[n], expected) || !same(shared[n], expected)) {
                std::fprintf(stderr,
                             "shape_block fuzz: %s, sample %d of %d (bits 0x%08x) gives 0x%08x, in place "
                             "0x%08x, expected 0x%08x\n",
                             name, n, count, bitsOf(samples[n]), bitsOf(out[n]), bitsOf(shared[n]),
                             bitsOf(expected));
                std::abort();
            }
        }
    }
    return 0;
}
