// The formula language: precedence, scanner quirks, error codes, variables and input limits.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "evaluator/evaluator.h"
#include "numbers/number_text.h"

namespace {

struct Case {
    const char* expression;
    int code;
    double value;
};

std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << '"' << c.expression << '"';
}

class EvaluatorCases : public ::testing::TestWithParam<Case> {};

TEST_P(EvaluatorCases, OnANewEvaluator) {
    const Case& c = GetParam();
    Evaluator evaluator;
    double result = -99.0;
    int assigned = 42;
    EXPECT_EQ(evaluator.evaluate(c.expression, &result, &assigned), c.code);
    EXPECT_DOUBLE_EQ(result, c.value);
    // None of these is an assignment: the flag is 0 on success and left alone on an error.
    EXPECT_EQ(assigned, c.code == kErrorNone ? 0 : 42);
}

const double kPi = 3.141592653589793;

INSTANTIATE_TEST_SUITE_P(Precedence, EvaluatorCases,
                         ::testing::Values(Case{"2+3*4", 0, 14}, Case{"(2+3)*4", 0, 20}, Case{"10-4-3", 0, 3},
                                           Case{"2*3/4", 0, 1.5}, Case{"-2^2", 0, 4}, Case{"2^-1", 0, 0.5},
                                           Case{"2*-3", 0, -6}, Case{"2--1", 0, 3}, Case{"2^3*2", 0, 16},
                                           Case{"2*2^3", 0, 16}, Case{"3 ^ 2", 0, 9}, Case{"5%3", 0, 2},
                                           Case{"-5%3", 0, -2}, Case{"7%-2", 0, 1}, Case{"  7\t", 0, 7},
                                           Case{"2*(1+1)^2", 0, 8}, Case{"8/2/2", 0, 2}));

// Parsing stops at the first token that cannot continue the expression; the rest is ignored.
INSTANTIATE_TEST_SUITE_P(TrailingText, EvaluatorCases,
                         ::testing::Values(Case{"2^3^2", 0, 8}, Case{"1e3", 0, 1}, Case{"2 3", 0, 2},
                                           Case{"1+2)", 0, 3}, Case{"1 = 2", 0, 1}, Case{"sin(0", 0, 0},
                                           Case{"max(1,2", 0, 2}, Case{"max(1,2]", 1, 0}));

INSTANTIATE_TEST_SUITE_P(
    Numbers, EvaluatorCases,
    ::testing::Values(Case{"1.2.3", 0, 1.2}, Case{".", 0, 0}, Case{".5", 0, 0.5}, Case{"5.", 0, 5},
                      Case{"0.1", 0, 0.1}, Case{"9007199254740993", 0, 9007199254740992.0},
                      Case{"1000000000000000000000000000000", 0, 1e30},
                      Case{"3.14159265358979323846264338327", 0, 3.14159265358979323846264338327},
                      Case{"0.00000000000000000000001", 0, 1e-23}));

INSTANTIATE_TEST_SUITE_P(
    Functions, EvaluatorCases,
    ::testing::Values(Case{"SIN(PI/2)", 0, 1}, Case{"sin (0)", 0, 0}, Case{"cos(0)", 0, 1},
                      Case{"exp(0)", 0, 1}, Case{"log10(1000)", 0, 3}, Case{"sqrt(16)", 0, 4},
                      Case{"floor(-2.5)", 0, -3}, Case{"ceil(-2.5)", 0, -2}, Case{"abs(-2.5)", 0, 2.5},
                      Case{"sgn(0)", 0, 1}, Case{"sgn(-0)", 0, 1}, Case{"sgn(-2)", 0, -1},
                      Case{"sgn(sqrt(-1))", 0, -1}, Case{"min(1,2)", 0, 1}, Case{"max(1,2)", 0, 2},
                      Case{"min(2,1)", 0, 1}, Case{"deg(pi)", 0, 180}, Case{"rad(180)", 0, kPi},
                      Case{"hypot(3,4)", 0, 5}, Case{"hypot(-5,12)", 0, 13}, Case{"e", 0, 2.718281828459045},
                      Case{"tanh(0)", 0, 0}));

