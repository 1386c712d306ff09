#include "evaluator/compiled_formula.h"

#include <cmath>
#include <cstring>

#include "evaluator/formula_chars.h"

// Vectorised library functions (fast-math builds may substitute them) would change the results' bits.
#ifdef __FAST_MATH__
#error "compiled_formula.cpp must call the scalar library functions: build it without fast-math"
#endif

namespace {

using namespace formula_chars;

enum Op : std::uint8_t {
    kOpX, // the block's values of x
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
    // Library functions of one argument, called per element.
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
};

struct FunctionName {
    char name[16];
    int argumentCount;
    Op op;
};

// The formula language's functions, with the evaluator's names and argument counts.
const FunctionName kFunctions[] = {
    {"sin", 1, kOpSin},     {"cos", 1, kOpCos},     {"tan", 1, kOpTan},   {"asin", 1, kOpAsin},
    {"acos", 1, kOpAcos},   {"atan", 1, kOpAtan},   {"sinh", 1, kOpSinh}, {"cosh", 1, kOpCosh},
    {"tanh", 1, kOpTanh},   {"exp", 1, kOpExp},     {"log", 1, kOpLog},   {"log10", 1, kOpLog10},
    {"sqrt", 1, kOpSqrt},   {"floor", 1, kOpFloor}, {"ceil", 1, kOpCeil}, {"abs", 1, kOpAbs},
    {"hypot", 2, kOpHypot}, {"deg", 1, kOpDeg},     {"rad", 1, kOpRad},   {"sgn", 1, kOpSgn},
    {"min", 2, kOpMin},     {"max", 2, kOpMax},
};

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kRadiansPerDegree = 0.017453292519943295;

double sgn(double a) {
    // 1 for zero of either sign; a NaN compares false and gives -1.
    return a >= 0.0 ? 1.0 : -1.0;
}
double minOf(double a, double b) {
    return a < b ? a : b;
}
double maxOf(double a, double b) {
    return a > b ? a : b;
}

using Unary = double (*)(double);

double callSin(double a) {
    return std::sin(a);
}
double callCos(double a) {
    return std::cos(a);
}
double callTan(double a) {
    return std::tan(a);
}
double callAsin(double a) {
    return std::asin(a);
}
double callAcos(double a) {
    return std::acos(a);
}
double callAtan(double a) {
    return std::atan(a);
}
double callSinh(double a) {
    return std::sinh(a);
}
double callCosh(double a) {
    return std::cosh(a);
}
double callTanh(double a) {
    return std::tanh(a);
}
double callExp(double a) {
    return std::exp(a);
}
double callLog(double a) {
    return std::log(a);
}
double callLog10(double a) {
    return std::log10(a);
}

// Indexed by op - kOpSin.
const Unary kLibraryFunctions[] = {&callSin,  &callCos,  &callTan,  &callAsin, &callAcos, &callAtan,
                                   &callSinh, &callCosh, &callTanh, &callExp,  &callLog,  &callLog10};

// One operation on scalars: constant folding uses it, so a folded value is the value every point
// would compute.
double applyScalar(Op op, double a, double b) {
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
    case kOpHypot:
        return std::hypot(a, b);
    case kOpMin:
        return minOf(a, b);
    case kOpMax:
        return maxOf(a, b);
    case kOpDeg:
        return a * kDegreesPerRadian;
    case kOpRad:
        return a * kRadiansPerDegree;
    case kOpSgn:
        return sgn(a);
    case kOpAbs:
        return std::fabs(a);
    case kOpSqrt:
        return std::sqrt(a);
    case kOpFloor:
        return std::floor(a);
    case kOpCeil:
        return std::ceil(a);
    case kOpX:
        break;
    default:
        return kLibraryFunctions[op - kOpSin](a);
    }
    return 0.0;
}

bool isBinary(Op op) {
    return op == kOpAdd || op == kOpSub || op == kOpMul || op == kOpDiv || op == kOpMod || op == kOpPow ||
           op == kOpHypot || op == kOpMin || op == kOpMax;
}

