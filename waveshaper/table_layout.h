// The lookup table both waveshapers fill and shape through, as it lies in the host's shared block.
// Entry i stands for the input sample i / kTableSteps - kTableOffset, that is -5 V + i x 10/512 V; each
// entry holds the output sample for that input. A sample of 1.0 stands for 10 V.
#pragma once

#include <cstdint>

// Intervals between the first entry (-5 V) and the last (+5 V).
constexpr int kTableSteps = 512;
// Entries written and read: one more than the steps, so that +5 V has its own entry.
constexpr int kTableEntries = kTableSteps + 1;
// The index of the last entry, which every input at or beyond +5 V takes.
constexpr int kLastTableEntry = kTableSteps;
// Table positions per unit of input sample, in single precision as the sample loop scales.
constexpr float kTableStepsPerUnit = static_cast<float>(kTableSteps);
// Added to an input sample so that -5 V (sample -0.5) lands on entry 0.
constexpr float kTableOffset = 0.5f;
// A sample of 1.0 stands for this many volts.
constexpr double kVoltsPerUnit = 10.0;
// Volts to samples: multiplied, not divided, so that a value gives the same bits as it always has.
constexpr double kUnitsPerVolt = 0.1;
// The input voltage of entry 0; entry i stands for kTableLowVolts + i x kVoltsPerEntry.
constexpr double kTableLowVolts = -5.0;
// Volts between neighbouring entries, 10/512: exact in binary, so every position is exact too.
constexpr double kVoltsPerEntry = kVoltsPerUnit / kTableSteps;
static_assert(kVoltsPerEntry == 0.01953125, "10/512 V per entry");

// The input voltage that entry i (0 to kTableSteps) stands for: exact, with no rounding at compile
// time or at run time.
constexpr double tableInputVolts(int entry) {
    return entry * kVoltsPerEntry + kTableLowVolts;
}
// The block asked of the host: room for one float beyond the entries, which is never touched.
constexpr int32_t kTableBytes = (kTableEntries + 1) * static_cast<int32_t>(sizeof(float));
static_assert(kTableBytes == 2056, "the host's block size for the table is fixed");
