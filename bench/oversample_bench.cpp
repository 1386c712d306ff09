// The cost of running a module oversampled in the command-line host: one second of a 48 kHz mono sine
// (5 V, 1 kHz) through the curve module, at each factor and resampler quality. The time of one
// iteration is the time per second of audio; factor 1 is the plain render without resamplers.
#include <benchmark/benchmark.h>

#include "cli/render/module_stream.h"
#include "cli/render/test_signals.h"

namespace {

using namespace shaperhost;

const char* const kSoftClip = "(-5.0,-5.0)(-4.0,-4.8)(-3.0,-4.3)(-2.0,-3.4)(-1.0,-2.0)(0.0,0.0)(1.0,2.0)"
                              "(2.0,3.4)(3.0,4.3)(4.0,4.8)(5.0,5.0)";

const ModuleLibrary& library() {
    static const ModuleLibrary loaded(ModuleLibrary::besideProgram());
    return loaded;
}

void BM_RenderOneSecond(benchmark::State& state) {
    const AudioBuffer input = steadySine(48000, 48000, 1000.0, 0.5);
    RenderSettings settings;
    settings.moduleId = "Vedivizor Arirezudez3";
    settings.text = pinText(kSoftClip);
    settings.blockSize = 64;
    settings.oversample = static_cast<int>(state.range(0));
    settings.quality = state.range(1) == 0 ? ResamplerQuality::High : ResamplerQuality::VeryHigh;
    AudioBuffer output;
    for (auto _ : state) {
        renderAtRate(library(), settings, input, output);
        benchmark::DoNotOptimize(output.samples.data());
    }
    state.SetLabel(state.range(1) == 0 ? "HQ" : "VHQ");
}

BENCHMARK(BM_RenderOneSecond)
    ->ArgsProduct({{1, 2, 4, 8, 16}, {0, 1}})
    ->ArgNames({"factor", "vhq"})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
