#include "evaluator/evaluator.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "evaluator/formula_chars.h"
#include "numbers/number_text.h"

namespace {

using namespace formula_chars;

struct Constant {
    char name[16];
    double value;
};

const Constant kConstants[] = {
    {"pi", 3.141592653589793},
    {"e", 2.718281828459045},
};

using Function = double (*)(const double* args);

struct FunctionEntry {
    char name[16];
    int argumentCount;
    Function function;
};

double fnSin(const double* a) {
    return std::sin(a[0]);
}
double fnCos(const double* a) {
    return std::cos(a[0]);
}
double fnTan(const double* a) {
    return std::tan(a[0]);
}
double fnAsin(const double* a) {
    return std::asin(a[0]);
}
double fnAcos(const double* a) {
    return std::acos(a[0]);
}
double fnAtan(const double* a) {
    return std::atan(a[0]);
}
double fnSinh(const double* a) {
    return std::sinh(a[0]);
}
double fnCosh(const double* a) {
    return std::cosh(a[0]);
}
double fnTanh(const double* a) {
    return std::tanh(a[0]);
}
double fnExp(const double* a) {
    return std::exp(a[0]);
}
double fnLog(const double* a) {
    return std::log(a[0]);
}
double fnLog10(const double* a) {
    return std::log10(a[0]);
}
double fnSqrt(const double* a) {
    return std::sqrt(a[0]);
}
double fnFloor(const double* a) {
    return std::floor(a[0]);
}
double fnCeil(const double* a) {
    return std::ceil(a[0]);
}
double fnAbs(const double* a) {
    return std::fabs(a[0]);
}
// sqrt(a^2 + b^2) without overflow or underflow in the intermediate squares.
double fnHypot(const double* a) {
    return std::hypot(a[0], a[1]);
}
double fnDeg(const double* a) {
    return a[0] * 57.29577951308232;
}
double fnRad(const double* a) {
    return a[0] * 0.017453292519943295;
}
// 1 for zero of either sign; a NaN compares false and gives -1.
double fnSgn(const double* a) {
    return a[0] >= 0.0 ? 1.0 : -1.0;
}
double fnMin(const double* a) {
    return a[0] < a[1] ? a[0] : a[1];
}
double fnMax(const double* a) {
    return a[0] > a[1] ? a[0] : a[1];
}

// Searched in this order; the first name that matches wins.
constexpr FunctionEntry kFunctions[] = {
    {"sin", 1, &fnSin},     {"cos", 1, &fnCos},     {"tan", 1, &fnTan},   {"asin", 1, &fnAsin},
    {"acos", 1, &fnAcos},   {"atan", 1, &fnAtan},   {"sinh", 1, &fnSinh}, {"cosh", 1, &fnCosh},
    {"tanh", 1, &fnTanh},   {"exp", 1, &fnExp},     {"log", 1, &fnLog},   {"log10", 1, &fnLog10},
    {"sqrt", 1, &fnSqrt},   {"floor", 1, &fnFloor}, {"ceil", 1, &fnCeil}, {"abs", 1, &fnAbs},
    {"hypot", 2, &fnHypot}, {"deg", 1, &fnDeg},     {"rad", 1, &fnRad},   {"sgn", 1, &fnSgn},
    {"min", 2, &fnMin},     {"max", 2, &fnMax},
};

constexpr int kMaxArguments = 4;
constexpr std::size_t kNameSize = Evaluator::kMaxNameLength + 1;

std::uint64_t loadWord(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof(word));
    return word;
}

// Two names in the padded 16-byte form.
bool sameName(const char* a, const char* b) {
    return loadWord(a) == loadWord(b) && loadWord(a + 8) == loadWord(b + 8);
}

// A name as the records hold it: lowered, cut to 15 characters and padded with NULs.
void normaliseName(const char* name, char (&out)[kNameSize]) {
    std::memset(out, 0, sizeof(out));
    for (std::size_t n = 0; name[n] != '\0' && n < Evaluator::kMaxNameLength; ++n)
        out[n] = lowerAscii(name[n]);
}

// Numbers beyond the fast path go to the exact reader, which rounds correctly under any locale and
// stops where a decimal number ends: at the second dot. A number token holds only digits and dots and
// at most kMaxTokenLength of them.
double readLongNumber(const char* digits, std::size_t length) {
    char16_t wide[Evaluator::kMaxTokenLength];
    const std::size_t count = length < Evaluator::kMaxTokenLength ? length : Evaluator::kMaxTokenLength;
    for (std::size_t i = 0; i < count; ++i)
        wide[i] = static_cast<char16_t>(static_cast<unsigned char>(digits[i]));
    return ::readNumber(wide, wide + count);
}