INSTANTIATE_TEST_SUITE_P(
    Errors, EvaluatorCases,
    ::testing::Values(Case{"", 9, 0}, Case{" \t ", 9, 0}, Case{"--1", 1, 0}, Case{"1+", 1, 0},
                      Case{"*2", 1, 0}, Case{"2 $ 3", 1, 0}, Case{"1+\xC3\xA9", 1, 0}, Case{"1/0", 3, 0},
                      Case{"5%0", 3, 0}, Case{"1/(0*-1)", 3, 0}, Case{"()", 8, 0}, Case{"(1", 2, 0},
                      Case{"2*(3", 2, 0}, Case{"sin()", 8, 0}, Case{"max(1,)", 8, 0}, Case{"max(,1)", 8, 0},
                      Case{"sin(1,2)", 7, 0}, Case{"max(1)", 7, 0}, Case{"max(1,2,3,4,5)", 7, 0},
                      Case{"foo(1)", 6, 0}, Case{"foo", 4, 0}, Case{"_a", 4, 0}, Case{"x1", 4, 0},
                      Case{"2*foo", 4, 0}, Case{"1\n", 1, 0}, Case{"1\r\n", 1, 0}));

// Domain errors and overflow are results, not errors.
TEST(Evaluator, NonFiniteResultsComeBackWithCodeZero) {
    Evaluator evaluator;
    double result = 0.0;
    EXPECT_EQ(evaluator.evaluate("log(0)", &result, nullptr), kErrorNone);
    EXPECT_EQ(result, -std::numeric_limits<double>::infinity());
    EXPECT_EQ(evaluator.evaluate("sqrt(-1)", &result, nullptr), kErrorNone);
    EXPECT_TRUE(std::isnan(result));
    EXPECT_EQ(evaluator.evaluate("10^400", &result, nullptr), kErrorNone);
    EXPECT_EQ(result, std::numeric_limits<double>::infinity());
    EXPECT_EQ(evaluator.evaluate("0^-1", &result, nullptr), kErrorNone);
    EXPECT_EQ(result, std::numeric_limits<double>::infinity());
}

TEST(Evaluator, HypotDoesNotOverflowInItsSquares) {
    Evaluator evaluator;
    double result = 0.0;
    ASSERT_EQ(evaluator.evaluate("hypot(10^300, 10^300)", &result, nullptr), kErrorNone);
    EXPECT_NEAR(result / 1e300, 1.4142135623730951, 1e-12);
    ASSERT_EQ(evaluator.evaluate("hypot(10^-300, 10^-300)", &result, nullptr), kErrorNone);
    EXPECT_NEAR(result / 1e-300, 1.4142135623730951, 1e-12);
}

TEST(Evaluator, AssignmentDeletionAndConstants) {
    Evaluator evaluator;
    double result = -1.0;
    int assigned = 0;
    EXPECT_EQ(evaluator.evaluate("a=5", &result, &assigned), kErrorNone);
    EXPECT_EQ(result, 5.0);
    EXPECT_EQ(assigned, 1);
    EXPECT_EQ(evaluator.evaluate("a*2", &result, &assigned), kErrorNone);
    EXPECT_EQ(result, 10.0);
    EXPECT_EQ(assigned, 0);
    EXPECT_EQ(evaluator.evaluate("a=", &result, &assigned), kErrorNone);
    EXPECT_EQ(result, 0.0);
    EXPECT_EQ(assigned, 1);
    EXPECT_EQ(evaluator.evaluate("a", &result, &assigned), kErrorUnknownVariable);

    // A variable hides the constant of its name until it is deleted.
    EXPECT_EQ(evaluator.evaluate("PI=3", &result, &assigned), kErrorNone);
    EXPECT_EQ(evaluator.evaluate("pi", &result, &assigned), kErrorNone);
    EXPECT_EQ(result, 3.0);
    EXPECT_EQ(evaluator.evaluate("pi=", &result, &assigned), kErrorNone);
    EXPECT_EQ(evaluator.evaluate("pi", &result, &assigned), kErrorNone);
    EXPECT_EQ(result, kPi);
    EXPECT_FALSE(evaluator.deleteVariable("pi"));

    // An assignment inside parentheses does not make the whole expression one.
    EXPECT_EQ(evaluator.evaluate("(c=3)+c", &result, &assigned), kErrorNone);
    EXPECT_EQ(result, 6.0);
    EXPECT_EQ(assigned, 0);
}