// d = f(a, b) over n points, where either operand may be one constant for all points. Written as
// plain loops so that the compiler turns IEEE arithmetic into vector instructions.
template <typename F>
void binaryLoop(double* d, const double* a, bool constantA, const double* b, bool constantB, int n, F f) {
    if (constantA) {
        const double s = *a;
        for (int i = 0; i < n; ++i)
            d[i] = f(s, b[i]);
    } else if (constantB) {
        const double s = *b;
        for (int i = 0; i < n; ++i)
            d[i] = f(a[i], s);
    } else {
        for (int i = 0; i < n; ++i)
            d[i] = f(a[i], b[i]);
    }
}

template <typename F> void unaryLoop(double* d, const double* a, int n, F f) {
    for (int i = 0; i < n; ++i)
        d[i] = f(a[i]);
}

std::uint64_t hashIndex(std::uint64_t key, std::uint64_t kind, int bits) {
    return ((key ^ (kind << 56)) * 0x9E3779B97F4A7C15ull) >> (64 - bits);
}

} // namespace

// Reads the text with the evaluator's grammar and scanner, one token at a time in the same order,
// and builds nodes where the evaluator computes values. It stops where the evaluator would stop at
// every point: at the first error that does not depend on x, and at the first assignment (from
// there on the meaning depends on what earlier points left behind).
class CompiledFormula::Parser {
public:
    // kFailed: every evaluation fails whatever x is. kUseEvaluator: an assignment is reached, or the
    // program would not fit its storage.
    enum Outcome { kCompiled, kFailed, kUseEvaluator };

    Parser(CompiledFormula& owner, const char* text) : f(owner), pos(text) {}

    Outcome run() {
        std::uint16_t value = 0;
        if (nextToken()) {
            if (tokenType == kTokenNone)
                fail(kFailed);
            else
                parseAssignment(&value);
        }
        if (outcome == kCompiled)
            f.root = value;
        return outcome;
    }

private:
    enum TokenType { kTokenNone, kTokenIdentifier, kTokenDelimiter, kTokenNumber };
    enum : std::uint64_t { kKindNode = 1, kKindConstant = 2 };

    bool fail(Outcome why) {
        if (outcome == kCompiled)
            outcome = why;
        tokenType = kTokenNone;
        delimiter = '\0';
        return false;
    }

    bool isDelimiter(char c) const { return delimiter == c; }

    bool nextToken() {
        const char* p = pos;
        while (kindOf(*p) & kCharBlank)
            ++p;
        const char c = *p;
        const unsigned char kind = kindOf(c);
        delimiter = '\0';
        if (c == '\0') {
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
            numberStart = p;
            while (kindOf(*p) & kCharNumber)
                ++p;
            numberLength = static_cast<std::size_t>(p - numberStart);
            if (numberLength > Evaluator::kMaxTokenLength)
                return fail(kFailed);
        } else if (kind & kCharNameStart) {
            tokenType = kTokenIdentifier;
            const char* start = p;
            while (kindOf(*p) & kCharName)
                ++p;
            const std::size_t length = static_cast<std::size_t>(p - start);
            if (length > Evaluator::kMaxTokenLength)
                return fail(kFailed);
            const std::size_t kept = length < Evaluator::kMaxNameLength ? length : Evaluator::kMaxNameLength;
            std::memset(tokenName, 0, sizeof(tokenName));
            for (std::size_t n = 0; n < kept; ++n)
                tokenName[n] = lowerAscii(start[n]);
        } else {
            return fail(kFailed);
        }
        while (kindOf(*p) & kCharBlank)
            ++p;
        pos = p;
        return true;
    }

    bool takeSign(bool* negative) {
        if (isDelimiter('+') || isDelimiter('-')) {
            *negative = delimiter == '-';
            return nextToken();
        }
        *negative = false;
        return true;
    }

