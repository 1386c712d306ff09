// The reference for the formula module's table: a fresh Evaluator given each x in turn, as the
// module evaluated its formula before it had a compiled form.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "evaluator/evaluator.h"

namespace formularef {

// results[i]: what the i-th evaluate stores after setVariable("x", &xs[i]) (0.0 on an error).
inline void referenceValues(const char* formula, const double* xs, int count, double* results) {
    Evaluator evaluator;
    for (int i = 0; i < count; ++i) {
        evaluator.setVariable("x", &xs[i]);
        double result = 0.0;
        int assigned = 0;
        evaluator.evaluate(formula, &result, &assigned);
        results[i] = result;
    }
}

// The same value, or NaN for NaN: the payload and sign of a NaN never reach a table entry, and
// the compiler may order the operands of a commutative operation either way.
inline bool sameValue(double a, double b) {
    if (std::isnan(a) && std::isnan(b))
        return true;
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

} // namespace formularef
