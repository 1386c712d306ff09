#include "evaluator/evaluator.h"

#include <cstring>

#include "evaluator/formula_language.h"
#include "evaluator/formula_parser.h"

using formula::kNameSize;
using formula::normaliseName;
using formula::sameName;

// Computes each value as soon as the parser recognises it, with the language's own arithmetic and
// scalar functions; names are the evaluator's variables, then the constants. The first error is kept
// and ends the parse.
class Evaluator::Values {
public:
    using Value = double;

    explicit Values(Evaluator& evaluator) : evaluator(evaluator) {}

    bool number(double number, double* out) {
        *out = number;
        return true;
    }
    bool name(const char* key, double* out) {
        if (!evaluator.findValue(key, out))
            return report(kErrorUnknownVariable);
        return true;
    }
    bool unary(formula::Op op, double a, double* out) {
        *out = formula::applyOperator(op, a, 0.0);
        return true;
    }
    bool binary(formula::Op op, double a, double b, double* out) {
        // Zero of either sign fails; a NaN operand is divided by.
        if ((op == formula::kOpDiv || op == formula::kOpMod) && b == 0.0)
            return report(kErrorDivisionByZero);
        *out = formula::applyOperator(op, a, b);
        return true;
    }
    bool call(const formula::Function& function, const double* args, double* out) {
        *out = function.scalar(args[0], args[1]);
        return true;
    }
    bool beginAssignment() { return true; }
    bool assign(const char* key, double value) {
        if (!evaluator.storeValue(key, &value))
            return report(kErrorTooManyVariables);
        return true;
    }
    void remove(const char* key) { evaluator.deleteVariable(key); }
    void fail(EvaluatorError code) { report(code); }

    EvaluatorError error = kErrorNone;

private:
    bool report(EvaluatorError code) {
        if (error == kErrorNone)
            error = code;
        return false;
    }

    Evaluator& evaluator;
};

Evaluator::Evaluator() {
    for (Variable& v : vars) {
        std::memset(v.name, 0, sizeof(v.name));
        v.value = 0.0;
    }
}

int Evaluator::evaluate(const char* expression, double* result, int* assigned, std::size_t* readTo) noexcept {
    double resultStore = 0.0;
    int assignedStore = 0;
    if (result == nullptr)
        result = &resultStore;
    if (assigned == nullptr)
        assigned = &assignedStore;
    if (expression == nullptr)
        expression = "";

    // An expression that does not fit is refused before anything is read.
    if (std::strlen(expression) > kMaxExpressionLength) {
        *result = 0.0;
        if (readTo != nullptr)
            *readTo = 0;
        return kErrorTooLong;
    }
    *result = 0.0;
    Values values(*this);
    formula::Parser<Values> parser(expression, values);
    bool isAssignment = false;
    parser.parse(result, &isAssignment);
    if (readTo != nullptr)
        *readTo = parser.stoppedAt();
    if (values.error != kErrorNone) {
        *result = 0.0;
        return values.error;
    }
    *assigned = isAssignment ? 1 : 0;
    return kErrorNone;
}

bool Evaluator::setVariable(const char* name, const double* value) {
    char key[kNameSize];
    normaliseName(name, key);
    return storeValue(key, value);
}

bool Evaluator::storeValue(const char* key, const double* value) {
    // The search ends at the first empty record: a new name takes the first free place.
    for (int i = 0; i < kMaxVariables; ++i) {
        Variable& v = vars[i];
        if (v.name[0] == '\0') {
            std::memcpy(v.name, key, kNameSize);
            v.value = *value;
            if (i >= usedRecords)
                usedRecords = i + 1;
            return true;
        }
        if (sameName(v.name, key)) {
            v.value = *value;
            return true;
        }
    }
    return false;
}

bool Evaluator::getVariable(const char* name, double* value) const {
    char key[kNameSize];
    normaliseName(name, key);
    return findValue(key, value);
}

bool Evaluator::findValue(const char* key, double* value) const {
    for (int i = 0; i < usedRecords; ++i) {
        const Variable& v = vars[i];
        if (v.name[0] != '\0' && sameName(v.name, key)) {
            *value = v.value;
            return true;
        }
    }
    return formula::findConstant(key, value);
}

bool Evaluator::deleteVariable(const char* name) {
    char key[kNameSize];
    normaliseName(name, key);
    for (int i = 0; i < usedRecords; ++i) {
        Variable& v = vars[i];
        if (v.name[0] != '\0' && sameName(v.name, key)) {
            std::memset(v.name, 0, sizeof(v.name));
            v.value = 0.0;
            while (usedRecords > 0 && vars[usedRecords - 1].name[0] == '\0')
                --usedRecords;
            return true;
        }
    }
    return false;
}
