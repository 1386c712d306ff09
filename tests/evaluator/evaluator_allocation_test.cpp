// evaluate runs on the audio thread (one table rebuild is 513 calls): it must allocate nothing and
// throw nothing, for failing formulas as much as for good ones. This program replaces the global
// operator new and delete with counting ones (tests/support/alloc_counter.cpp); the C++ runtime takes
// exception objects from malloc, which cannot be replaced portably, so throws are counted separately where
// the toolchain allows.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "evaluator/compiled_formula.h"
#include "evaluator/evaluator.h"
#include "support/alloc_counter.h"
#include "throw_counter.h"
#include "waveshaper/table_layout.h"

namespace {

static_assert(noexcept(std::declval<Evaluator&>().evaluate(nullptr, nullptr, nullptr)),
              "evaluate reports errors by its code only");

struct Formula {
    const char* text;
    int code;
};

std::ostream& operator<<(std::ostream& out, const Formula& f) {
    return out << '"' << f.text << '"';
}

// One formula for every way to fail, and good ones with calls, assignment and deletion. The
// overlong cases are built in the test.
const Formula kFormulas[] = {
    {"tanh(3*x)/tanh(3)*5", kErrorNone},
    {"a=x*2", kErrorNone},
    {"a=", kErrorNone},
    {"max(1,2)+hypot(3,4)", kErrorNone},
    {"x*(x+1", kErrorUnbalancedParentheses},
    {"tanh(", kErrorSyntax},
    {"tanh()", kErrorMissingValue},
    {"tanh", kErrorUnknownVariable},
    {"tan", kErrorUnknownVariable},
    {"t", kErrorUnknownVariable},
    {"1+", kErrorSyntax},
    {"2 $ 3", kErrorSyntax},
    {"1/(x-x)", kErrorDivisionByZero},
    {"sin(1,2)", kErrorWrongArgumentCount},
    {"foo(1)", kErrorUnknownFunction},
    {"  ", kErrorEmptyExpression},
    {"()", kErrorMissingValue},
};

class EvaluateAllocates : public ::testing::TestWithParam<Formula> {};

// A whole table rebuild's worth of calls, counted, with x changing as the module sets it.
TEST_P(EvaluateAllocates, NothingAndThrowsNothing) {
    const Formula& f = GetParam();
    Evaluator evaluator;
    const long throwsBefore = throwcount::thrown();
    int codes = 0;
    alloc::startCounting();
    for (int i = 0; i < kTableEntries; ++i) {
        const double x = i * kVoltsPerEntry + kTableLowVolts;
        evaluator.setVariable("x", &x);
        double result = 0.0;
        int assigned = 0;
        if (evaluator.evaluate(f.text, &result, &assigned) == f.code)
            ++codes;
    }
    const alloc::Counts counts = alloc::stopCounting();
    EXPECT_EQ(counts.allocations, 0);
    EXPECT_EQ(throwcount::thrown() - throwsBefore, 0);
    EXPECT_EQ(codes, kTableEntries);
}

INSTANTIATE_TEST_SUITE_P(Formulas, EvaluateAllocates, ::testing::ValuesIn(kFormulas));

TEST(EvaluateAllocates, NothingForOverlongTextsTokensOrFullRecords) {
    const std::string overlong(600, '1');
    const std::string longToken = "2+" + std::string(40, '1');
    const std::string longName = "2*" + std::string(40, 'q');
    Evaluator evaluator;
    double result = 0.0;
    for (int i = 0; i < Evaluator::kMaxVariables; ++i) {
        const std::string name = "v" + std::to_string(i);
        ASSERT_TRUE(evaluator.setVariable(name.c_str(), &result));
    }
    const long throwsBefore = throwcount::thrown();
    alloc::startCounting();
    const int tooLong = evaluator.evaluate(overlong.c_str(), &result, nullptr);
    const int tokenTooLong = evaluator.evaluate(longToken.c_str(), &result, nullptr);
    const int nameTooLong = evaluator.evaluate(longName.c_str(), &result, nullptr);
    const int full = evaluator.evaluate("w=1", &result, nullptr);
    const alloc::Counts counts = alloc::stopCounting();
    EXPECT_EQ(counts.allocations, 0);
    EXPECT_EQ(throwcount::thrown() - throwsBefore, 0);
    EXPECT_EQ(tooLong, kErrorTooLong);
    EXPECT_EQ(tokenTooLong, kErrorTooLong);
    EXPECT_EQ(nameTooLong, kErrorTooLong);
    EXPECT_EQ(full, kErrorTooManyVariables);
}

// The module's rebuild path: the compiled formula reads each formula and evaluates the 513 positions
// without allocating, in each of its modes (compiled, failing everywhere, handed to an evaluator).
TEST(CompiledFormulaAllocates, NothingToCompileOrEvaluate) {
    std::vector<std::string> formulas;
    for (const Formula& f : kFormulas)
        formulas.emplace_back(f.text);
    std::string cubic = "x";
    while (cubic.size() + 11 <= 496)
        cubic += "+0.01*x*x*x";
    std::string nested = "x";
    for (int i = 0; i < 99; ++i)
        nested = "sin(" + nested + ")";
    std::string records;
    for (int i = 0; i < 60; ++i)
        records += (i > 0 ? "+(v" : "(v") + std::to_string(i) + "=x)";
    formulas.insert(formulas.end(),
                    {cubic, nested, records, std::string(600, '1'), "2+" + std::string(40, '1')});
    auto compiled = std::make_unique<CompiledFormula>();
    double xs[513];
    double values[513];
    for (int i = 0; i < 513; ++i)
        xs[i] = i * 0.01953125 - 5.0;
    int modes[3] = {};
    const long throwsBefore = throwcount::thrown();
    for (const std::string& formula : formulas) {
        alloc::startCounting();
        compiled->compile(formula.c_str());
        compiled->evaluate(xs, 513, values);
        const alloc::Counts counts = alloc::stopCounting();
        EXPECT_EQ(counts.allocations, 0) << formula;
        ++modes[compiled->mode()];
    }
    EXPECT_EQ(throwcount::thrown() - throwsBefore, 0);
    EXPECT_GT(modes[CompiledFormula::kProgram], 0);
    EXPECT_GT(modes[CompiledFormula::kFailsEverywhere], 0);
    EXPECT_GT(modes[CompiledFormula::kPointByPoint], 0);
}

// The counters themselves work: a throw and an allocation made here are seen.
TEST(EvaluateAllocates, CountersSeeAThrowAndAnAllocation) {
    alloc::startCounting();
    // Through a volatile pointer, so an optimising build cannot elide the new/delete pair.
    int* volatile p = new int(1);
    delete p;
    const alloc::Counts counts = alloc::stopCounting();
    EXPECT_EQ(counts.allocations, 1);
    EXPECT_EQ(counts.releases, 1);
    const long throwsBefore = throwcount::thrown();
    if (throwsBefore < 0)
        GTEST_SKIP() << "this toolchain gives no throw count";
    try {
        throw EvaluatorException(kErrorSyntax);
    } catch (const EvaluatorException& error) {
        EXPECT_EQ(error.code(), kErrorSyntax);
    }
    EXPECT_EQ(throwcount::thrown() - throwsBefore, 1);
}

} // namespace
