// A formula read once and evaluated at many values of x, with the same results as an Evaluator that
// is given each x in turn (setVariable("x") then evaluate), bit for bit.
//
// The evaluator's parser (formula_parser.h) reads the text and this class builds from it a small
// program: constants are folded, a pure function of the same operands is
// computed once per point, and each operation runs over a block of points at a time, so + - * / are
// vector arithmetic and the library functions are called per element, the same C functions the
// Evaluator calls. A formula whose meaning carries from one point to the next (an assignment or a
// deletion is reached) is handed to an Evaluator point by point in order instead.
//
// All storage is fixed and inside the object; compile and evaluate allocate nothing and throw nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "evaluator/formula_limits.h"

class CompiledFormula {
public:
    static constexpr int kMaxPoints = 513;

    // [any thread] Reads a NUL-terminated formula (null reads as empty). Allocates nothing.
    void compile(const char* formula) noexcept;

    // [processing thread] For i = 0 to count - 1 (count at most kMaxPoints) writes to results[i] what the
    // i-th evaluate of a fresh Evaluator stores, each call preceded by setVariable("x", &xs[i]): the
    // value, or 0.0 where that call fails. Allocates nothing.
    void evaluate(const double* xs, int count, double* results) noexcept;

    // How the last compiled formula is evaluated.
    enum Mode : std::uint8_t {
        kFailsEverywhere, // every call fails, whatever x is (also before anything is compiled)
        kProgram,         // the compiled program
        kPointByPoint,    // an Evaluator, point by point
    };
    Mode mode() const { return programMode; }

    // Instructions of the compiled program (0 unless mode() is kProgram).
    int instructionCount() const { return programMode == kProgram ? instructions : 0; }

private:
    static constexpr int kMaxNodes = 512;
    static constexpr int kMaxConstants = 1024;
    // Every node and constant takes one slot, so the table is never more than three quarters full.
    static constexpr int kHashBits = 11;
    static constexpr int kHashSlots = 1 << kHashBits;
    static_assert(kMaxNodes + kMaxConstants <= kHashSlots * 3 / 4, "the hash table always has free slots");
    // Registers of `width` points each; up to 64 registers are 64 points wide.
    static constexpr int kRegisterDoubles = 4096;
    // Operand references: an instruction's index, or a constant's index with this bit set.
    static constexpr std::uint16_t kConstantBit = 0x8000;

    struct Node {
        std::uint8_t op;
        std::uint16_t a;
        std::uint16_t b;
    };
    struct Instruction {
        std::uint8_t op;
        std::uint8_t sourceA; // a Source: what a names
        std::uint8_t sourceB;
        std::uint16_t target;
        std::uint16_t a;
        std::uint16_t b;
    };
    enum Source : std::uint8_t { kFromRegister, kFromConstant, kFromX };
    struct HashSlot {
        std::uint64_t key;
        std::uint32_t stamp; // equal to hashStamp when the slot is taken in this compile
        std::uint16_t value;
        std::uint8_t kind; // a node or a constant
    };

    // What the formula parser builds here: the folded, shared expression graph.
    class GraphBuilder;
    friend class GraphBuilder;

    bool allocateRegisters();
    void runChunk(const double* xs, int count, double* results);

    char text[formula::kMaxExpressionLength + 1] = {};
    Mode programMode = kFailsEverywhere;

    Node nodes[kMaxNodes];
    int nodeCount = 0;
    double constants[kMaxConstants];
    int constantCount = 0;
    std::uint16_t root = 0;
    bool checksDivisors = false; // some / or % divides by a value that can be zero at a point

    HashSlot hash[kHashSlots] = {};
    std::uint32_t hashStamp = 0;

    Instruction program[kMaxNodes];
    int instructions = 0;
    std::uint16_t rootRegister = 0;
    bool rootIsX = false;
    int width = 0; // points per block: each register holds this many values

    alignas(64) double registers[kRegisterDoubles];
    unsigned char failed[kMaxPoints];
};
