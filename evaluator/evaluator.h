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

// evaluate itself never throws: errors travel back through the parser as return values and come out as
// the returned code, so a failing formula costs no exception object and no heap allocation. The
// exception type is kept for callers that prefer exceptions: it carries one EvaluatorError, e.g.
// `if (int code = evaluator.evaluate(...)) throw EvaluatorException(EvaluatorError(code));`.
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
    // ignored. Allocates nothing and throws nothing, also on an error.
    int evaluate(const char* expression, double* result, int* assigned) noexcept;

    // Stores a variable (the name lowered and cut to 15 characters). False when the name is new and
    // all 50 records are taken.
    bool setVariable(const char* name, const double* value);
    // Reads a variable or, failing that, a constant of that name; false (nothing written) if none.
    bool getVariable(const char* name, double* value) const;
    // Empties the first variable of that name; false if there is none. Constants stay.
    bool deleteVariable(const char* name);

private:
    enum TokenType { kTokenNone = 0, kTokenIdentifier = 1, kTokenDelimiter = 2, kTokenNumber = 3 };

    // Names are kept lowered, cut to kMaxNameLength and padded with NULs to the full 16 bytes, so two
    // names compare as two 8-byte words.
    struct Variable {
        char name[kMaxNameLength + 1];
        double value;
    };

    // getVariable for a name that is already in the padded record form.
    bool findValue(const char* key, double* value) const;

    // The grammar levels and the scanner return false once an error is recorded in `error`; every
    // caller then returns at once, so the first error ends the parse with nothing more evaluated or
    // assigned.
    bool parseAssignment(double* value, int* isAssignment);
    bool parseSum(double* value);
    bool parseProduct(double* value);
    bool parsePower(double* value);
    bool parsePrimary(double* value);
    bool parseCall(double* value);
    bool nextToken();
    bool scanToken();
    // Records the error and returns false.
    bool fail(EvaluatorError code);

    // The current token is that delimiter character (delimiter is NUL for every other token).
    bool isDelimiter(char c) const { return delimiter == c; }
    // Reads past an optional + or -; *negative tells whether it was -.
    bool takeSign(bool* negative);

    Variable vars[kMaxVariables];
    // Records from usedRecords on are all empty, so searches stop there.
    int usedRecords = 0;
    // The next unread character of the expression being evaluated (read in place: letters are lowered
    // as the scanner reads them).
    const char* pos = nullptr;
    TokenType tokenType = kTokenNone;
    char delimiter = '\0';
    // A number token: its digits and dots within the expression.
    const char* numberStart = nullptr;
    std::size_t numberLength = 0;
    // An identifier token: lowered, cut and padded like a record's name.
    char tokenName[kMaxNameLength + 1];
    EvaluatorError error = kErrorNone;
};
