// Cost of one table rebuild of the formula module (the formula at 513 positions): through the module,
// the compiled formula alone and the plain evaluator, beside a general-purpose parser that compiles
// the formula once, and beside the bare library calls each formula needs.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "evaluator/compiled_formula.h"
#include "evaluator/evaluator.h"
#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "host/event_list.h"
#include "host/raw_calls.h"
#include "host/stand_in_processing_host.h"
#include "rebuild_formulas.h"

#if MP_HAVE_MUPARSER
#include <muParser.h>
#endif

namespace {

using namespace mphost;
using namespace rebuildbench;

// The whole module: the formula arrives as a pin-0 value event and the rebuild runs in processBlock.
void BM_ModuleRebuild(benchmark::State& state) {
    const BenchFormula& formula = kFormulas[state.range(0)];
    SharedMemoryPool pool;
    ProcessingHost host(pool, 0x1b);
    host.logging = false;
    void* module = nullptr;
    if (MpFactory::instance()->createInstance(kFormulaWaveshaperId, kProcessingModule, &host, &module) != 0 ||
        module == nullptr) {
        state.SkipWithError("the formula module is not registered");
        return;
    }
    raw::plugin::open(module);
    EventList events;
    events.pinValue(0, kWaveshaperTextPin, pinTextFromUtf8(formula.text));
    const float* table = static_cast<const float*>(pool.find(L"DV waveshaper3 1b curve"));
    for (auto _ : state) {
        raw::plugin::processBlock(module, 0, events.head());
        benchmark::DoNotOptimize(table[kTableEntries - 1]);
    }
    raw::release(module);
    state.SetLabel(formula.label);
}

// The compiled formula alone: compile the text, evaluate the 513 positions.
void BM_Compiled513(benchmark::State& state) {
    const BenchFormula& formula = kFormulas[state.range(0)];
    static CompiledFormula compiled; // tens of kilobytes: kept off the stack
    double xs[kTableEntries];
    double values[kTableEntries];
    for (int i = 0; i < kTableEntries; ++i)
        xs[i] = positionX(i);
    for (auto _ : state) {
        compiled.compile(formula.text.c_str());
        compiled.evaluate(xs, kTableEntries, values);
        benchmark::DoNotOptimize(values[kTableEntries - 1]);
    }
    state.SetLabel(formula.label);
}

// The evaluator alone, as a rebuild drove it before the compiled form: a fresh evaluator, then 513
// times x and evaluate.
void BM_Evaluator513(benchmark::State& state) {
    const BenchFormula& formula = kFormulas[state.range(0)];
    for (auto _ : state) {
        Evaluator evaluator;
        double sum = 0.0;
        for (int i = 0; i < kTableEntries; ++i) {
            const double x = positionX(i);
            evaluator.setVariable("x", &x);
            double result = 0.0;
            int assigned = 0;
            evaluator.evaluate(formula.text.c_str(), &result, &assigned);
            sum += result;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetLabel(formula.label);
}

// Only the library calls the formula needs (see Floor).
void BM_LibraryCallsFloor(benchmark::State& state) {
    const BenchFormula& formula = kFormulas[state.range(0)];
    for (auto _ : state)
        benchmark::DoNotOptimize(formula.floor());
    state.SetLabel(formula.label);
}

#if MP_HAVE_MUPARSER
// Its own constants are _pi and _e: the formulas' names are added.
void defineConstants(mu::Parser& parser) {
    parser.DefineConst("pi", 3.141592653589793);
    parser.DefineConst("e", 2.718281828459045);
}

// A parser object kept from one rebuild to the next: set the formula (parsed once), evaluate 513 times.
void BM_MuparserParseOnce513(benchmark::State& state) {
    const BenchFormula& formula = kFormulas[state.range(0)];
    mu::Parser parser;
    double x = 0.0;
    parser.DefineVar("x", &x);
    defineConstants(parser);
    for (auto _ : state) {
        parser.SetExpr(formula.text);
        double sum = 0.0;
        for (int i = 0; i < kTableEntries; ++i) {
            x = positionX(i);
            sum += parser.Eval();
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetLabel(formula.label);
}

// The same with the parser object built for each rebuild, as the module builds its evaluator.
void BM_MuparserNewParser513(benchmark::State& state) {
    const BenchFormula& formula = kFormulas[state.range(0)];
    for (auto _ : state) {
        mu::Parser parser;
        double x = 0.0;
        parser.DefineVar("x", &x);
        defineConstants(parser);
        parser.SetExpr(formula.text);
        double sum = 0.0;
        for (int i = 0; i < kTableEntries; ++i) {
            x = positionX(i);
            sum += parser.Eval();
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetLabel(formula.label);
}

// Both parsers must compute the same curve, or the comparison means nothing.
bool sameResults() {
    bool same = true;
    for (int f = 0; f < kComparable; ++f) {
        const char* formula = kFormulas[f].text.c_str();
        Evaluator evaluator;
        mu::Parser parser;
        double x = 0.0;
        parser.DefineVar("x", &x);
        defineConstants(parser);
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

// Formula by formula, so that the figures compared with each other are measured close together in
// time: on a shared machine the load drifts over a run.
void registerBenchmarks() {
    for (int f = 0; f < kAll; ++f) {
        benchmark::RegisterBenchmark("BM_ModuleRebuild", BM_ModuleRebuild)->Arg(f);
        benchmark::RegisterBenchmark("BM_Compiled513", BM_Compiled513)->Arg(f);
        benchmark::RegisterBenchmark("BM_Evaluator513", BM_Evaluator513)->Arg(f);
        if (f >= kComparable)
            continue;
        benchmark::RegisterBenchmark("BM_LibraryCallsFloor", BM_LibraryCallsFloor)->Arg(f);
#if MP_HAVE_MUPARSER
        benchmark::RegisterBenchmark("BM_MuparserParseOnce513", BM_MuparserParseOnce513)->Arg(f);
        benchmark::RegisterBenchmark("BM_MuparserNewParser513", BM_MuparserNewParser513)->Arg(f);
#endif
    }
}

} // namespace

int main(int argc, char** argv) {
#if MP_HAVE_MUPARSER
    if (!sameResults())
        return 1;
#endif
    registerBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