const double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                               1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The value of a run of digits and dots, read as far as a decimal number goes (up to the second dot;
// a lone dot is 0), correctly rounded and the same under any locale.
double readNumber(const char* digits, std::size_t length) {
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

// For each function, the index of the next one with the same first letter (-1 at the end of the
// chain), and for each letter the first function that starts with it: a call's name is compared with
// those functions only, in table order.
constexpr int kFunctionCount = static_cast<int>(sizeof(kFunctions) / sizeof(kFunctions[0]));

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

constexpr FunctionIndex kFunctionIndex = makeFunctionIndex();

// The function of that name (padded record form), or null.
const FunctionEntry* findFunction(const char* name) {
    const unsigned letter = static_cast<unsigned char>(name[0]) - static_cast<unsigned>('a');
    if (letter >= 26)
        return nullptr;
    for (int i = kFunctionIndex.first[letter]; i >= 0; i = kFunctionIndex.next[i]) {
        if (sameName(kFunctions[i].name, name))
            return &kFunctions[i];
    }
    return nullptr;
}

} // namespace

// Reads one token and leaves pos on the next significant character, which the grammar uses to look
// ahead for "(" (a function call) and "=" (an assignment). Most tokens are one delimiter character
// with pos already on it, so that case is handled before the general scanner.
inline bool Evaluator::nextToken() {
    const char c = *pos;
    if (kindOf(c) & kCharDelimiter) {
        tokenType = kTokenDelimiter;
        delimiter = c;
        const char* p = pos + 1;
        while (kindOf(*p) & kCharBlank)
            ++p;
        pos = p;
        return true;
    }
    return scanToken();
}

Evaluator::Evaluator() {
    for (Variable& v : vars) {
        std::memset(v.name, 0, sizeof(v.name));
        v.value = 0.0;
    }
    std::memset(tokenName, 0, sizeof(tokenName));
}

int Evaluator::evaluate(const char* expression, double* result, int* assigned) noexcept {
    double resultStore = 0.0;
    int assignedStore = 0;
    if (result == nullptr)
        result = &resultStore;
    if (assigned == nullptr)
        assigned = &assignedStore;
    if (expression == nullptr)
        expression = "";

    // An expression that does not fit is refused before anything is read. The text is then read in
    // place; the scanner lowers letters as it reads them, so names are case-insensitive.
    if (std::strlen(expression) > kMaxExpressionLength) {
        *result = 0.0;
        return kErrorTooLong;
    }
    pos = expression;
    error = kErrorNone;
    *result = 0.0;

    int isAssignment = 0;
    if (nextToken()) {
        if (tokenType == kTokenNone)
            fail(kErrorEmptyExpression);
        else
            parseAssignment(result, &isAssignment);
    }
    pos = nullptr;
    if (error != kErrorNone) {
        *result = 0.0;
        return error;
    }
    *assigned = isAssignment;
    return kErrorNone;
}

bool Evaluator::fail(EvaluatorError code) {
    // Only the first error is kept; after it the parse only returns.
    if (error == kErrorNone)
        error = code;
    tokenType = kTokenNone;
    delimiter = '\0';
    return false;
}

bool Evaluator::setVariable(const char* name, const double* value) {
    char key[kNameSize];
    normaliseName(name, key);
    // The search ends at the first empty record: a new name takes the first free place.
    for (int i = 0; i < kMaxVariables; ++i) {
        Variable& v = vars[i];
        if (v.name[0] == '\0') {
            std::memcpy(v.name, key, sizeof(key));
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
    for (const Constant& c : kConstants) {
        if (sameName(c.name, key)) {
            *value = c.value;
            return true;
        }
    }
    return false;
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

// The levels below the sum come first, so that the compiler can fold them into their callers.
// Each right operand has the same form as the power level: [sign] primary [^ [sign] primary].
inline bool Evaluator::parseProduct(double* value) {
    if (!parsePower(value))
        return false;
    while (isDelimiter('*') || isDelimiter('/') || isDelimiter('%')) {
        const char op = delimiter;
        if (!nextToken())
            return false;
        double operand = 0.0;
        if (!parsePower(&operand))
            return false;
        if (op == '*') {
            *value *= operand;
        } else {
            // Zero of either sign fails; a NaN operand is divided by.
            if (operand == 0.0)
                return fail(kErrorDivisionByZero);
            *value = (op == '/') ? *value / operand : std::fmod(*value, operand);
        }
    }
    return true;
}

// [sign] primary [^ [sign] primary]: the sign binds tighter than ^, and one ^ at most is taken.
inline bool Evaluator::parsePower(double* value) {
    bool negative = false;
    if (!takeSign(&negative) || !parsePrimary(value))
        return false;
    if (negative)
        *value = -*value;
    if (isDelimiter('^')) {
        bool negativeExponent = false;
        double exponent = 0.0;
        if (!nextToken() || !takeSign(&negativeExponent) || !parsePrimary(&exponent))
            return false;
        if (negativeExponent)
            exponent = -exponent;
        *value = std::pow(*value, exponent);
    }
    return true;
}

inline bool Evaluator::takeSign(bool* negative) {
    if (isDelimiter('+') || isDelimiter('-')) {
        *negative = delimiter == '-';
        return nextToken();
    }
    *negative = false;
    return true;
}

// assignment: name = sum | name = (nothing) | sum. The right-hand side is a sum, so in a = b = 3 the
// text from the second "=" on ends the expression.
bool Evaluator::parseAssignment(double* value, int* isAssignment) {
    if (tokenType == kTokenIdentifier && *pos == '=') {
        char name[kNameSize];
        std::memcpy(name, tokenName, sizeof(name));
        if (!nextToken() || !nextToken()) // the "=", then the first token of the right-hand side
            return false;
        if (tokenType == kTokenNone) {
            deleteVariable(name);
        } else {
            if (!parseSum(value))
                return false;
            if (!setVariable(name, value))
                return fail(kErrorTooManyVariables);
        }
        *isAssignment = 1;
        return true;
    }
    if (!parseSum(value))
        return false;
    *isAssignment = 0;
    return true;
}

bool Evaluator::parseSum(double* value) {
    if (!parseProduct(value))
        return false;
    while (isDelimiter('+') || isDelimiter('-')) {
        const char op = delimiter;
        if (!nextToken())
            return false;
        double operand = 0.0;
        if (!parseProduct(&operand))
            return false;
        if (op == '+')
            *value += operand;
        else
            *value -= operand;
    }
    return true;
}

bool Evaluator::parsePrimary(double* value) {
    if (isDelimiter('(')) {
        if (!nextToken())
            return false;
        if (isDelimiter(')'))
            return fail(kErrorMissingValue);
        int isAssignment = 0;
        if (!parseAssignment(value, &isAssignment))
            return false;
        if (!isDelimiter(')'))
            return fail(kErrorUnbalancedParentheses);
        return nextToken();
    }
    if (tokenType == kTokenNumber) {
        *value = readNumber(numberStart, numberLength);
        return nextToken();
    }
    if (tokenType == kTokenIdentifier) {
        if (*pos == '(')
            return parseCall(value);
        if (!findValue(tokenName, value))
            return fail(kErrorUnknownVariable);
        return nextToken();
    }
    return fail(kErrorSyntax);
}

// name ( E , ... ): the current token is the name and "(" is the next character.
bool Evaluator::parseCall(double* value) {
    const FunctionEntry* function = findFunction(tokenName);
    if (function == nullptr)
        return fail(kErrorUnknownFunction);
    if (!nextToken()) // the "("
        return false;
    double args[kMaxArguments] = {};
    int count = 0;
    do {
        if (!nextToken())
            return false;
        if (isDelimiter(')') || isDelimiter(','))
            return fail(kErrorMissingValue);
        args[count] = 0.0;
        int isAssignment = 0;
        if (!parseAssignment(&args[count], &isAssignment))
            return false;
        ++count;
    } while (count < kMaxArguments && isDelimiter(','));
    // This token stands for the closing ")"; its text is not examined.
    if (!nextToken())
        return false;
    if (count != function->argumentCount)
        return fail(kErrorWrongArgumentCount);
    *value = function->function(args);
    return true;
}

bool Evaluator::scanToken() {
    const char* p = pos;
    while (kindOf(*p) & kCharBlank)
        ++p;
    const char c = *p;
    const unsigned char kind = kindOf(c);
    delimiter = '\0';
    if (c == '\0') {
        // pos stays on the terminator, so every further read is the end again
        tokenType = kTokenNone;
        pos = p;
        return true;
    }
    if (kind & kCharDelimiter) {
        tokenType = kTokenDelimiter;
        delimiter = c;
        ++p;
    } else if (kind & kCharNumber) {
        tokenType = kTokenNumber;
        const char* start = p;
        while (kindOf(*p) & kCharNumber)
            ++p;
        numberStart = start;
        numberLength = static_cast<std::size_t>(p - start);
        if (numberLength > kMaxTokenLength)
            return fail(kErrorTooLong);
    } else if (kind & kCharNameStart) {
        tokenType = kTokenIdentifier;
        const char* start = p;
        while (kindOf(*p) & kCharName)
            ++p;
        const std::size_t length = static_cast<std::size_t>(p - start);
        if (length > kMaxTokenLength)
            return fail(kErrorTooLong);
        // Only the first 15 characters are kept; the rest of the run is consumed.
        const std::size_t kept = length < kMaxNameLength ? length : kMaxNameLength;
        std::memset(tokenName, 0, sizeof(tokenName));
        for (std::size_t n = 0; n < kept; ++n)
            tokenName[n] = lowerAscii(start[n]);
    } else {
        pos = p + 1;
        return fail(kErrorSyntax);
    }
    while (kindOf(*p) & kCharBlank)
        ++p;
    pos = p;
    return true;
}
