// The whole block loop as a host drives it (processBlock through the raw operation table of the
// curve-points module, 64-sample blocks) with 0, 1 and 8 events per block and asleep; blocks of 0 and
// 1 sample without events, for the fixed cost of a call; and the table rebuild of the curve-points
// module for the default curve text and a dragged one. The formula module's rebuilds are timed beside
// a general-purpose parser in rebuild_bench.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "host/event_list.h"
#include "host/raw_calls.h"
#include "host/stand_in_processing_host.h"
#include "waveshaper/table_layout.h"

namespace {

using namespace mphost;

constexpr int32_t kBlock = 64;
const wchar_t kTableName[] = L"DV waveshaper3 2a curve";

const char kDefaultCurve[] =
    "(-5.0,-5.0)(-4.0,-4.0)(-3.0,-3.0)(-2.0,-2.0)(-1.0,-1.0)(0.0,0.0)(1.0,1.0)(2.0,2.0)"
    "(3.0,3.0)(4.0,4.0)(5.0,5.0)";
// The default after a few points were dragged in the editor (the editor writes one decimal).
const char kDraggedCurve[] =
    "(-5.0,-4.1)(-4.0,-3.9)(-3.0,-3.6)(-2.0,-2.8)(-1.0,-1.7)(0.3,0.2)(1.0,1.7)(2.0,2.8)"
    "(3.2,3.6)(4.0,3.9)(5.0,4.1)";

// One curve-points module with its own host, opened, with 64-sample buffers and a curve.
struct Module {
    explicit Module(bool streaming) : host(pool, 0x2a, kBlock) {
        host.logging = false;
        if (MpFactory::instance()->createInstance(kCurveWaveshaperId, kProcessingModule, &host, &plugin) != 0)
            plugin = nullptr;
        if (plugin == nullptr)
            return;
        raw::plugin::open(plugin);
        std::mt19937 random(1u);
        std::uniform_real_distribution<float> uniform(-0.6f, 0.6f);
        for (float& sample : input)
            sample = uniform(random);
        raw::plugin::assignPinBuffer(plugin, kWaveshaperAudioInPin, input.data());
        raw::plugin::assignPinBuffer(plugin, kWaveshaperAudioOutPin, output.data());
        EventList setup;
        setup.pinValue(0, kWaveshaperTextPin, pinTextFromUtf8(kDraggedCurve));
        if (streaming)
            setup.start(0).streaming(0, kWaveshaperAudioInPin, true);
        raw::plugin::processBlock(plugin, kBlock, setup.head());
    }
    ~Module() {
        if (plugin != nullptr)
            raw::release(plugin);
    }

    SharedMemoryPool pool;
    ProcessingHost host;
    void* plugin = nullptr;
    std::vector<float> input = std::vector<float>(kBlock);
    std::vector<float> output = std::vector<float>(kBlock);
};

// Argument: events per block, each a streaming-on event for the input (which already streams), spread
// evenly over the block so that each cuts it into a further stretch.
void BM_BlockLoop(benchmark::State& state) {
    const int events = static_cast<int>(state.range(0));
    Module module(true);
    if (module.plugin == nullptr) {
        state.SkipWithError("the curve-points module is not registered");
        return;
    }
    EventList list;
    for (int e = 0; e < events; ++e)
        list.streaming(e * kBlock / events + (events == 1 ? kBlock / 2 : 0), 1, true);
    for (auto _ : state) {
        raw::plugin::processBlock(module.plugin, kBlock, list.head());
        benchmark::DoNotOptimize(module.output.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}

// Argument: samples per block, with no events: the fixed cost of one call through the table, the cut
// into stretches and the sleep bookkeeping, beside at most one sample of shaping.
void BM_BlockLoopShort(benchmark::State& state) {
    const auto frames = static_cast<int32_t>(state.range(0));
    Module module(true);
    if (module.plugin == nullptr) {
        state.SkipWithError("the curve-points module is not registered");
        return;
    }
    for (auto _ : state) {
        raw::plugin::processBlock(module.plugin, frames, nullptr);
        benchmark::DoNotOptimize(module.output.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

// No pin streams: every block asks the host for sleep at once and processes nothing (a host that
// honours the request would not call at all).
void BM_BlockLoopSleeping(benchmark::State& state) {
    Module module(false);
    if (module.plugin == nullptr) {
        state.SkipWithError("the curve-points module is not registered");
        return;
    }
    for (auto _ : state) {
        raw::plugin::processBlock(module.plugin, kBlock, nullptr);
        benchmark::ClobberMemory();
    }
    if (module.host.sleepRequests == 0)
        state.SkipWithError("the module never asked for sleep");
    state.SetItemsProcessed(state.iterations() * kBlock);
}

// Argument 0: the default curve text, 1: a dragged one. The text arrives as a pin-value event in a
// block of no samples, so the time is the rebuild and the event handling around it.
void BM_CurveRebuild(benchmark::State& state) {
    SharedMemoryPool pool;
    ProcessingHost host(pool, 0x2a, kBlock);
    host.logging = false;
    void* plugin = nullptr;
    if (MpFactory::instance()->createInstance(kCurveWaveshaperId, kProcessingModule, &host, &plugin) != 0 ||
        plugin == nullptr) {
        state.SkipWithError("the curve-points module is not registered");
        return;
    }
    raw::plugin::open(plugin);
    EventList events;
    events.pinValue(0, kWaveshaperTextPin,
                    pinTextFromUtf8(state.range(0) == 0 ? kDefaultCurve : kDraggedCurve));
    const float* table = static_cast<const float*>(pool.find(kTableName));
    for (auto _ : state) {
        raw::plugin::processBlock(plugin, 0, events.head());
        benchmark::DoNotOptimize(table[kLastTableEntry]);
    }
    raw::release(plugin);
    state.SetLabel(state.range(0) == 0 ? "default" : "dragged");
}

BENCHMARK(BM_BlockLoop)->ArgName("events")->Arg(0)->Arg(1)->Arg(8);
BENCHMARK(BM_BlockLoopShort)->ArgName("frames")->Arg(0)->Arg(1);
BENCHMARK(BM_BlockLoopSleeping);
BENCHMARK(BM_CurveRebuild)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