TEST(Evaluator, ChainedAssignmentTakesTheSecondNameAndIgnoresTheRest) {
    Evaluator evaluator;
    double result = -1.0;
    int assigned = 0;
    EXPECT_EQ(evaluator.evaluate("a = b = 3", &result, &assigned), kErrorUnknownVariable);
    EXPECT_EQ(result, 0.0);
    EXPECT_EQ(assigned, 0);
    const double two = 2.0;
    ASSERT_TRUE(evaluator.setVariable("b", &two));
    EXPECT_EQ(evaluator.evaluate("a = b = 3", &result, &assigned), kErrorNone);
    EXPECT_EQ(result, 2.0);
    EXPECT_EQ(assigned, 1);
    double value = 0.0;
    ASSERT_TRUE(evaluator.getVariable("a", &value));
    EXPECT_EQ(value, 2.0);
    ASSERT_TRUE(evaluator.getVariable("b", &value));
    EXPECT_EQ(value, 2.0);
}

TEST(Evaluator, AssignmentsBeforeAnErrorStay) {
    Evaluator evaluator;
    double result = -1.0;
    EXPECT_EQ(evaluator.evaluate("max(a=2, 1/0)", &result, nullptr), kErrorDivisionByZero);
    EXPECT_EQ(result, 0.0);
    double value = 0.0;
    ASSERT_TRUE(evaluator.getVariable("a", &value));
    EXPECT_EQ(value, 2.0);
}

TEST(Evaluator, FiftyVariablesAtMost) {
    Evaluator evaluator;
    double result = 0.0;
    for (int i = 0; i < Evaluator::kMaxVariables; ++i) {
        const std::string expression = "v" + std::to_string(i) + "=" + std::to_string(i);
        ASSERT_EQ(evaluator.evaluate(expression.c_str(), &result, nullptr), kErrorNone) << expression;
    }
    EXPECT_EQ(evaluator.evaluate("w=1", &result, nullptr), kErrorTooManyVariables);
    EXPECT_EQ(result, 0.0);
    const double one = 1.0;
    EXPECT_FALSE(evaluator.setVariable("w", &one));
    double value = -1.0;
    EXPECT_FALSE(evaluator.getVariable("w", &value));
    EXPECT_EQ(value, -1.0); // nothing written
    // Existing names can still change, and a deletion frees a record.
    EXPECT_EQ(evaluator.evaluate("v3=7", &result, nullptr), kErrorNone);
    EXPECT_EQ(evaluator.evaluate("v3", &result, nullptr), kErrorNone);
    EXPECT_EQ(result, 7.0);
    EXPECT_EQ(evaluator.evaluate("v0=", &result, nullptr), kErrorNone);
    EXPECT_EQ(evaluator.evaluate("w=1", &result, nullptr), kErrorNone);
    EXPECT_EQ(evaluator.evaluate("w+v49", &result, nullptr), kErrorNone);
    EXPECT_EQ(result, 50.0);
}

TEST(Evaluator, NamesAreCutToFifteenCharacters) {
    Evaluator evaluator;
    double result = 0.0;
    ASSERT_EQ(evaluator.evaluate("abcdefghijklmnopqrst=4", &result, nullptr), kErrorNone);
    EXPECT_EQ(evaluator.evaluate("abcdefghijklmno", &result, nullptr), kErrorNone);
    EXPECT_EQ(result, 4.0);
    EXPECT_EQ(evaluator.evaluate("ABCDEFGHIJKLMNOzz*2", &result, nullptr), kErrorNone);
    EXPECT_EQ(result, 8.0);
    EXPECT_EQ(evaluator.evaluate("abcdefghijklmn", &result, nullptr), kErrorUnknownVariable);
}

