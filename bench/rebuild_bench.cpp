// Cost of one table rebuild of the formula module (513 evaluations of the formula), beside the same
// 513 evaluations done by a general-purpose parser that compiles the formula once.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>

#include "evaluator/evaluator.h"
#include "factory/mp_factory.h"
#include "host/event_list.h"
#include "host/processing_host.h"
#include "host/raw_calls.h"

#if MP_HAVE_MUPARSER
#include <muParser.h>
#endif

namespace {

using namespace mphost;

constexpr int kTableEntries = 513;

const char* const kFormulas[] = {
    "x",
    "tanh(3*x)/tanh(3)*5",
    // A 120-character polynomial, written so that both parsers read it the same way.
    "0.5*x^5-0.25*x^4+0.125*x^3-1.5*x^2+2.75*x+0.03125-0.0625*x^6+0.001*x^7+0.3*x^3*x-0.2*x^2*x^2+1.25*x*x*x-"
    "0.75+0.00751*x^8",
};
const char* const kLabels[] = {"identity", "tanh", "polynomial120", "failing"};
// Fails at every position after reading the whole text (the closing parenthesis is missing): the
// cost of 513 errors, timed for this library only.
const char* const kFailingFormula = "x*(x+1";

const char* formulaAt(int64_t index) {
    return index < 3 ? kFormulas[index] : kFailingFormula;
}

double positionX(int i) {
    return i * 0.01953125 - 5.0;
}

// The whole module: the formula arrives as a pin-0 value event and the rebuild runs in processBlock.
void BM_ModuleRebuild(benchmark::State& state) {
    const char* formula = formulaAt(state.range(0));
    SharedMemoryPool pool;
    ProcessingHost host(pool, 0x1b);
    host.logging = false;
    void* module = nullptr;
    if (MpFactory::instance()->createInstance(L"VU Reridezizi2D", 0, &host, &module) != 0 ||
        module == nullptr) {
        state.SkipWithError("the formula module is not registered");
        return;
    }
    raw::plugin::open(module);
    EventList events;
    events.pinValue(0, 0, pinTextFromUtf8(formula));
    const float* table = static_cast<const float*>(pool.find(L"DV waveshaper3 1b curve"));
    for (auto _ : state) {
        raw::plugin::processBlock(module, 0, events.head());
        benchmark::DoNotOptimize(table[kTableEntries - 1]);
    }
    raw::release(module);
    state.SetLabel(kLabels[state.range(0)]);
}

// The evaluator alone, as a rebuild drives it: a fresh evaluator, then 513 times x and evaluate.
void BM_Evaluator513(benchmark::State& state) {
    const char* formula = formulaAt(state.range(0));
    for (auto _ : state) {
        Evaluator evaluator;
        double sum = 0.0;
        for (int i = 0; i < kTableEntries; ++i) {
            const double x = positionX(i);
            evaluator.setVariable("x", &x);
            double result = 0.0;
            int assigned = 0;
            evaluator.evaluate(formula, &result, &assigned);
            sum += result;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetLabel(kLabels[state.range(0)]);
}

#if MP_HAVE_MUPARSER
// A parser object kept from one rebuild to the next: set the formula (parsed once), evaluate 513 times.
void BM_MuparserParseOnce513(benchmark::State& state) {
    const char* formula = kFormulas[state.range(0)];
    mu::Parser parser;
    double x = 0.0;
    parser.DefineVar("x", &x);
    for (auto _ : state) {
        parser.SetExpr(formula);
        double sum = 0.0;
        for (int i = 0; i < kTableEntries; ++i) {
            x = positionX(i);
            sum += parser.Eval();
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetLabel(kLabels[state.range(0)]);
}

// The same with the parser object built for each rebuild, as the module builds its evaluator.
void BM_MuparserNewParser513(benchmark::State& state) {
    const char* formula = kFormulas[state.range(0)];
    for (auto _ : state) {
        mu::Parser parser;
        double x = 0.0;
        parser.DefineVar("x", &x);
        parser.SetExpr(formula);
        double sum = 0.0;
        for (int i = 0; i < kTableEntries; ++i) {
            x = positionX(i);
            sum += parser.Eval();
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetLabel(kLabels[state.range(0)]);
}

// Both parsers must compute the same curve, or the comparison means nothing.
bool sameResults() {
    bool same = true;
    for (const char* formula : kFormulas) {
        Evaluator evaluator;
        mu::Parser parser;
        double x = 0.0;
        parser.DefineVar("x", &x);
        parser.SetExpr(formula);
        for (int i = 0; i < kTableEntries; ++i) {
            x = positionX(i);
            evaluator.setVariable("x", &x);
            double ours = 0.0;
            int assigned = 0;
            evaluator.evaluate(formula, &ours, &assigned);
            const double theirs = parser.Eval();
            if (std::fabs(ours - theirs) > 1e-9 * (1.0 + std::fabs(theirs))) {
                std::fprintf(stderr, "results differ for %s at x = %g: %.17g vs %.17g\n", formula, x, ours,
                             theirs);
                same = false;
                break;
            }
        }
    }
    return same;
}
#endif

BENCHMARK(BM_ModuleRebuild)->DenseRange(0, 3);
BENCHMARK(BM_Evaluator513)->DenseRange(0, 3);
#if MP_HAVE_MUPARSER
BENCHMARK(BM_MuparserParseOnce513)->DenseRange(0, 2);
BENCHMARK(BM_MuparserNewParser513)->DenseRange(0, 2);
#endif

} // namespace

int main(int argc, char** argv) {
#if MP_HAVE_MUPARSER
    if (!sameResults())
        return 1;
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
