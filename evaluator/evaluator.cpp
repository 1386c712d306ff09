#include "evaluator/evaluator.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

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
const FunctionEntry kFunctions[] = {
    {"sin", 1, &fnSin},     {"cos", 1, &fnCos},     {"tan", 1, &fnTan},   {"asin", 1, &fnAsin},
    {"acos", 1, &fnAcos},   {"atan", 1, &fnAtan},   {"sinh", 1, &fnSinh}, {"cosh", 1, &fnCosh},
    {"tanh", 1, &fnTanh},   {"exp", 1, &fnExp},     {"log", 1, &fnLog},   {"log10", 1, &fnLog10},
    {"sqrt", 1, &fnSqrt},   {"floor", 1, &fnFloor}, {"ceil", 1, &fnCeil}, {"abs", 1, &fnAbs},
    {"hypot", 2, &fnHypot}, {"deg", 1, &fnDeg},     {"rad", 1, &fnRad},   {"sgn", 1, &fnSgn},
    {"min", 2, &fnMin},     {"max", 2, &fnMax},
};

constexpr int kMaxArguments = 4;

// Only A to Z change, whatever the process locale says about other bytes.
char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || c == '_';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isDelimiterChar(char c) {
    switch (c) {
    case '+':
    case '-':
    case '*':
    case '/':
    case '%':
    case '^':
    case '(':
    case ')':
    case ',':
    case '=':
        return true;
    default:
        return false;
    }
}

[[noreturn]] void raise(EvaluatorError code) {
    throw EvaluatorException(code);
}

// A name as the variable records hold it: lowered and cut to 15 characters.
void normaliseName(const char* name, char (&out)[Evaluator::kMaxNameLength + 1]) {
    std::size_t n = 0;
    for (; name[n] != '\0' && n < Evaluator::kMaxNameLength; ++n)
        out[n] = lowerAscii(name[n]);
    out[n] = '\0';
}

// Numbers beyond the fast path go through strtod, with the dot replaced by the current locale's
// decimal point, since strtod follows the locale.
double readLongNumber(const char* digits) {
    const char* point = std::localeconv()->decimal_point;
    if (point == nullptr || point[0] == '\0')
        point = ".";
    char buffer[Evaluator::kMaxTokenLength + 16];
    const std::size_t last = sizeof(buffer) - 1;
    std::size_t n = 0;
    bool seenPoint = false;
    for (const char* p = digits; *p != '\0' && n < last; ++p) {
        if (*p != '.') {
            buffer[n++] = *p;
            continue;
        }
        if (seenPoint)
            break;
        seenPoint = true;
        for (const char* d = point; *d != '\0' && n < last; ++d)
            buffer[n++] = *d;
    }
    buffer[n] = '\0';
    return std::strtod(buffer, nullptr);
}

// The value of a run of digits and dots, read as far as a decimal number goes (up to the second dot;
// a lone dot is 0), correctly rounded and the same under any locale.
double readNumber(const char* digits) {
    // Fast path: when the digits form an integer m <= 2^53 and the fraction has k <= 22 digits, both
    // m and 10^k are exact doubles and m / 10^k is the correctly rounded value.
    static const double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const unsigned long long kExactLimit = 1ull << 53;
    unsigned long long mantissa = 0;
    int fractionDigits = 0;
    bool seenPoint = false;
    bool exact = true;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p == '.') {
            if (seenPoint)
                break;
            seenPoint = true;
            continue;
        }
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
        if (seenPoint)
            ++fractionDigits;
        if (mantissa > kExactLimit || fractionDigits > 22) {
            exact = false;
            break;
        }
    }
    if (exact)
        return static_cast<double>(mantissa) / kPowersOfTen[fractionDigits];
    return readLongNumber(digits);
}

} // namespace

Evaluator::Evaluator() {
    for (Variable& v : vars) {
        v.name[0] = '\0';
        v.value = 0.0;
    }
    token[0] = '\0';
}

