// Every form of the sample loop against the per-sample steps (shapeSample), bit for bit: dense sweeps,
// the table's edges, special values, random bit patterns, and every offset and length around the
// vector widths, with separate and shared buffers. Buffers and tables are allocated at their exact
// sizes, so a read past either end is caught by the address sanitizer in the Debug build.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "waveshaper/curve_waveshaper.h"
#include "waveshaper/shape_block.h"
#include "waveshaper/table_layout.h"

namespace {

uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float fromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Tables that exercise the arithmetic in different ways, each exactly 513 entries.
struct NamedTable {
    std::string name;
    std::vector<float> entries;
};

std::vector<NamedTable> tables() {
    std::vector<NamedTable> result;
    NamedTable identity{"identity", std::vector<float>(kTableEntries)};
    for (int i = 0; i < kTableEntries; ++i)
        identity.entries[i] = static_cast<float>(i) / kTableStepsPerUnit - kTableOffset;
    result.push_back(identity);

    NamedTable random{"random", std::vector<float>(kTableEntries)};
    std::mt19937 generator(7u);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    for (float& entry : random.entries)
        entry = uniform(generator);
    result.push_back(random);

    // Differences that overflow or are infinite (inf - inf gives the one default NaN), signed zeros
    // and subnormal entries.
    // Neighbours of very different magnitude, where a + (b - a) is not b.
    NamedTable extreme{"extreme", random.entries};
    for (int i = 0; i < kTableEntries; ++i)
        extreme.entries[i] = std::ldexp(random.entries[i], (i * 7) % 41 - 20);
    const float specials[] = {std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              FLT_MAX,
                              -FLT_MAX,
                              -0.0f,
                              0.0f,
                              FLT_TRUE_MIN,
                              -FLT_TRUE_MIN,
                              FLT_MIN};
    for (int i = 0; i < kTableEntries; ++i)
        if (i % 3 == 0)
            extreme.entries[i] = specials[(i / 3) % 9];
    extreme.entries[511] = 3.0f; // 3 + (1e-8 - 3) is 0: entry 512 must be taken, not interpolated
    extreme.entries[512] = 1e-8f;
    result.push_back(extreme);

    // One NaN entry (a single payload, so the order of operands cannot change which NaN comes out).
    NamedTable withNan{"nan", random.entries};
    withNan.entries[200] = fromBits(0x7FC01234u);
    withNan.entries[0] = -0.0f;
    withNan.entries[512] = fromBits(0x7FC01234u);
    result.push_back(withNan);
    return result;
}

std::vector<ShapePath> allPaths() {
    ShapePath paths[kMaxShapePaths];
    const int count = shapePaths(paths);
    std::vector<ShapePath> result(paths, paths + count);
    result.push_back({"shapeBlock", &shapeBlock});
    return result;
}

// Runs path over inputs (in blocks of up to 4099 samples, separately and in place) and reports the
// first few samples whose output differs in any bit from the per-sample steps.
void expectSameAsSteps(const ShapePath& path, const NamedTable& table, const std::vector<float>& inputs) {
    constexpr std::size_t kBlock = 4099; // not a multiple of any vector width
    int failures = 0;
    for (std::size_t start = 0; start < inputs.size(); start += kBlock) {
        const std::size_t count = std::min(kBlock, inputs.size() - start);
        std::vector<float> in(inputs.begin() + static_cast<std::ptrdiff_t>(start),
                              inputs.begin() + static_cast<std::ptrdiff_t>(start + count));
        std::vector<float> out(count);
        std::vector<float> shared = in;
        path.function(table.entries.data(), in.data(), out.data(), static_cast<int32_t>(count));
        path.function(table.entries.data(), shared.data(), shared.data(), static_cast<int32_t>(count));
        for (std::size_t n = 0; n < count; ++n) {
            const uint32_t expected = bitsOf(shapeSample(table.entries.data(), in[n]));
            if (bitsOf(out[n]) != expected || bitsOf(shared[n]) != expected) {
                ADD_FAILURE() << path.name << ", table " << table.name << ": input bits 0x" << std::hex
                              << bitsOf(in[n]) << " gives 0x" << bitsOf(out[n]) << " (in place 0x"
                              << bitsOf(shared[n]) << "), expected 0x" << expected;
                if (++failures == 5)
                    return;
            }
        }
    }
}

void expectAllPathsAgree(const std::vector<float>& inputs) {
    for (const NamedTable& table : tables())
        for (const ShapePath& path : allPaths())
            expectSameAsSteps(path, table, inputs);
}

TEST(ShapeBlock, PathsIncludeTheBaselineAndThePortableForm) {
    ShapePath paths[kMaxShapePaths];
    const int count = shapePaths(paths);
    ASSERT_GE(count, 1);
    EXPECT_STREQ(paths[count - 1].name, "portable");
}

TEST(ShapeBlock, EdgesAndSpecialValues) {
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> inputs = {
        0.0f, -0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 0.498046875f, 0.4990234375f, 0.25f, -0.25f, 1e-3f, -1e-3f, inf,
        -inf, FLT_MAX, -FLT_MAX, FLT_MIN, -FLT_MIN, FLT_TRUE_MIN, -FLT_TRUE_MIN,
        // p at and beyond the range of a 32-bit integer, and where floats stop having fractions.
        4194304.0f, -4194304.0f, 8388608.0f, 16777216.0f, 2147483648.0f / 512.0f, 1e10f, -1e10f, 1e30f,
        fromBits(0x7FC00000u), fromBits(0xFFC00000u), fromBits(0x7F800001u), fromBits(0xFF800001u),
        fromBits(0x7FFFFFFFu), fromBits(0xFFFFFFFFu), fromBits(0x7FA00000u), fromBits(0x80000001u)};
    // Every entry's input and its neighbours within 64 units in the last place, where the truncation
    // changes: i/512 - 0.5 for i = 0..512, and the same beyond the ends.
    for (int i = -2; i <= 514; ++i) {
        const float at = static_cast<float>(i) / kTableStepsPerUnit - kTableOffset;
        for (int step = -64; step <= 64; ++step) {
            const uint32_t bits = bitsOf(at);
            const float near = at == 0.0f
                                   ? fromBits(static_cast<uint32_t>(step < 0 ? 0x80000000u - step : step))
                                   : fromBits(bits + static_cast<uint32_t>(step));
            inputs.push_back(near);
        }
    }
    expectAllPathsAgree(inputs);
}

TEST(ShapeBlock, DenseSweepOfPlusMinusOne) {
    // Every 251st float from 0 to 1, both signs: about 8.5 million samples in all.
    std::vector<float> inputs;
    const uint32_t one = bitsOf(1.0f);
    inputs.reserve(2 * (one / 61 + 2));
    for (uint32_t bits = 0; bits <= one; bits += 251) {
        inputs.push_back(fromBits(bits));
        inputs.push_back(fromBits(bits | 0x80000000u));
    }
    inputs.push_back(1.0f);
    inputs.push_back(-1.0f);
    // The sweep on one table per path keeps the run short; the tables differ in the other tests.
    const NamedTable table = tables()[1];
    for (const ShapePath& path : allPaths())
        expectSameAsSteps(path, table, inputs);
}

TEST(ShapeBlock, RandomBitPatterns) {
    std::mt19937 generator(11u);
    std::vector<float> inputs(1 << 18);
    for (float& input : inputs)
        input = fromBits(static_cast<uint32_t>(generator()));
    expectAllPathsAgree(inputs);
}

// Every offset and length up to a few vector widths: exactly the samples asked for are written, each
// equal to the steps, the samples around them untouched, and the separate input unchanged.
TEST(ShapeBlock, EveryOffsetAndLength) {
    constexpr int kSpan = 70;
    constexpr float kGuard = -777.0f;
    const NamedTable table = tables()[1];
    std::mt19937 generator(5u);
    std::uniform_real_distribution<float> uniform(-0.75f, 0.75f);
    std::vector<float> source(kSpan);
    for (float& value : source)
        value = uniform(generator);
    for (const ShapePath& path : allPaths()) {
        for (int offset = 0; offset < 18; ++offset) {
            for (int length = -1; offset + length <= kSpan - 18 && length <= 40; ++length) {
                for (const bool inPlace : {false, true}) {
                    std::vector<float> in = source;
                    std::vector<float> out(kSpan, kGuard);
                    float* target = inPlace ? in.data() : out.data();
                    path.function(table.entries.data(), in.data() + offset, target + offset, length);
                    const std::vector<float>& written = inPlace ? in : out;
                    for (int n = 0; n < kSpan; ++n) {
                        const bool inside = n >= offset && n < offset + length;
                        const float expected = inside ? shapeSample(table.entries.data(), source[n])
                                                      : (inPlace ? source[n] : kGuard);
                        ASSERT_EQ(bitsOf(written[n]), bitsOf(expected))
                            << path.name << " offset " << offset << " length " << length << " sample " << n
                            << (inPlace ? " in place" : "");
                    }
                    if (!inPlace) {
                        ASSERT_EQ(in, source) << path.name << ": the input was written";
                    }
                }
            }
        }
    }
}

// Buffers that end exactly where the samples do, at every length: a read past the end is caught by
// the address sanitizer.
TEST(ShapeBlock, ReadsNothingBeyondTheBuffers) {
    const NamedTable table = tables()[0];
    for (const ShapePath& path : allPaths()) {
        for (int length = 1; length <= 40; ++length) {
            std::vector<float> in(static_cast<std::size_t>(length), 0.7f);
            std::vector<float> out(static_cast<std::size_t>(length));
            path.function(table.entries.data(), in.data(), out.data(), length);
            EXPECT_EQ(out.back(), 0.5f) << path.name << " length " << length;
        }
    }
}

// The process function around the loop: offsets, nothing without buffers, silence without a table.
TEST(ShapeSamples, ProcessFunctionCases) {
    const NamedTable table = tables()[1];
    struct Case {
        const char* name;
        bool withTable;
        bool withInput;
        bool withOutput;
        int32_t offset;
        int32_t frames;
    };
    const Case cases[] = {
        {"whole block", true, true, true, 0, 64},        {"offset stretch", true, true, true, 13, 29},
        {"no samples", true, true, true, 5, 0},          {"negative count", true, true, true, 5, -3},
        {"no table: silence", false, true, true, 3, 50}, {"no input buffer", true, false, true, 0, 64},
        {"no output buffer", true, true, false, 0, 64},
    };
    constexpr float kGuard = 99.0f;
    for (const Case& c : cases) {
        std::vector<float> in(64);
        for (int n = 0; n < 64; ++n)
            in[n] = static_cast<float>(n) / 40.0f - 0.8f;
        std::vector<float> out(64, kGuard);
        Waveshaper2 module;
        module.table = c.withTable ? const_cast<float*>(table.entries.data()) : nullptr;
        module.inputPin.buffer = c.withInput ? in.data() : nullptr;
        module.outputPin.buffer = c.withOutput ? out.data() : nullptr;
        module.shapeSamples(c.offset, c.frames);
        for (int n = 0; n < 64; ++n) {
            const bool inside = c.withInput && c.withOutput && n >= c.offset && n < c.offset + c.frames;
            const float expected =
                !inside ? kGuard : (c.withTable ? shapeSample(table.entries.data(), in[n]) : 0.0f);
            ASSERT_EQ(bitsOf(out[n]), bitsOf(expected)) << c.name << ", sample " << n;
        }
    }
}

} // namespace
