// A small recursive-descent evaluator for the formula language: numbers, variables, the constants
// pi and e, a fixed set of functions, + - * / % ^, parentheses, unary signs and assignment. It
// evaluates while it parses; nothing survives between calls but the variables.
#pragma once

#include <cstddef>

// Codes returned by Evaluator::evaluate; 0 is success.
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

// Raised inside the parser and caught by evaluate. It carries its own code, so evaluators running on
// different threads never see each other's errors.
class EvaluatorException {
public:
    explicit EvaluatorException(EvaluatorError code) : errorCode(code) {}
    EvaluatorError code() const { return errorCode; }

private:
    EvaluatorError errorCode;
};

class Evaluator {
public:
    static constexpr int kMaxVariables = 50;
    static constexpr std::size_t kMaxNameLength = 15;        // significant characters of a name
    static constexpr std::size_t kMaxExpressionLength = 499; // longer expressions give kErrorTooLong
    static constexpr std::size_t kMaxTokenLength = 31;       // longer numbers or names give kErrorTooLong

    Evaluator();
    virtual ~Evaluator() = default;

    // Evaluates a NUL-terminated expression. On success stores the value, sets *assigned to 1 when
    // the expression is an assignment or a deletion ("name = ...") and to 0 otherwise, and returns
    // kErrorNone. On an error stores 0.0, leaves *assigned alone and returns the code; assignments
    // made before the error stay. Text after the first token that cannot continue the expression is
    // ignored. Works in fixed buffers; only an error's exception object comes from the C++ runtime.
    int evaluate(const char* expression, double* result, int* assigned);

    // Stores a variable (the name lowered and cut to 15 characters). False when the name is new and
    // all 50 records are taken.
    bool setVariable(const char* name, const double* value);
    // Reads a variable or, failing that, a constant of that name; false (nothing written) if none.
    bool getVariable(const char* name, double* value) const;
    // Empties the first variable of that name; false if there is none. Constants stay.
    bool deleteVariable(const char* name);

private:
    enum TokenType { kTokenNone = 0, kTokenIdentifier = 1, kTokenDelimiter = 2, kTokenNumber = 3 };

    struct Variable {
        char name[kMaxNameLength + 1];
        double value;
    };

    // getVariable for a name that is already lowered and cut to kMaxNameLength.
    bool findValue(const char* key, double* value) const;

    int parseAssignment(double* value);
    void parseSum(double* value);
    void parseProduct(double* value);
    void parsePower(double* value);
    void parsePrimary(double* value);
    void nextToken();

    bool isDelimiter(char c) const { return tokenType == kTokenDelimiter && token[0] == c; }
    // Reads past an optional + or -; true when it was -.
    bool takeSign();

    Variable vars[kMaxVariables];
    const char* pos = nullptr;
    char token[kMaxTokenLength + 1];
    TokenType tokenType = kTokenNone;
};