int Evaluator::evaluate(const char* expression, double* result, int* assigned) {
    double resultStore = 0.0;
    int assignedStore = 0;
    if (result == nullptr)
        result = &resultStore;
    if (assigned == nullptr)
        assigned = &assignedStore;
    if (expression == nullptr)
        expression = "";

    // The working copy, lowered; an expression that does not fit is refused before anything is read.
    char buffer[kMaxExpressionLength + 1];
    std::size_t length = 0;
    for (; expression[length] != '\0'; ++length) {
        if (length == kMaxExpressionLength) {
            *result = 0.0;
            return kErrorTooLong;
        }
        buffer[length] = lowerAscii(expression[length]);
    }
    buffer[length] = '\0';
    pos = buffer;
    *result = 0.0;

    try {
        nextToken();
        if (tokenType == kTokenNone)
            raise(kErrorEmptyExpression);
        *assigned = parseAssignment(result);
        pos = nullptr;
        return kErrorNone;
    } catch (const EvaluatorException& error) {
        pos = nullptr;
        *result = 0.0;
        return error.code();
    }
}

bool Evaluator::setVariable(const char* name, const double* value) {
    char key[kMaxNameLength + 1];
    normaliseName(name, key);
    // The search ends at the first empty record: a new name takes the first free place.
    for (Variable& v : vars) {
        if (v.name[0] == '\0') {
            std::memcpy(v.name, key, sizeof(key));
            v.value = *value;
            return true;
        }
        if (std::strcmp(v.name, key) == 0) {
            v.value = *value;
            return true;
        }
    }
    return false;
}

bool Evaluator::getVariable(const char* name, double* value) const {
    char key[kMaxNameLength + 1];
    normaliseName(name, key);
    return findValue(key, value);
}

bool Evaluator::findValue(const char* key, double* value) const {
    for (const Variable& v : vars) {
        if (v.name[0] != '\0' && std::strcmp(v.name, key) == 0) {
            *value = v.value;
            return true;
        }
    }
    for (const Constant& c : kConstants) {
        if (std::strcmp(c.name, key) == 0) {
            *value = c.value;
            return true;
        }
    }
    return false;
}

bool Evaluator::deleteVariable(const char* name) {
    char key[kMaxNameLength + 1];
    normaliseName(name, key);
    for (Variable& v : vars) {
        if (v.name[0] != '\0' && std::strcmp(v.name, key) == 0) {
            v.name[0] = '\0';
            v.value = 0.0;
            return true;
        }
    }
    return false;
}

// assignment: name = sum | name = (nothing) | sum. The right-hand side is a sum, so in a = b = 3 the
// text from the second "=" on ends the expression.
int Evaluator::parseAssignment(double* value) {
    if (tokenType == kTokenIdentifier && *pos == '=') {
        char name[kMaxNameLength + 1];
        normaliseName(token, name);
        nextToken(); // the "="
        nextToken();
        if (tokenType == kTokenNone) {
            deleteVariable(name);
            return 1;
        }
        parseSum(value);
        if (!setVariable(name, value))
            raise(kErrorTooManyVariables);
        return 1;
    }
    parseSum(value);
    return 0;
}

void Evaluator::parseSum(double* value) {
    parseProduct(value);
    while (isDelimiter('+') || isDelimiter('-')) {
        const char op = token[0];
        nextToken();
        double operand = 0.0;
        parseProduct(&operand);
        if (op == '+')
            *value += operand;
        else
            *value -= operand;
    }
}

// Each right operand has the same form as the power level: [sign] primary [^ [sign] primary].
void Evaluator::parseProduct(double* value) {
    parsePower(value);
    while (isDelimiter('*') || isDelimiter('/') || isDelimiter('%')) {
        const char op = token[0];
        nextToken();
        double operand = 0.0;
        parsePower(&operand);
        if (op == '*') {
            *value *= operand;
        } else {
            // Zero of either sign fails; a NaN operand is divided by.
            if (operand == 0.0)
                raise(kErrorDivisionByZero);
            *value = (op == '/') ? *value / operand : std::fmod(*value, operand);
        }
    }
}

