// The compiled formula against the evaluator on arbitrary bytes: the values at the 513 table
// positions, and at values of x taken from the input, must be the evaluator's (a fresh one given
// each x in turn), bit for bit, and so must the table entries made from them.
//
// Input: the formula's bytes up to the first NUL; the bytes after a NUL, read as doubles, are extra
// values of x (NaN, infinities and signed zeros included).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "evaluator/compiled_formula.h"
#include "support/formula_reference.h"
#include "waveshaper/formula_waveshaper.h"
#include "waveshaper/table_layout.h"

namespace {

constexpr int kPoints = CompiledFormula::kMaxPoints;

void compare(CompiledFormula& compiled, const char* formula, const double* xs, int count) {
    double expected[kPoints];
    double actual[kPoints];
    formularef::referenceValues(formula, xs, count, expected);
    compiled.evaluate(xs, count, actual);
    for (int i = 0; i < count; ++i) {
        const float wanted = formulaTableEntry(expected[i]);
        const float got = formulaTableEntry(actual[i]);
        if (!formularef::sameValue(expected[i], actual[i]) || std::memcmp(&wanted, &got, sizeof(got)) != 0) {
            std::fprintf(
                stderr,
                "compiled formula fuzz: mode %d, point %d, x = %.17g: evaluator %.17g, compiled %.17g\n",
                static_cast<int>(compiled.mode()), i, xs[i], expected[i], actual[i]);
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Both read up to the first NUL: the text in its own allocation, so a read past it is caught.
    const void* nul = std::memchr(data, 0, size);
    const size_t length =
        nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) : size;
    std::unique_ptr<char[]> formula(new char[length + 1]);
    if (length > 0)
        std::memcpy(formula.get(), data, length);
    formula[length] = '\0';

    static CompiledFormula compiled; // kept across inputs, as the module keeps its own
    compiled.compile(formula.get());

    static double grid[kPoints];
    for (int i = 0; i < kPoints; ++i)
        grid[i] = tableInputVolts(i);
    compare(compiled, formula.get(), grid, kPoints);

    if (nul != nullptr) {
        const size_t rest = size - length - 1;
        int count = static_cast<int>(rest / sizeof(double));
        if (count > kPoints)
            count = kPoints;
        if (count > 0) {
            std::unique_ptr<double[]> xs(new double[count]);
            std::memcpy(xs.get(), data + length + 1, static_cast<size_t>(count) * sizeof(double));
            compare(compiled, formula.get(), xs.get(), count);
        }
    }
    return 0;
}
