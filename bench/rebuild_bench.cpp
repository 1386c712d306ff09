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

std::string repeated(const char* first, const char* piece, std::size_t length) {
    std::string s = first;
    while (s.size() + std::strlen(piece) <= length)
        s += piece;
    return s;
}

std::string nestedSin(int depth) {
    std::string s = "x";
    for (int i = 0; i < depth; ++i)
        s = "sin(" + s + ")";
    return s;
}

std::string summedTanh(int terms) {
    std::string s = "tanh(x)";
    for (int i = 1; i < terms; ++i)
        s += "+tanh(x)";
    return s;
}

double positionX(int i) {
    return i * 0.01953125 - 5.0;
}

// The library calls a formula cannot avoid at the 513 positions (with the same arguments), and
// nothing else: the floor of any evaluation that keeps the library's bits. Returns a sum so that no
// call is dropped.
using Floor = double (*)();

double floorNone() {
    return 0.0;
}
double floorTanh() {
    double sum = 0.0;
    for (int i = 0; i < kTableEntries; ++i)
        sum += std::tanh(3 * positionX(i));
    return sum;
}
double floorPolynomial120() {
    // x^2 .. x^8, one pow call each per position (x^3 and x^2 appear twice but are computed once)
    double sum = 0.0;
    for (int i = 0; i < kTableEntries; ++i) {
        const double x = positionX(i);
        for (int e = 2; e <= 8; ++e)
            sum += std::pow(x, static_cast<double>(e));
    }
    return sum;
}
double floorNestedSin() {
    // 99 rounds of 513 independent calls, so the processor overlaps them as well as it can.
    double v[kTableEntries];
    for (int i = 0; i < kTableEntries; ++i)
        v[i] = positionX(i);
    for (int d = 0; d < 99; ++d) {
        for (int i = 0; i < kTableEntries; ++i)
            v[i] = std::sin(v[i]);
    }
    double sum = 0.0;
    for (int i = 0; i < kTableEntries; ++i)
        sum += v[i];
    return sum;
}
double floorSummedTanh() {
    double sum = 0.0;
    for (int i = 0; i < kTableEntries; ++i)
        sum += std::tanh(positionX(i));
    return sum;
}
double floorWavefolder() {
    double sum = 0.0;
    for (int i = 0; i < kTableEntries; ++i)
        sum += std::sin(positionX(i) * 3.141592653589793 / 7);
    return sum;
}

struct BenchFormula {
    const char* label;
    std::string text;
    Floor floor;
};

// The formulas both parsers read the same way; the failing one is timed for this library only.
const BenchFormula kFormulas[] = {
    {"identity", "x", &floorNone},
    {"tanh", "tanh(3*x)/tanh(3)*5", &floorTanh},
    {"polynomial120",
     "0.5*x^5-0.25*x^4+0.125*x^3-1.5*x^2+2.75*x+0.03125-0.0625*x^6+0.001*x^7+0.3*x^3*x-0.2*x^2*x^2+1.25*x*x*"
     "x-"
     "0.75+0.00751*x^8",
     &floorPolynomial120},
    {"cubic496", repeated("x", "+0.01*x*x*x", 496), &floorNone},
    {"nestedSin99", nestedSin(99), &floorNestedSin},
    {"tanhSum62", summedTanh(62), &floorSummedTanh},
    {"wavefolder", "5*sin(x*pi/7)", &floorWavefolder},
    // Fails at every position after reading the whole text (the closing parenthesis is missing).
    {"failing", "x*(x+1", &floorNone},
};
constexpr int kComparable = 7; // the formulas before "failing"
constexpr int kAll = 8;

// The whole module: the formula arrives as a pin-0 value event and the rebuild runs in processBlock.
void BM_ModuleRebuild(benchmark::State& state) {
    const BenchFormula& formula = kFormulas[state.range(0)];
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
    events.pinValue(0, 0, pinTextFromUtf8(formula.text));
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

BENCHMARK(BM_ModuleRebuild)->DenseRange(0, kAll - 1);
BENCHMARK(BM_Compiled513)->DenseRange(0, kAll - 1);
BENCHMARK(BM_Evaluator513)->DenseRange(0, kAll - 1);
BENCHMARK(BM_LibraryCallsFloor)->DenseRange(0, kComparable - 1);
#if MP_HAVE_MUPARSER
BENCHMARK(BM_MuparserParseOnce513)->DenseRange(0, kComparable - 1);
BENCHMARK(BM_MuparserNewParser513)->DenseRange(0, kComparable - 1);
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