TEST(Evaluator, OverlongExpressionsAndTokensAreRefused) {
    Evaluator evaluator;
    double result = -1.0;
    int assigned = 7;

    std::string sum = "1";
    while (sum.size() < 499)
        sum += "+1";
    ASSERT_EQ(sum.size(), 499u);
    EXPECT_EQ(evaluator.evaluate(sum.c_str(), &result, &assigned), kErrorNone);
    EXPECT_EQ(result, 250.0);
    EXPECT_EQ(evaluator.evaluate((sum + " ").c_str(), &result, &assigned), kErrorTooLong);
    EXPECT_EQ(result, 0.0);
    EXPECT_EQ(assigned, 0);

    // Nothing of an overlong expression is run, not even its leading assignment.
    std::string assignment = "a=1" + std::string(497, ' ');
    EXPECT_EQ(evaluator.evaluate(assignment.c_str(), &result, &assigned), kErrorTooLong);
    double value = 0.0;
    EXPECT_FALSE(evaluator.getVariable("a", &value));
    EXPECT_EQ(evaluator.evaluate(std::string(100000, '1').c_str(), &result, &assigned), kErrorTooLong);

    const std::string digits31 = "1" + std::string(30, '0');
    EXPECT_EQ(evaluator.evaluate(digits31.c_str(), &result, &assigned), kErrorNone);
    EXPECT_EQ(result, 1e30);
    EXPECT_EQ(evaluator.evaluate((digits31 + "0").c_str(), &result, &assigned), kErrorTooLong);
    EXPECT_EQ(result, 0.0);
    EXPECT_EQ(evaluator.evaluate(("2+" + std::string(31, '.') + "5").c_str(), &result, &assigned),
              kErrorTooLong);

    const std::string letters31 = "abcdefghijklmnopqrstuvwxyzabcde";
    ASSERT_EQ(letters31.size(), 31u);
    EXPECT_EQ(evaluator.evaluate((letters31 + "=3").c_str(), &result, &assigned), kErrorNone);
    EXPECT_EQ(result, 3.0);
    EXPECT_EQ(evaluator.evaluate((letters31 + "f=3").c_str(), &result, &assigned), kErrorTooLong);
    EXPECT_EQ(result, 0.0);
}

// The parse recurses per parenthesis and per call; the length limit bounds the depth.
TEST(Evaluator, DeepestNestingThatFits) {
    Evaluator evaluator;
    double result = 0.0;
    const std::string parentheses = std::string(249, '(') + "1" + std::string(249, ')');
    EXPECT_EQ(evaluator.evaluate(parentheses.c_str(), &result, nullptr), kErrorNone);
    EXPECT_EQ(result, 1.0);
    std::string calls;
    for (int i = 0; i < 124; ++i)
        calls += "abs(";
    calls += "-2";
    EXPECT_EQ(evaluator.evaluate(calls.c_str(), &result, nullptr), kErrorNone); // closing ")" not needed
    EXPECT_EQ(result, 2.0);
}

// Each evaluator keeps its own error: two failing on two threads at once do not mix their codes.
TEST(Evaluator, TwoThreadsKeepTheirOwnErrorCodes) {
    constexpr int kRounds = 20000;
    auto run = [](const char* expression, int expected, int* mismatches) {
        Evaluator evaluator;
        const double zero = 0.0;
        evaluator.setVariable("x", &zero);
        double result = 0.0;
        for (int i = 0; i < kRounds; ++i) {
            if (evaluator.evaluate(expression, &result, nullptr) != expected)
                ++*mismatches;
        }
    };
    int mismatchesA = 0;
    int mismatchesB = 0;
    std::thread a(run, "1/x", int(kErrorDivisionByZero), &mismatchesA);
    std::thread b(run, "2*unknown", int(kErrorUnknownVariable), &mismatchesB);
    a.join();
    b.join();
    EXPECT_EQ(mismatchesA, 0);
    EXPECT_EQ(mismatchesB, 0);
}

