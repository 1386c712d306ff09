#include "evaluator/compiled_formula.h"

#include <cmath>
#include <cstring>

#include "evaluator/evaluator.h"
#include "evaluator/formula_language.h"
#include "evaluator/formula_parser.h"

// Vectorised library functions (fast-math builds may substitute them) would change the results' bits.
#ifdef __FAST_MATH__
#error "compiled_formula.cpp must call the scalar library functions: build it without fast-math"
#endif

namespace {

using namespace formula;

// One operation on scalars: constant folding uses it, so a folded value is the value every point
// would compute.
double applyScalar(Op op, double a, double b) {
    const ScalarFunction function = scalarOf(op);
    return function != nullptr ? function(a, b) : applyOperator(op, a, b);
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

// Builds nodes where the evaluator computes values, from the same parser. It ends the parse where the
// evaluator would stop at every point: at the first error that does not depend on x, and at the first
// assignment (from there on the meaning depends on what earlier points left behind).
class CompiledFormula::GraphBuilder {
public:
    using Value = std::uint16_t;

    // kFailed: every evaluation fails whatever x is. kUseEvaluator: an assignment is reached, or the
    // program would not fit its storage.
    enum Outcome { kCompiled, kFailed, kUseEvaluator };

    explicit GraphBuilder(CompiledFormula& owner) : f(owner) {}

    Outcome outcome = kCompiled;

    bool number(double value, std::uint16_t* out) { return constant(value, out); }
    // Without assignments the only variable is x; other names are the language's constants.
    bool name(const char* key, std::uint16_t* out) {
        if (std::strcmp(key, "x") == 0)
            return make(kOpX, 0, 0, out);
        double named = 0.0;
        if (!findConstant(key, &named))
            return stop(kFailed);
        return constant(named, out);
    }
    bool unary(Op op, std::uint16_t a, std::uint16_t* out) { return make(op, a, 0, out); }
    bool binary(Op op, std::uint16_t a, std::uint16_t b, std::uint16_t* out) { return make(op, a, b, out); }
    bool call(const Function& function, const std::uint16_t* args, std::uint16_t* out) {
        return make(function.op, args[0], args[1], out);
    }
    bool beginAssignment() { return stop(kUseEvaluator); }
    bool assign(const char*, std::uint16_t) { return stop(kUseEvaluator); }
    void remove(const char*) { stop(kUseEvaluator); }
    void fail(EvaluatorError) { stop(kFailed); }

private:
    enum : std::uint64_t { kKindNode = 1, kKindConstant = 2 };

    bool stop(Outcome why) {
        if (outcome == kCompiled)
            outcome = why;
        return false;
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
            return stop(kUseEvaluator); // too large to compile: the evaluator does it
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
            return stop(kFailed);
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
            return stop(kUseEvaluator);
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

    CompiledFormula& f;
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
    if (length > formula::kMaxExpressionLength) {
        text[0] = '\0';
        programMode = kFailsEverywhere;
        return;
    }
    std::memcpy(text, formula, length + 1);

    GraphBuilder builder(*this);
    formula::Parser<GraphBuilder> parser(text, builder);
    std::uint16_t value = 0;
    bool isAssignment = false;
    if (parser.parse(&value, &isAssignment))
        root = value;
    switch (builder.outcome) {
    case GraphBuilder::kFailed:
        programMode = kFailsEverywhere;
        return;
    case GraphBuilder::kUseEvaluator:
        programMode = kPointByPoint;
        return;
    case GraphBuilder::kCompiled:
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
            binaryLoop(d, a, constantA, b, constantB, n, scalar::min);
            break;
        case kOpMax:
            binaryLoop(d, a, constantA, b, constantB, n, scalar::max);
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
            unaryLoop(d, a, n, [](double p) { return scalar::sgn(p, 0.0); });
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
        default: {
            // The library functions of one argument, called per element.
            const ScalarFunction function = scalarOf(op);
            unaryLoop(d, a, n, [function](double p) { return function(p, 0.0); });
            break;
        }
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