    // A constant, one reference per distinct bit pattern.
    bool constant(double value, std::uint16_t* out) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof(bits));
        HashSlot* slot = find(bits, kKindConstant);
        if (slot->stamp == f.hashStamp) {
            *out = slot->value;
            return true;
        }
        if (f.constantCount == kMaxConstants)
            return fail(kUseEvaluator); // too large to compile: the evaluator does it
        f.constants[f.constantCount] = value;
        *out = static_cast<std::uint16_t>(kConstantBit | f.constantCount++);
        take(slot, bits, kKindConstant, *out);
        return true;
    }

    static bool isConstant(std::uint16_t ref) { return (ref & kConstantBit) != 0; }
    double constantValue(std::uint16_t ref) const { return f.constants[ref & ~kConstantBit]; }

    // The value op(a, b): folded when its operands are constants, shared when the same operation
    // of the same operands exists already. Division and remainder by a constant zero fail at every
    // point, as the evaluator's test of the divisor does.
    bool make(Op op, std::uint16_t a, std::uint16_t b, std::uint16_t* out) {
        const bool binary = isBinary(op);
        if (!binary)
            b = 0;
        if ((op == kOpDiv || op == kOpMod) && isConstant(b) && constantValue(b) == 0.0)
            return fail(kFailed);
        if (op != kOpX && isConstant(a) && (!binary || isConstant(b)))
            return constant(applyScalar(op, constantValue(a), binary ? constantValue(b) : 0.0), out);
        const std::uint64_t key = static_cast<std::uint64_t>(op) | static_cast<std::uint64_t>(a) << 8 |
                                  static_cast<std::uint64_t>(b) << 24;
        HashSlot* slot = find(key, kKindNode);
        if (slot->stamp == f.hashStamp) {
            *out = slot->value;
            return true;
        }
        if (f.nodeCount == kMaxNodes)
            return fail(kUseEvaluator);
        if ((op == kOpDiv || op == kOpMod) && !isConstant(b))
            f.checksDivisors = true;
        f.nodes[f.nodeCount] = Node{op, a, b};
        *out = static_cast<std::uint16_t>(f.nodeCount++);
        take(slot, key, kKindNode, *out);
        return true;
    }

    HashSlot* find(std::uint64_t key, std::uint64_t kind) {
        std::uint64_t i = hashIndex(key, kind, kHashBits);
        while (true) {
            HashSlot* slot = &f.hash[i];
            if (slot->stamp != f.hashStamp || (slot->key == key && slot->kind == kind))
                return slot;
            i = (i + 1) & (kHashSlots - 1);
        }
    }
    void take(HashSlot* slot, std::uint64_t key, std::uint64_t kind, std::uint16_t value) {
        slot->stamp = f.hashStamp;
        slot->key = key;
        slot->kind = static_cast<std::uint8_t>(kind);
        slot->value = value;
    }

    bool parseAssignment(std::uint16_t* value) {
        if (tokenType == kTokenIdentifier && *pos == '=')
            return fail(kUseEvaluator);
        return parseSum(value);
    }

    bool parseSum(std::uint16_t* value) {
        if (!parseProduct(value))
            return false;
        while (isDelimiter('+') || isDelimiter('-')) {
            const char op = delimiter;
            std::uint16_t operand = 0;
            if (!nextToken() || !parseProduct(&operand))
                return false;
            if (!make(op == '+' ? kOpAdd : kOpSub, *value, operand, value))
                return false;
        }
        return true;
    }

    bool parseProduct(std::uint16_t* value) {
        if (!parsePower(value))
            return false;
        while (isDelimiter('*') || isDelimiter('/') || isDelimiter('%')) {
            const char op = delimiter;
            std::uint16_t operand = 0;
            if (!nextToken() || !parsePower(&operand))
                return false;
            if (!make(op == '*' ? kOpMul : op == '/' ? kOpDiv : kOpMod, *value, operand, value))
                return false;
        }
        return true;
    }

    bool parsePower(std::uint16_t* value) {
        bool negative = false;
        if (!takeSign(&negative) || !parsePrimary(value))
            return false;
        if (negative && !make(kOpNeg, *value, 0, value))
            return false;
        if (isDelimiter('^')) {
            bool negativeExponent = false;
            std::uint16_t exponent = 0;
            if (!nextToken() || !takeSign(&negativeExponent) || !parsePrimary(&exponent))
                return false;
            if (negativeExponent && !make(kOpNeg, exponent, 0, &exponent))
                return false;
            return make(kOpPow, *value, exponent, value);
        }
        return true;
    }

    bool parsePrimary(std::uint16_t* value) {
        if (isDelimiter('(')) {
            if (!nextToken())
                return false;
            if (isDelimiter(')'))
                return fail(kFailed);
            if (!parseAssignment(value))
                return false;
            if (!isDelimiter(')'))
                return fail(kFailed);
            return nextToken();
        }
        if (tokenType == kTokenNumber) {
            // The evaluator reads the number token alone, so the value is its own, bit for bit.
            char digits[Evaluator::kMaxTokenLength + 1];
            std::memcpy(digits, numberStart, numberLength);
            digits[numberLength] = '\0';
            double number = 0.0;
            int assigned = 0;
            numbers.evaluate(digits, &number, &assigned);
            return constant(number, value) && nextToken();
        }
        if (tokenType == kTokenIdentifier) {
            if (*pos == '(')
                return parseCall(value);
            // Without assignments the only variable is x; other names are the evaluator's constants.
            if (std::strcmp(tokenName, "x") == 0) {
                if (!make(kOpX, 0, 0, value))
                    return false;
            } else {
                double named = 0.0;
                if (!numbers.getVariable(tokenName, &named))
                    return fail(kFailed);
                if (!constant(named, value))
                    return false;
            }
            return nextToken();
        }
        return fail(kFailed);
    }

    bool parseCall(std::uint16_t* value) {
        const FunctionName* function = nullptr;
        for (const FunctionName& candidate : kFunctions) {
            if (candidate.name[0] == tokenName[0] && std::strcmp(candidate.name, tokenName) == 0) {
                function = &candidate;
                break;
            }
        }
        if (function == nullptr)
            return fail(kFailed);
        if (!nextToken()) // the "("
            return false;
        std::uint16_t args[4] = {};
        int count = 0;
        do {
            if (!nextToken())
                return false;
            if (isDelimiter(')') || isDelimiter(','))
                return fail(kFailed);
            if (!parseAssignment(&args[count]))
                return false;
            ++count;
        } while (count < 4 && isDelimiter(','));
        // This token stands for the closing ")"; its text is not examined.
        if (!nextToken())
            return false;
        if (count != function->argumentCount)
            return fail(kFailed);
        return make(function->op, args[0], args[1], value);
    }

    CompiledFormula& f;
    const char* pos;
    Outcome outcome = kCompiled;
    TokenType tokenType = kTokenNone;
    char delimiter = '\0';
    const char* numberStart = nullptr;
    std::size_t numberLength = 0;
    char tokenName[Evaluator::kMaxNameLength + 1] = {};
    // A fresh evaluator: it reads number tokens and knows the constants.
    Evaluator numbers;
};

