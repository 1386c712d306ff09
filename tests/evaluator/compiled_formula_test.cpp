// The compiled formula against the evaluator it stands in for: for each formula, the 513 values of a
// table rebuild (and the table entries made from them) must be those of a fresh Evaluator given each
// x in turn, bit for bit.
//
// The generated run takes FORMULA_DIFF_COUNT formulas (default 2000) from seed FORMULA_DIFF_SEED
// (default 1); e.g. FORMULA_DIFF_COUNT=3000000 for a long run in a Release build.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "evaluator/compiled_formula.h"
#include "evaluator/formula_generator.h"
#include "support/formula_reference.h"
#include "waveshaper/formula_waveshaper.h"
#include "waveshaper/table_layout.h"

namespace {

constexpr int kPoints = CompiledFormula::kMaxPoints;

struct Grid {
    double x[kPoints];
    Grid() {
        for (int i = 0; i < kPoints; ++i)
            x[i] = i * kVoltsPerEntry + kTableLowVolts;
    }
};
const Grid kGrid;

long long environmentNumber(const char* name, long long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoll(text) : fallback;
}

// Empty when both paths agree at every point; otherwise where and how they differ.
std::string difference(CompiledFormula& compiled, const std::string& formula, const double* xs, int count) {
    double expected[kPoints];
    double actual[kPoints];
    formularef::referenceValues(formula.c_str(), xs, count, expected);
    compiled.compile(formula.c_str());
    for (int i = 0; i < count; ++i)
        actual[i] = 1234.5; // neither path writes this where it works
    compiled.evaluate(xs, count, actual);
    for (int i = 0; i < count; ++i) {
        const float wanted = formulaTableEntry(expected[i]);
        const float got = formulaTableEntry(actual[i]);
        if (!formularef::sameValue(expected[i], actual[i]) || std::memcmp(&wanted, &got, sizeof(got)) != 0) {
            char line[256];
            std::snprintf(line, sizeof(line),
                          "point %d (x = %.17g, mode %d): evaluator %.17g, compiled %.17g", i, xs[i],
                          static_cast<int>(compiled.mode()), expected[i], actual[i]);
            return line;
        }
    }
    return {};
}

struct NamedFormula {
    const char* what;
    const char* text;
    CompiledFormula::Mode mode;
};

using M = CompiledFormula;

// Each row is a corner of the language where a compiled form could go wrong; the mode column makes
// sure the fast path is really the one compared where it should be.
const NamedFormula kCorners[] = {
    {"identity", "x", M::kProgram},
    {"folded constant inside", "tanh(3*x)/tanh(3)*5", M::kProgram},
    {"not reassociated", "5*sin(x*pi/7)", M::kProgram},
    {"constant result", "2*pi+e", M::kProgram},
    {"repeated subexpression", "tanh(x)+tanh(x)+tanh(X)", M::kProgram},
    {"sign binds tighter than ^", "-x^2", M::kProgram},
    {"one ^ only, the rest ignored", "2^x^2", M::kProgram},
    {"negative exponent", "x^-2", M::kProgram},
    {"^ with signed base and exponent", "-2^-x", M::kProgram},
    {"zero divisor at the middle point", "1/x", M::kProgram},
    {"remainder with a zero divisor", "x%floor(x)", M::kProgram},
    {"NaN divisor divides", "x/sqrt(x)", M::kProgram},
    {"NaN divisor of %", "x%log(x)", M::kProgram},
    {"zero divisor from a product", "1/(x*0)", M::kProgram},
    {"error at some points, then more work", "1/x+sin(x)/floor(x)", M::kProgram},
    {"negative zero kept", "-0*x", M::kProgram},
    {"negative zero constant", "-0+0*x-0", M::kProgram},
    {"min and max with NaN first", "min(sqrt(x),1)+max(sqrt(x),1)", M::kProgram},
    {"min and max with NaN second", "min(1,sqrt(x))+max(1,sqrt(x))", M::kProgram},
    {"min of signed zeros", "min(-0,0)+max(0,-0)*x", M::kProgram},
    {"sgn of NaN and zeros", "sgn(log(x))+sgn(-0)+sgn(x*0)", M::kProgram},
    {"every function", "sin(x)+cos(x)+tan(x)+asin(x/5)+acos(x/5)+atan(x)+sinh(x)+cosh(x)+tanh(x)+exp(x)",
     M::kProgram},
    {"every function, the rest", "log(x)+log10(x)+sqrt(x)+floor(x)+ceil(x)+abs(x)+hypot(x,3)+deg(x)+rad(x)",
     M::kProgram},
    {"pow and fmod by the library", "x^0.5+(-8)^(1/3)+x%0.3", M::kProgram},
    {"pow of constants and x", "2^x+x^2+x^x", M::kProgram},
    {"overflow to infinity", "exp(x*200)-exp(x*200)", M::kProgram},
    {"number with two dots", "1.2.3*x", M::kProgram},
    {"lone dot is zero", ".+x", M::kProgram},
    {"long number through strtod", "0.30000000000000004*x+12345678901234567890", M::kProgram},
    {"upper case", "TANH(X)*PI+E", M::kProgram},
    {"name cut to 15 characters is unknown", "xabcdefghijklmnopq", M::kFailsEverywhere},
    {"31-character number", "x+0000000000000000000000000000001", M::kProgram},
    {"32-character number", "x+00000000000000000000000000000001", M::kFailsEverywhere},
    {"32-character name", "x+abcdefghijklmnopqrstuvwxyzabcdef", M::kFailsEverywhere},
    {"junk after the formula", "x*2)(a=1", M::kProgram},
    {"second = ends the formula", "x+1=3", M::kProgram},
    {"unknown character after the formula", "x$", M::kFailsEverywhere},
    {"non-ASCII after the formula", "x)\xc3\xa9", M::kProgram},
    {"unknown character inside", "x+$", M::kFailsEverywhere},
    {"closing token not examined", "sin(x 3", M::kProgram},
    {"four arguments read, then the count", "min(1,2,3,4)", M::kFailsEverywhere},
    {"five arguments", "min(x,1,2,3,4)", M::kFailsEverywhere},
    {"missing argument", "sin()", M::kFailsEverywhere},
    {"unknown function", "sinc(x)", M::kFailsEverywhere},
    {"unbalanced", "(x+1", M::kFailsEverywhere},
    {"empty", " \t", M::kFailsEverywhere},
    {"constant zero divisor", "x/(1-1)", M::kFailsEverywhere},
    {"constant zero divisor after a point error", "1/x+x/0", M::kFailsEverywhere},
    {"unknown variable", "x+y", M::kFailsEverywhere},
    {"double sign", "--x", M::kFailsEverywhere},
    {"assignment", "a=x*2", M::kPointByPoint},
    {"variable read before any assignment", "a+(a=x)", M::kFailsEverywhere},
    {"constant first, then the variable", "e+(e=x)", M::kPointByPoint},
    {"constant hidden by a variable", "(pi=x)+pi", M::kPointByPoint},
    {"x deleted", "x=", M::kPointByPoint},
    {"x deleted inside", "(x=)+1", M::kPointByPoint},
    {"assignment after a point error", "1/x+(a=1)+a", M::kPointByPoint},
    {"running sum", "e=e+0.01953125", M::kPointByPoint},
};

class CompiledCorner : public ::testing::TestWithParam<NamedFormula> {};

TEST_P(CompiledCorner, MatchesTheEvaluatorBitForBit) {
    const NamedFormula& c = GetParam();
    CompiledFormula compiled;
    EXPECT_EQ(difference(compiled, c.text, kGrid.x, kPoints), "");
    EXPECT_EQ(compiled.mode(), c.mode);
    // Odd values of x and fewer points than a table: NaN, infinities, signed zeros.
    const double inf = std::numeric_limits<double>::infinity();
    const double odd[] = {std::nan(""), -0.0, 0.0, inf, -inf, 1e308, -1e-310, 3.0, -3.0, 0.5};
    EXPECT_EQ(difference(compiled, c.text, odd, 10), "");
}

INSTANTIATE_TEST_SUITE_P(Corners, CompiledCorner, ::testing::ValuesIn(kCorners),
                         [](const ::testing::TestParamInfo<NamedFormula>& info) {
                             std::string name;
                             for (const char* p = info.param.what; *p != '\0'; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

// The length limit and the number of records, which only texts near the limits reach.
TEST(CompiledFormula, LimitsMatchTheEvaluator) {
    CompiledFormula compiled;
    std::string fits = "x";
    while (fits.size() + 11 <= 496)
        fits += "+0.01*x*x*x";
    EXPECT_EQ(difference(compiled, fits, kGrid.x, kPoints), "");
    EXPECT_EQ(compiled.mode(), M::kProgram);
    EXPECT_EQ(difference(compiled, fits + std::string(499 - fits.size(), ' '), kGrid.x, kPoints), "");
    EXPECT_EQ(compiled.mode(), M::kProgram);
    EXPECT_EQ(difference(compiled, fits + std::string(500 - fits.size(), ' '), kGrid.x, kPoints), "");
    EXPECT_EQ(compiled.mode(), M::kFailsEverywhere);

    std::string nested = "x";
    for (int i = 0; i < 99; ++i)
        nested = "sin(" + nested + ")";
    EXPECT_EQ(difference(compiled, nested, kGrid.x, kPoints), "");
    EXPECT_EQ(compiled.instructionCount(), 99); // one per sin: x is read in place

    // The deepest nesting the length allows keeps many values waiting at once.
    std::string deep = "x";
    while (deep.size() + 4 <= 499)
        deep = "x*(" + deep + ")";
    EXPECT_EQ(difference(compiled, deep, kGrid.x, kPoints), "");
    EXPECT_EQ(compiled.mode(), M::kProgram);

    std::string records;
    for (int i = 0; i < 60; ++i)
        records += (i > 0 ? "+(v" : "(v") + std::to_string(i) + "=x)";
    EXPECT_EQ(difference(compiled, records, kGrid.x, kPoints), "");
    EXPECT_EQ(compiled.mode(), M::kPointByPoint);
}

TEST(CompiledFormula, GeneratedFormulasMatchTheEvaluator) {
    const long long count = environmentNumber("FORMULA_DIFF_COUNT", 2000);
    const long long seed = environmentNumber("FORMULA_DIFF_SEED", 1);
    formulagen::Generator generator(static_cast<std::uint64_t>(seed));
    std::mt19937_64 rng(static_cast<std::uint64_t>(seed) * 7919u);
    CompiledFormula compiled;
    long long modes[3] = {};
    long long failures = 0;
    for (long long n = 0; n < count; ++n) {
        const std::string formula = generator.next();
        std::string found = difference(compiled, formula, kGrid.x, kPoints);
        ++modes[compiled.mode()];
        if (found.empty() && n % 8 == 0) {
            // Also at random values of x (and some special ones), fewer than a table.
            double xs[64];
            const int points = 1 + static_cast<int>(rng() % 64);
            for (int i = 0; i < points; ++i) {
                const std::uint64_t r = rng();
                double v;
                switch (r % 8) {
                case 0:
                    std::memcpy(&v, &r, sizeof(v)); // any bit pattern
                    break;
                case 1:
                    v = (r & 256) ? 0.0 : -0.0;
                    break;
                default:
                    v = static_cast<double>(static_cast<std::int64_t>(r >> 11) % 2000) / 97.0 - 10.0;
                }
                xs[i] = v;
            }
            found = difference(compiled, formula, xs, points);
        }
        if (!found.empty()) {
            ADD_FAILURE() << "formula #" << n << " \"" << formula << "\": " << found;
            if (++failures == 10)
                break;
        }
    }
    std::printf("%lld formulas: %lld compiled, %lld failing everywhere, %lld point by point\n", count,
                modes[M::kProgram], modes[M::kFailsEverywhere], modes[M::kPointByPoint]);
    // Each path gets a fair share of the formulas, or the comparison proves little.
    EXPECT_GT(modes[M::kProgram], count / 4);
    EXPECT_GT(modes[M::kFailsEverywhere], count / 20);
    EXPECT_GT(modes[M::kPointByPoint], count / 20);
}

} // namespace
