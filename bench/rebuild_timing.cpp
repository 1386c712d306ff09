// The formula rebuilds timed without Google Benchmark, for the Windows builds run under Wine (no
// Windows build of the framework or of muparser is at hand). Each figure is the least wall-clock
// time of one rebuild over many. Run natively beside it for figures measured the same way.
#include <chrono>
#include <cstdio>

#include "evaluator/compiled_formula.h"
#include "evaluator/evaluator.h"
#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "host/event_list.h"
#include "host/raw_calls.h"
#include "host/stand_in_processing_host.h"
#include "rebuild_formulas.h"

namespace {

using namespace mphost;
using namespace rebuildbench;

volatile double sink;

// Least time of one call in microseconds, over the calls of 0.3 s (at least 5): on a shared machine
// the least is the call that nothing else interrupted.
template <typename F> double leastMicroseconds(F call) {
    using Clock = std::chrono::steady_clock;
    double least = 1e300;
    const Clock::time_point begin = Clock::now();
    for (long calls = 0; calls < 5 || Clock::now() - begin < std::chrono::milliseconds(300); ++calls) {
        const Clock::time_point start = Clock::now();
        call();
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (us < least)
            least = us;
    }
    return least;
}

} // namespace

int main() {
    static CompiledFormula compiled;
    static double xs[kTableEntries];
    static double values[kTableEntries];
    for (int i = 0; i < kTableEntries; ++i)
        xs[i] = positionX(i);
    std::printf("%-14s %12s %12s %12s %12s\n", "formula", "module us", "compiled us", "evaluator us",
                "calls only us");
    for (int f = 0; f < kAll; ++f) {
        const BenchFormula& formula = kFormulas[f];
        SharedMemoryPool pool;
        ProcessingHost host(pool, 0x1b);
        host.logging = false;
        void* module = nullptr;
        if (MpFactory::instance()->createInstance(kFormulaWaveshaperId, kProcessingModule, &host, &module) !=
                0 ||
            module == nullptr) {
            std::fprintf(stderr, "the formula module is not registered\n");
            return 1;
        }
        raw::plugin::open(module);
        EventList events;
        events.pinValue(0, kWaveshaperTextPin, pinTextFromUtf8(formula.text));
        const double moduleTime =
            leastMicroseconds([&] { raw::plugin::processBlock(module, 0, events.head()); });
        raw::release(module);
        const double compiledTime = leastMicroseconds([&] {
            compiled.compile(formula.text.c_str());
            compiled.evaluate(xs, kTableEntries, values);
            sink = values[kTableEntries - 1];
        });
        const double evaluatorTime = leastMicroseconds([&] {
            Evaluator evaluator;
            double sum = 0.0;
            for (int i = 0; i < kTableEntries; ++i) {
                evaluator.setVariable("x", &xs[i]);
                double result = 0.0;
                int assigned = 0;
                evaluator.evaluate(formula.text.c_str(), &result, &assigned);
                sum += result;
            }
            sink = sum;
        });
        const double floorTime = leastMicroseconds([&] { sink = formula.floor(); });
        std::printf("%-14s %12.2f %12.2f %12.2f %12.2f\n", formula.label, moduleTime, compiledTime,
                    evaluatorTime, floorTime);
    }
    return 0;
}