void CompiledFormula::compile(const char* formula) noexcept {
    if (formula == nullptr)
        formula = "";
    nodeCount = 0;
    constantCount = 0;
    instructions = 0;
    checksDivisors = false;
    root = 0;
    // A new stamp empties the hash table; on wrapping, the slots are cleared for real.
    if (++hashStamp == 0) {
        std::memset(hash, 0, sizeof(hash));
        hashStamp = 1;
    }
    const std::size_t length = std::strlen(formula);
    if (length > Evaluator::kMaxExpressionLength) {
        text[0] = '\0';
        programMode = kFailsEverywhere;
        return;
    }
    std::memcpy(text, formula, length + 1);

    Parser parser(*this, text);
    switch (parser.run()) {
    case Parser::kFailed:
        programMode = kFailsEverywhere;
        return;
    case Parser::kUseEvaluator:
        programMode = kPointByPoint;
        return;
    case Parser::kCompiled:
        break;
    }
    programMode = allocateRegisters() ? kProgram : kPointByPoint;
}

// Turns the nodes (already in evaluation order: operands first) into instructions on registers. A
// register is reused once the last instruction that reads it has run; an instruction may write the
// register it reads, since every operation reads element i before writing element i.
bool CompiledFormula::allocateRegisters() {
    std::int16_t lastUse[kMaxNodes];
    std::uint16_t registerOf[kMaxNodes] = {};
    for (int n = 0; n < nodeCount; ++n)
        lastUse[n] = static_cast<std::int16_t>(n);
    for (int n = 0; n < nodeCount; ++n) {
        const Node& node = nodes[n];
        if (node.op == kOpX)
            continue;
        if (!(node.a & kConstantBit))
            lastUse[node.a] = static_cast<std::int16_t>(n);
        if (isBinary(static_cast<Op>(node.op)) && !(node.b & kConstantBit))
            lastUse[node.b] = static_cast<std::int16_t>(n);
    }
    if (!(root & kConstantBit))
        lastUse[root] = kMaxNodes; // read after the last instruction

    std::uint16_t freeRegisters[kMaxNodes];
    int freeCount = 0;
    int registerCount = 0;
    instructions = 0;
    rootIsX = false;
    // x is read where the caller keeps it: its node has no instruction and no register.
    auto sourceOf = [this](std::uint16_t ref) -> Source {
        if (ref & kConstantBit)
            return kFromConstant;
        return nodes[ref].op == kOpX ? kFromX : kFromRegister;
    };
    for (int n = 0; n < nodeCount; ++n) {
        const Node& node = nodes[n];
        if (node.op == kOpX)
            continue;
        const bool binary = isBinary(static_cast<Op>(node.op));
        const Source sourceA = sourceOf(node.a);
        const Source sourceB = binary ? sourceOf(node.b) : kFromConstant;
        Instruction& in = program[instructions++];
        in.op = node.op;
        in.sourceA = sourceA;
        in.sourceB = sourceB;
        in.a = sourceA == kFromConstant ? static_cast<std::uint16_t>(node.a & ~kConstantBit)
               : sourceA == kFromX      ? 0
                                        : registerOf[node.a];
        in.b = !binary || sourceB == kFromConstant ? static_cast<std::uint16_t>(node.b & ~kConstantBit)
               : sourceB == kFromX                 ? 0
                                                   : registerOf[node.b];
        if (sourceA == kFromRegister && lastUse[node.a] == n)
            freeRegisters[freeCount++] = registerOf[node.a];
        if (binary && sourceB == kFromRegister && lastUse[node.b] == n && node.b != node.a)
            freeRegisters[freeCount++] = registerOf[node.b];
        const std::uint16_t target =
            freeCount > 0 ? freeRegisters[--freeCount] : static_cast<std::uint16_t>(registerCount++);
        registerOf[n] = target;
        in.target = target;
        if (lastUse[n] == n)
            freeRegisters[freeCount++] = target;
    }
    rootIsX = !(root & kConstantBit) && nodes[root].op == kOpX;
    rootRegister = (root & kConstantBit) || rootIsX ? 0 : registerOf[root];
    const int perRegister = registerCount > 0 ? kRegisterDoubles / registerCount : kRegisterDoubles;
    width = perRegister < 64 ? perRegister & ~7 : 64;
    return width >= 8;
}

