// The formula language evaluated: numbers, variables, the constants pi and e, a fixed set of
// functions, + - * / % ^, parentheses, unary signs and assignment. It evaluates while the formula
// parser (formula_parser.h) reads the text; nothing survives between calls but the variables.
#pragma once

#include <cstddef>

#include "evaluator/formula_limits.h"

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
    static constexpr std::size_t kMaxNameLength = formula::kMaxNameLength;
    static constexpr std::size_t kMaxExpressionLength = formula::kMaxExpressionLength;
    static constexpr std::size_t kMaxTokenLength = formula::kMaxTokenLength;

    Evaluator();
    virtual ~Evaluator() = default;

    // Evaluates a NUL-terminated expression. On success stores the value, sets *assigned to 1 when
    // the expression is an assignment or a deletion ("name = ...") and to 0 otherwise, and returns
    // kErrorNone. On an error stores 0.0, leaves *assigned alone and returns the code; assignments
    // made before the error stay. Text after the first token that cannot continue the expression is
    // ignored. Allocates nothing and throws nothing, also on an error.
    //
    // With readTo, also stores how far the text belongs to the expression: on success the offset of
    // the first token that cannot continue it (the text's length when all of it was read); on an error
    // the offset of the token at which the error was found (0 for a text refused as too long).
    int evaluate(const char* expression, double* result, int* assigned,
                 std::size_t* readTo = nullptr) noexcept;

    // Stores a variable (the name lowered and cut to 15 characters). False when the name is new and
    // all 50 records are taken.
    bool setVariable(const char* name, const double* value);
    // Reads a variable or, failing that, a constant of that name; false (nothing written) if none.
    bool getVariable(const char* name, double* value) const;
    // Empties the first variable of that name; false if there is none. Constants stay.
    bool deleteVariable(const char* name);

private:
    // The parser's builder: computes each value as the parser recognises it.
    class Values;
    friend class Values;

    // Names are kept lowered, cut to kMaxNameLength and padded with NULs to the full 16 bytes, so two
    // names compare as two 8-byte words.
    struct Variable {
        char name[kMaxNameLength + 1];
        double value;
    };

    // getVariable and setVariable for a name that is already in the padded record form.
    bool findValue(const char* key, double* value) const;
    bool storeValue(const char* key, const double* value);

    Variable vars[kMaxVariables];
    // Records from usedRecords on are all empty, so searches stop there.
    int usedRecords = 0;
};