// [sign] primary [^ [sign] primary]: the sign binds tighter than ^, and one ^ at most is taken.
void Evaluator::parsePower(double* value) {
    const bool negative = takeSign();
    parsePrimary(value);
    if (negative)
        *value = -*value;
    if (isDelimiter('^')) {
        nextToken();
        const bool negativeExponent = takeSign();
        double exponent = 0.0;
        parsePrimary(&exponent);
        if (negativeExponent)
            exponent = -exponent;
        *value = std::pow(*value, exponent);
    }
}

bool Evaluator::takeSign() {
    if (isDelimiter('+') || isDelimiter('-')) {
        const bool negative = token[0] == '-';
        nextToken();
        return negative;
    }
    return false;
}

void Evaluator::parsePrimary(double* value) {
    if (isDelimiter('(')) {
        nextToken();
        if (isDelimiter(')'))
            raise(kErrorMissingValue);
        parseAssignment(value);
        if (!isDelimiter(')'))
            raise(kErrorUnbalancedParentheses);
        nextToken();
        return;
    }
    if (tokenType == kTokenNumber) {
        *value = readNumber(token);
        nextToken();
        return;
    }
    if (tokenType == kTokenIdentifier && *pos == '(') {
        const FunctionEntry* function = nullptr;
        for (const FunctionEntry& f : kFunctions) {
            if (std::strcmp(f.name, token) == 0) {
                function = &f;
                break;
            }
        }
        if (function == nullptr)
            raise(kErrorUnknownFunction);
        nextToken(); // the "("
        double args[kMaxArguments] = {};
        int count = 0;
        do {
            nextToken();
            if (isDelimiter(')') || isDelimiter(','))
                raise(kErrorMissingValue);
            args[count] = 0.0;
            parseAssignment(&args[count]);
            ++count;
        } while (count < kMaxArguments && isDelimiter(','));
        // This token stands for the closing ")"; its text is not examined.
        nextToken();
        if (count != function->argumentCount)
            raise(kErrorWrongArgumentCount);
        *value = function->function(args);
        return;
    }
    if (tokenType == kTokenIdentifier) {
        // The token is already lowered and cut to a name's length.
        if (!findValue(token, value))
            raise(kErrorUnknownVariable);
        nextToken();
        return;
    }
    raise(kErrorSyntax);
}

// Reads one token and leaves pos on the next significant character, which the grammar uses to look
// ahead for "(" (a function call) and "=" (an assignment).
void Evaluator::nextToken() {
    tokenType = kTokenNone;
    token[0] = '\0';
    while (isBlank(*pos))
        ++pos;
    const char c = *pos;
    if (c == '\0')
        return; // pos stays on the terminator, so every further read is the end again
    if (isDelimiterChar(c)) {
        tokenType = kTokenDelimiter;
        token[0] = c;
        token[1] = '\0';
        ++pos;
    } else if (isDigit(c) || c == '.') {
        tokenType = kTokenNumber;
        std::size_t n = 0;
        while (isDigit(*pos) || *pos == '.') {
            if (n == kMaxTokenLength)
                raise(kErrorTooLong);
            token[n++] = *pos++;
        }
        token[n] = '\0';
    } else if (isLetter(c)) {
        tokenType = kTokenIdentifier;
        std::size_t n = 0;
        std::size_t stored = 0;
        while (isLetter(*pos) || isDigit(*pos)) {
            if (n == kMaxTokenLength)
                raise(kErrorTooLong);
            if (stored < kMaxNameLength)
                token[stored++] = *pos;
            ++n;
            ++pos;
        }
        token[stored] = '\0';
    } else {
        token[0] = c;
        token[1] = '\0';
        ++pos;
        raise(kErrorSyntax);
    }
    while (isBlank(*pos))
        ++pos;
}