void CompiledFormula::evaluate(const double* xs, int count, double* results) noexcept {
    if (count > kMaxPoints)
        count = kMaxPoints;
    if (count <= 0)
        return;
    switch (programMode) {
    case kFailsEverywhere:
        for (int i = 0; i < count; ++i)
            results[i] = 0.0;
        return;
    case kPointByPoint: {
        Evaluator evaluator;
        for (int i = 0; i < count; ++i) {
            evaluator.setVariable("x", &xs[i]);
            double result = 0.0;
            int assigned = 0;
            evaluator.evaluate(text, &result, &assigned);
            results[i] = result;
        }
        return;
    }
    case kProgram:
        break;
    }
    if (root & kConstantBit) {
        const double value = constants[root & ~kConstantBit];
        for (int i = 0; i < count; ++i)
            results[i] = value;
        return;
    }
    // Blocks of nearly equal size, none wider than a register.
    const int blocks = (count + width - 1) / width;
    const int perBlock = (count + blocks - 1) / blocks;
    for (int start = 0; start < count; start += perBlock) {
        const int n = count - start < perBlock ? count - start : perBlock;
        runChunk(xs + start, n, results + start);
    }
}

void CompiledFormula::runChunk(const double* xs, int n, double* results) {
    if (checksDivisors)
        std::memset(failed, 0, static_cast<std::size_t>(n));
    for (int k = 0; k < instructions; ++k) {
        const Instruction& in = program[k];
        double* d = registers + in.target * width;
        const double* a = in.sourceA == kFromConstant ? &constants[in.a]
                          : in.sourceA == kFromX      ? xs
                                                      : registers + in.a * width;
        const double* b = in.sourceB == kFromConstant ? &constants[in.b]
                          : in.sourceB == kFromX      ? xs
                                                      : registers + in.b * width;
        const bool constantA = in.sourceA == kFromConstant;
        const bool constantB = in.sourceB == kFromConstant;
        const Op op = static_cast<Op>(in.op);
        switch (op) {
        case kOpAdd:
            binaryLoop(d, a, constantA, b, constantB, n, [](double p, double q) { return p + q; });
            break;
        case kOpSub:
            binaryLoop(d, a, constantA, b, constantB, n, [](double p, double q) { return p - q; });
            break;
        case kOpMul:
            binaryLoop(d, a, constantA, b, constantB, n, [](double p, double q) { return p * q; });
            break;
        case kOpDiv:
        case kOpMod:
            // A zero divisor of either sign fails the point; a NaN divisor divides.
            if (!constantB) {
                for (int i = 0; i < n; ++i)
                    failed[i] |= static_cast<unsigned char>(b[i] == 0.0);
            }
            if (op == kOpDiv)
                binaryLoop(d, a, constantA, b, constantB, n, [](double p, double q) { return p / q; });
            else
                binaryLoop(d, a, constantA, b, constantB, n,
                           [](double p, double q) { return std::fmod(p, q); });
            break;
        case kOpPow:
            binaryLoop(d, a, constantA, b, constantB, n, [](double p, double q) { return std::pow(p, q); });
            break;
        case kOpHypot:
            binaryLoop(d, a, constantA, b, constantB, n, [](double p, double q) { return std::hypot(p, q); });
            break;
        case kOpMin:
            binaryLoop(d, a, constantA, b, constantB, n, minOf);
            break;
        case kOpMax:
            binaryLoop(d, a, constantA, b, constantB, n, maxOf);
            break;
        case kOpNeg:
            unaryLoop(d, a, n, [](double p) { return -p; });
            break;
        case kOpDeg:
            unaryLoop(d, a, n, [](double p) { return p * kDegreesPerRadian; });
            break;
        case kOpRad:
            unaryLoop(d, a, n, [](double p) { return p * kRadiansPerDegree; });
            break;
        case kOpSgn:
            unaryLoop(d, a, n, sgn);
            break;
        case kOpAbs:
            unaryLoop(d, a, n, [](double p) { return std::fabs(p); });
            break;
        case kOpSqrt:
            unaryLoop(d, a, n, [](double p) { return std::sqrt(p); });
            break;
        case kOpFloor:
            unaryLoop(d, a, n, [](double p) { return std::floor(p); });
            break;
        case kOpCeil:
            unaryLoop(d, a, n, [](double p) { return std::ceil(p); });
            break;
        case kOpX: // never an instruction: x is read in place
            break;
        default:
            unaryLoop(d, a, n, kLibraryFunctions[op - kOpSin]);
            break;
        }
    }
    const double* value = rootIsX ? xs : registers + rootRegister * width;
    if (checksDivisors) {
        for (int i = 0; i < n; ++i)
            results[i] = failed[i] ? 0.0 : value[i];
    } else {
        std::memcpy(results, value, static_cast<std::size_t>(n) * sizeof(double));
    }
}
