#include "waveshaper/formula_waveshaper.h"
#include "factory/module_ids.h"
#include "numbers/float_narrowing.h"

#include "factory/mp_factory.h"
#include "factory/pin_text.h"

namespace {

gmpi::IMpUnknown* createWaveshaper2b() {
    return static_cast<gmpi::IMpPlugin*>(new Waveshaper2b());
}

static_assert(kTableEntries <= CompiledFormula::kMaxPoints, "the compiled formula covers the whole table");

struct Positions {
    double x[kTableEntries];
};

constexpr Positions makePositions() {
    Positions p{};
    for (int i = 0; i < kTableEntries; ++i)
        p.x[i] = tableInputVolts(i);
    return p;
}

constexpr Positions kPositions = makePositions();

} // namespace

static const ModuleRegistration registration(kFormulaWaveshaperId, kProcessingModule, &createWaveshaper2b);

float formulaTableEntry(double volts) {
    return narrowToFiniteFloat(volts * kUnitsPerVolt);
}

void Waveshaper2b::rebuildTable() {
    if (table == nullptr)
        return;
    // The formula up to its first NUL, as UTF-8: non-ASCII characters start no token. A formula
    // longer than the evaluator takes fails at every position, as the evaluator would report it.
    char formula[formula::kMaxExpressionLength + 1];
    if (utf8FromPinText(textPin.value, formula, sizeof(formula)) > formula::kMaxExpressionLength) {
        for (int i = 0; i < kTableEntries; ++i)
            table[i] = 0.0f;
        return;
    }
    // A failing position gives 0.0, as evaluate stores on an error.
    double values[kTableEntries];
    compiled.compile(formula);
    compiled.evaluate(kPositions.x, kTableEntries, values);
    for (int i = 0; i < kTableEntries; ++i)
        table[i] = formulaTableEntry(values[i]);
}
