// The formula language's vocabulary, shared by everything that reads a formula: the operations, the
// function table (name, argument count, operation, scalar function), the named constants, the
// arithmetic of the operators and the value of a number token. The evaluator computes with these
// while it parses and the compiled formula folds constants with them, so a folded value is, bit for
// bit, the value the evaluator computes.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "evaluator/formula_chars.h"
#include "evaluator/formula_limits.h"
#include "numbers/number_text.h"

namespace formula {

// A name as the language keeps it: lowered, cut to kMaxNameLength and padded with NULs, so that two
// names compare as two 8-byte words.
constexpr std::size_t kNameSize = kMaxNameLength + 1;
// A call reads at most this many arguments before it checks their count.
constexpr int kMaxArguments = 4;

enum Op : std::uint8_t {
    kOpX, // the variable x (the compiled formula's one input)
    kOpAdd,
    kOpSub,
    kOpMul,
    kOpDiv,
    kOpMod,
    kOpPow,
    kOpNeg,
    kOpHypot,
    kOpMin,
    kOpMax,
    kOpDeg,
    kOpRad,
    kOpSgn,
    kOpAbs,
    kOpSqrt,
    kOpFloor,
    kOpCeil,
    // Library functions of one argument.
    kOpSin,
    kOpCos,
    kOpTan,
    kOpAsin,
    kOpAcos,
    kOpAtan,
    kOpSinh,
    kOpCosh,
    kOpTanh,
    kOpExp,
    kOpLog,
    kOpLog10,
    kOpCount
};

// Operations of two operands (the others read only their first).
constexpr bool isBinary(Op op) {
    return op == kOpAdd || op == kOpSub || op == kOpMul || op == kOpDiv || op == kOpMod || op == kOpPow ||
           op == kOpHypot || op == kOpMin || op == kOpMax;
}

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kRadiansPerDegree = 0.017453292519943295;

// The scalar functions behind the function table. A function of one argument ignores b.
namespace scalar {
inline double sin(double a, double) {
    return std::sin(a);
}
inline double cos(double a, double) {
    return std::cos(a);
}
inline double tan(double a, double) {
    return std::tan(a);
}
inline double asin(double a, double) {
    return std::asin(a);
}
inline double acos(double a, double) {
    return std::acos(a);
}
inline double atan(double a, double) {
    return std::atan(a);
}
inline double sinh(double a, double) {
    return std::sinh(a);
}
inline double cosh(double a, double) {
    return std::cosh(a);
}
inline double tanh(double a, double) {
    return std::tanh(a);
}
inline double exp(double a, double) {
    return std::exp(a);
}
inline double log(double a, double) {
    return std::log(a);
}
inline double log10(double a, double) {
    return std::log10(a);
}
inline double sqrt(double a, double) {
    return std::sqrt(a);
}
inline double floor(double a, double) {
    return std::floor(a);
}
inline double ceil(double a, double) {
    return std::ceil(a);
}
inline double abs(double a, double) {
    return std::fabs(a);
}
// sqrt(a^2 + b^2) without overflow or underflow in the intermediate squares.
inline double hypot(double a, double b) {
    return std::hypot(a, b);
}
inline double deg(double a, double) {
    return a * kDegreesPerRadian;
}
inline double rad(double a, double) {
    return a * kRadiansPerDegree;
}
// 1 for zero of either sign; a NaN compares false and gives -1.
inline double sgn(double a, double) {
    return a >= 0.0 ? 1.0 : -1.0;
}
inline double min(double a, double b) {
    return a < b ? a : b;
}
inline double max(double a, double b) {
    return a > b ? a : b;
}
} // namespace scalar

using ScalarFunction = double (*)(double a, double b);

struct Function {
    char name[kNameSize];
    int argumentCount;
    Op op;
    ScalarFunction scalar;
};

// Searched in this order; the first name that matches wins.
inline constexpr Function kFunctions[] = {
    {"sin", 1, kOpSin, &scalar::sin},       {"cos", 1, kOpCos, &scalar::cos},
    {"tan", 1, kOpTan, &scalar::tan},       {"asin", 1, kOpAsin, &scalar::asin},
    {"acos", 1, kOpAcos, &scalar::acos},    {"atan", 1, kOpAtan, &scalar::atan},
    {"sinh", 1, kOpSinh, &scalar::sinh},    {"cosh", 1, kOpCosh, &scalar::cosh},
    {"tanh", 1, kOpTanh, &scalar::tanh},    {"exp", 1, kOpExp, &scalar::exp},
    {"log", 1, kOpLog, &scalar::log},       {"log10", 1, kOpLog10, &scalar::log10},
    {"sqrt", 1, kOpSqrt, &scalar::sqrt},    {"floor", 1, kOpFloor, &scalar::floor},
    {"ceil", 1, kOpCeil, &scalar::ceil},    {"abs", 1, kOpAbs, &scalar::abs},
    {"hypot", 2, kOpHypot, &scalar::hypot}, {"deg", 1, kOpDeg, &scalar::deg},
    {"rad", 1, kOpRad, &scalar::rad},       {"sgn", 1, kOpSgn, &scalar::sgn},
    {"min", 2, kOpMin, &scalar::min},       {"max", 2, kOpMax, &scalar::max},
};
inline constexpr int kFunctionCount = static_cast<int>(sizeof(kFunctions) / sizeof(kFunctions[0]));

struct Constant {
    char name[kNameSize];
    double value;
};

inline constexpr Constant kConstants[] = {
    {"pi", 3.141592653589793},
    {"e", 2.718281828459045},
};

inline std::uint64_t loadWord(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof(word));
    return word;
}