// Number tokens always use "." whatever decimal point the process locale has.
TEST(Evaluator, NumbersIgnoreTheLocaleDecimalComma) {
    const char* candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE",       "fr_FR.UTF-8", "fr_FR.utf8",
                                "German",      "French",     "nl_NL.UTF-8", "ru_RU.UTF-8"};
    bool found = false;
    for (const char* name : candidates) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr && std::localeconv()->decimal_point[0] == ',') {
            found = true;
            break;
        }
    }
    if (!found) {
        std::setlocale(LC_NUMERIC, "C");
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    Evaluator evaluator;
    double result = 0.0;
    const int code1 = evaluator.evaluate("1.5+0.25", &result, nullptr);
    const double sum = result;
    const int code2 = evaluator.evaluate("0.1", &result, nullptr);
    const double tenth = result;
    const int code3 = evaluator.evaluate("1.2.3", &result, nullptr);
    const double cut = result;
    const int code4 = evaluator.evaluate("3.14159265358979323846264338327", &result, nullptr);
    const double longPi = result;
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(code1, kErrorNone);
    EXPECT_EQ(sum, 1.75);
    EXPECT_EQ(code2, kErrorNone);
    EXPECT_EQ(tenth, 0.1);
    EXPECT_EQ(code3, kErrorNone);
    EXPECT_EQ(cut, 1.2);
    EXPECT_EQ(code4, kErrorNone);
    EXPECT_EQ(longPi, 3.14159265358979323846264338327);
}

// A number token is digits and dots; the evaluator reads it as the exact reader reads the same text:
// up to the second dot, a lone dot as 0, correctly rounded however many digits. Its own fast path
// must agree bit for bit, so tokens of every length up to the limit and of several digit mixes are
// compared, among them decimal halfway points between neighbouring doubles.
TEST(Evaluator, NumberTokensReadAsTheExactReaderReadsThem) {
    std::vector<std::string> tokens = {".",
                                       "..",
                                       "0",
                                       "0.",
                                       ".0",
                                       "1.2.3",
                                       "5..",
                                       "..5",
                                       "0000000000000000000000000000001",
                                       "9007199254740993",
                                       "9007199254740995",
                                       "18014398509481986",
                                       "9007199254740993.0",
                                       "0.9007199254740993",
                                       "123456789012345678901234567890.",
                                       ".000000000000000000000000000001",
                                       "1.0000000000000001110223024625"};
    std::mt19937_64 random(2026);
    const char digits[] = "0123456789";
    for (int t = 0; t < 100000; ++t) {
        const int length = 1 + static_cast<int>(random() % Evaluator::kMaxTokenLength);
        const int shape = static_cast<int>(random() % 4);
        const int point = static_cast<int>(random() % static_cast<unsigned>(length));
        std::string token;
        for (int i = 0; i < length; ++i) {
            if (shape == 0) // dots anywhere, often several
                token += random() % 11 == 0 ? '.' : digits[random() % 10];
            else if (shape == 1) // one dot
                token += i == point ? '.' : digits[random() % 10];
            else if (shape == 2) // runs of nines and zeros, which sit next to rounding boundaries
                token += i == point ? '.' : "09"[random() % 2];
            else // no dot: integers
                token += digits[random() % 10];
        }
        tokens.push_back(token);
    }
    for (const std::string& token : tokens) {
        Evaluator evaluator;
        double result = -1.0;
        int assigned = 0;
        ASSERT_EQ(evaluator.evaluate(token.c_str(), &result, &assigned), 0) << token;
        const std::u16string wide(token.begin(), token.end());
        const double exact = readNumber(wide.data(), wide.data() + wide.size());
        ASSERT_EQ(std::memcmp(&result, &exact, sizeof(double)), 0)
            << token << ": " << result << " against " << exact;
    }
}

} // namespace
