// What a formula may hold and what can go wrong reading or evaluating it: the limits of the language
// and the codes Evaluator::evaluate returns and the formula parser reports.
#pragma once

#include <cstddef>

namespace formula {

constexpr std::size_t kMaxExpressionLength = 499; // longer expressions give kErrorTooLong
constexpr std::size_t kMaxTokenLength = 31;       // longer numbers or names give kErrorTooLong
constexpr std::size_t kMaxNameLength = 15;        // significant characters of a name

} // namespace formula

// 0 is success.
enum EvaluatorError {
    kErrorNone = 0,
    kErrorSyntax = 1,
    kErrorUnbalancedParentheses = 2,
    kErrorDivisionByZero = 3,
    kErrorUnknownVariable = 4,
    kErrorTooManyVariables = 5,
    kErrorUnknownFunction = 6,
    kErrorWrongArgumentCount = 7,
    kErrorMissingValue = 8,
    kErrorEmptyExpression = 9,
    // The expression is longer than kMaxExpressionLength, or one token longer than kMaxTokenLength.
    kErrorTooLong = 10,
};