// Two names in the padded form.
inline bool sameName(const char* a, const char* b) {
    return loadWord(a) == loadWord(b) && loadWord(a + 8) == loadWord(b + 8);
}

// A NUL-terminated name in the padded form.
inline void normaliseName(const char* name, char (&out)[kNameSize]) {
    std::memset(out, 0, sizeof(out));
    for (std::size_t n = 0; name[n] != '\0' && n < kMaxNameLength; ++n)
        out[n] = formula_chars::lowerAscii(name[n]);
}

// For each function, the index of the next one with the same first letter (-1 at the end of the
// chain), and for each letter the first function that starts with it: a call's name is compared with
// those functions only, in table order.
struct FunctionIndex {
    signed char first[26];
    signed char next[kFunctionCount];
};

constexpr FunctionIndex makeFunctionIndex() {
    FunctionIndex index{};
    for (int letter = 0; letter < 26; ++letter)
        index.first[letter] = -1;
    for (int i = kFunctionCount - 1; i >= 0; --i) {
        const int letter = kFunctions[i].name[0] - 'a';
        index.next[i] = index.first[letter];
        index.first[letter] = static_cast<signed char>(i);
    }
    return index;
}

inline constexpr FunctionIndex kFunctionIndex = makeFunctionIndex();

// The function of that name (padded form), or null.
inline const Function* findFunction(const char* name) {
    const unsigned letter = static_cast<unsigned char>(name[0]) - static_cast<unsigned>('a');
    if (letter >= 26)
        return nullptr;
    for (int i = kFunctionIndex.first[letter]; i >= 0; i = kFunctionIndex.next[i]) {
        if (sameName(kFunctions[i].name, name))
            return &kFunctions[i];
    }
    return nullptr;
}

// The scalar function of a function's operation (null for the operators and x).
struct ScalarIndex {
    ScalarFunction of[kOpCount];
};

constexpr ScalarIndex makeScalarIndex() {
    ScalarIndex index{};
    for (int op = 0; op < kOpCount; ++op)
        index.of[op] = nullptr;
    for (const Function& function : kFunctions)
        index.of[function.op] = function.scalar;
    return index;
}

inline constexpr ScalarIndex kScalarIndex = makeScalarIndex();

inline ScalarFunction scalarOf(Op op) {
    return kScalarIndex.of[op];
}

// The named constant of that name (padded form); false (nothing written) if there is none.
inline bool findConstant(const char* name, double* value) {
    for (const Constant& c : kConstants) {
        if (sameName(c.name, name)) {
            *value = c.value;
            return true;
        }
    }
    return false;
}

// The operators' arithmetic on scalars: + - * / % ^ and the sign. The divisor of / and % is checked
// for zero by the caller before.
inline double applyOperator(Op op, double a, double b) {
    switch (op) {
    case kOpAdd:
        return a + b;
    case kOpSub:
        return a - b;
    case kOpMul:
        return a * b;
    case kOpDiv:
        return a / b;
    case kOpMod:
        return std::fmod(a, b);
    case kOpPow:
        return std::pow(a, b);
    case kOpNeg:
        return -a;
    default:
        return 0.0;
    }
}

// Numbers beyond the fast path go to the exact reader, which rounds correctly under any locale and
// stops where a decimal number ends: at the second dot. A number token holds only digits and dots and
// at most kMaxTokenLength of them.
inline double readLongNumber(const char* digits, std::size_t length) {
    char16_t wide[kMaxTokenLength];
    const std::size_t count = length < kMaxTokenLength ? length : kMaxTokenLength;
    for (std::size_t i = 0; i < count; ++i)
        wide[i] = static_cast<char16_t>(static_cast<unsigned char>(digits[i]));
    return ::readNumber(wide, wide + count);
}

inline constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The value of a number token (a run of digits and dots), read as far as a decimal number goes (up
// to the second dot; a lone dot is 0), correctly rounded and the same under any locale.
inline double readNumberToken(const char* digits, std::size_t length) {
    // When the digits form an integer m <= 2^53 and the fraction has k <= 22 digits, both m and 10^k
    // are exact doubles and m / 10^k is the correctly rounded value. A run of at most 15 characters
    // always qualifies (m < 10^15).
    unsigned long long mantissa = 0;
    if (length <= 15) {
        std::size_t i = 0;
        for (; i < length && digits[i] != '.'; ++i)
            mantissa = mantissa * 10 + static_cast<unsigned>(digits[i] - '0');
        if (i == length)
            return static_cast<double>(mantissa);
        int fractionDigits = 0;
        for (++i; i < length && digits[i] != '.'; ++i, ++fractionDigits)
            mantissa = mantissa * 10 + static_cast<unsigned>(digits[i] - '0');
        return static_cast<double>(mantissa) / kPowersOfTen[fractionDigits];
    }
    const unsigned long long kExactLimit = 1ull << 53;
    int fractionDigits = 0;
    bool seenPoint = false;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = digits[i];
        if (c == '.') {
            if (seenPoint)
                break;
            seenPoint = true;
            continue;
        }
        mantissa = mantissa * 10 + static_cast<unsigned>(c - '0');
        if (seenPoint)
            ++fractionDigits;
        if (mantissa > kExactLimit || fractionDigits > 22)
            return readLongNumber(digits, length);
    }
    return static_cast<double>(mantissa) / kPowersOfTen[fractionDigits];
}

} // namespace formula
