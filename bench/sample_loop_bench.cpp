// The sample loop: shapeSamples beside what bounds it and what it replaces, all in one run so that
// their ratios come from the same conditions.
//   memcpy            copying the same block: no loop can be faster
//   ScalarReference   shapeSample per sample, the plain form of the steps
//   StdTanh           std::tanh per sample, what a user would write without a table
//   ShapeSamples      the module's process function (the form chosen for this processor)
//   ShapePath         each vector form the processor runs, called directly
//   Subnormal/Normal  the same loop on subnormal and on normal inputs
// Arguments: block size; in-place (1) or separate buffers (0); inputs within +-5 V (0) or up to +-10 V (1).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "waveshaper/curve_waveshaper.h"
#include "waveshaper/shape_block.h"
#include "waveshaper/table_layout.h"

namespace {

constexpr int kMaxBlock = 4096;

// The curve of the formula tanh(3*x)/tanh(3)*5, as the formula module would build it.
struct Table {
    Table() {
        for (int i = 0; i < kTableEntries; ++i) {
            const double x = tableInputVolts(i);
            entries[i] = static_cast<float>(std::tanh(3.0 * x) / std::tanh(3.0) * 5.0 * 0.1);
        }
    }
    float entries[kTableEntries + 1] = {};
};
const Table table;

// Uniform inputs within +-0.5 (+-5 V), or within +-1.0 (+-10 V: half of them beyond the table).
std::vector<float> inputs(bool beyond) {
    std::mt19937 random(beyond ? 2u : 1u);
    std::uniform_real_distribution<float> uniform(beyond ? -1.0f : -0.5f, beyond ? 1.0f : 0.5f);
    std::vector<float> values(kMaxBlock);
    for (float& v : values)
        v = uniform(random);
    return values;
}

// Subnormal inputs of both signs, or normal ones of similar use (near 0 V).
std::vector<float> smallInputs(bool subnormal) {
    std::mt19937 random(3u);
    std::vector<float> values(kMaxBlock);
    for (float& v : values) {
        const uint32_t r = static_cast<uint32_t>(random());
        const uint32_t bits = subnormal ? (r & 0x807FFFFFu) | 1u : (r & 0x807FFFFFu) | 0x3A800000u;
        std::memcpy(&v, &bits, sizeof v);
    }
    return values;
}

void setBytes(benchmark::State& state, int64_t frames) {
    state.SetItemsProcessed(state.iterations() * frames);
    state.SetBytesProcessed(state.iterations() * frames * static_cast<int64_t>(sizeof(float)));
}

void BM_Memcpy(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    const std::vector<float> in = inputs(false);
    std::vector<float> out(kMaxBlock);
    for (auto _ : state) {
        benchmark::DoNotOptimize(in.data());
        std::memcpy(out.data(), in.data(), static_cast<std::size_t>(frames) * sizeof(float));
        benchmark::ClobberMemory();
    }
    setBytes(state, frames);
}

void BM_ScalarReference(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    const std::vector<float> in = inputs(state.range(2) != 0);
    std::vector<float> out(kMaxBlock);
    for (auto _ : state) {
        benchmark::DoNotOptimize(in.data());
        for (int n = 0; n < frames; ++n)
            out[n] = shapeSample(table.entries, in[n]);
        benchmark::ClobberMemory();
    }
    setBytes(state, frames);
}

void BM_StdTanh(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    const std::vector<float> in = inputs(state.range(2) != 0);
    std::vector<float> out(kMaxBlock);
    const float scale = 0.5f / std::tanh(3.0f);
    for (auto _ : state) {
        benchmark::DoNotOptimize(in.data());
        for (int n = 0; n < frames; ++n)
            out[n] = scale * std::tanh(30.0f * in[n]);
        benchmark::ClobberMemory();
    }
    setBytes(state, frames);
}

// In place, each pass shapes the previous pass's output; the loop's time does not depend on the values.
void BM_ShapeSamples(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    const bool inPlace = state.range(1) != 0;
    std::vector<float> in = inputs(state.range(2) != 0);
    std::vector<float> out(kMaxBlock);
    Waveshaper2 module;
    module.table = const_cast<float*>(table.entries);
    module.inputPin.buffer = in.data();
    module.outputPin.buffer = inPlace ? in.data() : out.data();
    for (auto _ : state) {
        module.shapeSamples(0, frames);
        benchmark::ClobberMemory();
    }
    setBytes(state, frames);
}

void BM_ShapePath(benchmark::State& state, ShapeBlockFunction function) {
    const int frames = static_cast<int>(state.range(0));
    const std::vector<float> in = inputs(state.range(2) != 0);
    std::vector<float> out(kMaxBlock);
    for (auto _ : state) {
        benchmark::DoNotOptimize(in.data());
        function(table.entries, in.data(), out.data(), frames);
        benchmark::ClobberMemory();
    }
    setBytes(state, frames);
}

// Argument 0: normal inputs, 1: subnormal inputs; 256-sample blocks.
void BM_SmallInputShapeSamples(benchmark::State& state) {
    std::vector<float> in = smallInputs(state.range(0) != 0);
    std::vector<float> out(kMaxBlock);
    Waveshaper2 module;
    module.table = const_cast<float*>(table.entries);
    module.inputPin.buffer = in.data();
    module.outputPin.buffer = out.data();
    for (auto _ : state) {
        module.shapeSamples(0, 256);
        benchmark::ClobberMemory();
    }
    setBytes(state, 256);
    state.SetLabel(state.range(0) != 0 ? "subnormal" : "normal");
}

void BM_SmallInputScalarReference(benchmark::State& state) {
    const std::vector<float> in = smallInputs(state.range(0) != 0);
    std::vector<float> out(kMaxBlock);
    for (auto _ : state) {
        benchmark::DoNotOptimize(in.data());
        for (int n = 0; n < 256; ++n)
            out[n] = shapeSample(table.entries, in[n]);
        benchmark::ClobberMemory();
    }
    setBytes(state, 256);
    state.SetLabel(state.range(0) != 0 ? "subnormal" : "normal");
}

const int64_t kSizes[] = {16, 64, 256, 4096};

void sizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"frames", "inplace", "beyond"});
    for (int64_t size : kSizes)
        b->Args({size, 0, 0});
}
void sizesAndRanges(benchmark::internal::Benchmark* b) {
    b->ArgNames({"frames", "inplace", "beyond"});
    for (int64_t size : kSizes)
        for (int64_t beyond : {0, 1})
            b->Args({size, 0, beyond});
}
void sizesPlacesAndRanges(benchmark::internal::Benchmark* b) {
    b->ArgNames({"frames", "inplace", "beyond"});
    for (int64_t size : kSizes)
        for (int64_t inPlace : {0, 1})
            for (int64_t beyond : {0, 1})
                b->Args({size, inPlace, beyond});
}

BENCHMARK(BM_Memcpy)->Apply(sizes);
BENCHMARK(BM_ScalarReference)->Apply(sizesAndRanges);
BENCHMARK(BM_StdTanh)->Apply(sizesAndRanges);
BENCHMARK(BM_ShapeSamples)->Apply(sizesPlacesAndRanges);
BENCHMARK(BM_SmallInputShapeSamples)->Arg(0)->Arg(1);
BENCHMARK(BM_SmallInputScalarReference)->Arg(0)->Arg(1);

} // namespace

int main(int argc, char** argv) {
    ShapePath paths[kMaxShapePaths];
    const int count = shapePaths(paths);
    for (int i = 0; i < count; ++i) {
        const std::string name = std::string("BM_ShapePath/") + paths[i].name;
        benchmark::RegisterBenchmark(name.c_str(), BM_ShapePath, paths[i].function)->Apply(sizes);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::AddCustomContext("shapeSamples form", paths[0].name);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
