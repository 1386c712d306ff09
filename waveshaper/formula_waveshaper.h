// The formula waveshaper: its text pin carries an arithmetic formula in x, the input voltage, whose
// value is the output voltage; the table holds the formula's value at each of the 513 positions.
#pragma once

#include "evaluator/compiled_formula.h"
#include "waveshaper/waveshaper.h"

// The formula waveshaper module.
class Waveshaper2b : public Waveshaper {
public:
    // [processing thread] Evaluates the formula at x = -5 V + i x 10/512 V for i = 0 to 512 as one
    // evaluator given each x in turn would, so a variable the formula assigns at one position is
    // still set at the next. Writes all 513 entries; a position where the formula fails, or gives a
    // value that is not finite as a float, holds 0. Allocates nothing: the formula's UTF-8 form lives
    // on the stack and its compiled form in the module.
    void rebuildTable() override;

private:
    CompiledFormula compiled;
};

// The table entry for a formula value in volts: value x 0.1 in single precision, or 0 when the value
// or its single-precision form is not finite.
float formulaTableEntry(double volts);
