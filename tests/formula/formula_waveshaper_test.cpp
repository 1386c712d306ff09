// The formula module's table, driven as a host drives it: created through the factory, opened, and
// handed its formula as a pin-0 value event; the table is read from the host's shared memory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "evaluator/evaluator.h"
#include "evaluator/formula_generator.h"
#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "host/event_list.h"
#include "host/raw_calls.h"
#include "host/stand_in_processing_host.h"
#include "support/formula_reference.h"
#include "waveshaper/formula_waveshaper.h"
#include "waveshaper/table_layout.h"

namespace {

using namespace mphost;

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

// Position i stands for x = i x 10/512 - 5 V.
double xAt(int i) {
    return i * kVoltsPerEntry + kTableLowVolts;
}

// The entry for an output of `volts`: volts x 0.1 narrowed to float, 0 for anything not finite.
float entryFor(double volts) {
    const double sample = volts * 0.1;
    if (!std::isfinite(sample) || std::fabs(sample) > std::numeric_limits<float>::max())
        return 0.0f;
    return static_cast<float>(sample);
}

class FormulaModule : public ::testing::Test {
protected:
    void SetUp() override {
        pool.fill = 0x7F; // fresh memory holds 3.4e38 in every float, never a valid entry
        host.logging = false;
        ASSERT_EQ(
            MpFactory::instance()->createInstance(kFormulaWaveshaperId, kProcessingModule, &host, &module),
            gmpi::kResultOk);
        ASSERT_NE(module, nullptr);
        ASSERT_EQ(raw::plugin::open(module), gmpi::kResultOk);
        table = static_cast<const float*>(pool.find(L"DV waveshaper3 2b curve"));
        ASSERT_NE(table, nullptr);
    }
    void TearDown() override {
        if (module != nullptr)
            raw::release(module);
    }

    void send(const PinText& formula) {
        EventList events;
        events.pinValue(0, kWaveshaperTextPin, formula);
        raw::plugin::processBlock(module, 0, events.head());
    }
    void send(const std::string& utf8) { send(pinTextFromUtf8(utf8)); }

    void expectTable(const std::function<double(double)>& volts) {
        for (int i = 0; i < kTableEntries; ++i)
            ASSERT_EQ(table[i], entryFor(volts(xAt(i)))) << "entry " << i;
    }
    void expectAllZero() {
        for (int i = 0; i < kTableEntries; ++i)
            ASSERT_EQ(table[i], 0.0f) << "entry " << i;
    }

    SharedMemoryPool pool;
    ProcessingHost host{pool, 0x2b};
    void* module = nullptr;
    const float* table = nullptr;
};

TEST_F(FormulaModule, IdentityIsExactAndLeavesTheLastFloatAlone) {
    send("x");
    expectTable([](double x) { return x; });
    EXPECT_EQ(table[0], -0.5f);
    EXPECT_EQ(table[256], 0.0f);
    EXPECT_EQ(table[512], 0.5f);
    unsigned char beyond[4];
    std::memcpy(beyond, &table[kTableEntries], 4);
    EXPECT_EQ(beyond[0], 0x7F);
    EXPECT_EQ(beyond[3], 0x7F);
}

struct FormulaCase {
    const char* formula;
    double (*volts)(double x); // kNoValue where the formula fails
};

std::ostream& operator<<(std::ostream& out, const FormulaCase& c) {
    return out << '"' << c.formula << '"';
}

class FormulaTables : public FormulaModule, public ::testing::WithParamInterface<FormulaCase> {};

TEST_P(FormulaTables, EveryEntryFollowsTheFormula) {
    send(GetParam().formula);
    expectTable(GetParam().volts);
}

INSTANTIATE_TEST_SUITE_P(
    Formulas, FormulaTables,
    ::testing::Values(FormulaCase{"1/x", [](double x) { return x == 0.0 ? kNoValue : 1.0 / x; }},
                      FormulaCase{"sqrt(x)", [](double x) { return std::sqrt(x); }},
                      FormulaCase{"log(x)", [](double x) { return std::log(x); }},
                      FormulaCase{"X*X", [](double x) { return x * x; }},
                      FormulaCase{"2*x^2", [](double x) { return 2.0 * std::pow(x, 2.0); }},
                      FormulaCase{"a=x*2", [](double x) { return x * 2.0; }},
                      FormulaCase{"tanh(3*x)/tanh(3)*5",
                                  [](double x) { return std::tanh(3.0 * x) / std::tanh(3.0) * 5.0; }},
                      FormulaCase{"-x^2", [](double x) { return std::pow(-x, 2.0); }},
                      FormulaCase{"x)\xC3\xA9",
                                  [](double x) { return x; }}, // parsing ends before the character
                      FormulaCase{"10^39", [](double) { return std::pow(10.0, 39.0); }},
                      FormulaCase{"10^40", [](double) { return kNoValue; }}, // beyond float range
                      FormulaCase{"exp(1000)", [](double) { return kNoValue; }},
                      FormulaCase{"x+", [](double) { return kNoValue; }},
                      FormulaCase{"", [](double) { return kNoValue; }},
                      FormulaCase{"x*\xC3\xA9", [](double) { return kNoValue; }},
                      FormulaCase{"\xE2\x88\x9A"
                                  "x",
                                  [](double) { return kNoValue; }}));

TEST_F(FormulaModule, SpotValues) {
    send("1/x");
    EXPECT_EQ(table[256], 0.0f);
    EXPECT_EQ(table[257], static_cast<float>(51.2 * 0.1));
    send("2*x^2");
    EXPECT_EQ(table[0], 5.0f);
    EXPECT_EQ(table[512], 5.0f);
    send("log(x)");
    EXPECT_EQ(table[256], 0.0f);
    EXPECT_EQ(table[255], 0.0f);
    EXPECT_LT(table[257], 0.0f);
}

// One evaluator serves a whole rebuild; a new rebuild starts with no variables.
TEST_F(FormulaModule, VariablesCarryOverWithinOneRebuildOnly) {
    auto expectRunningSum = [this] {
        double e = 2.718281828459045;
        for (int i = 0; i < kTableEntries; ++i) {
            e += 0.01953125;
            ASSERT_EQ(table[i], entryFor(e)) << "entry " << i;
        }
    };
    send("e=e+0.01953125"); // the constant e at the first position, the variable from then on
    expectRunningSum();
    send("e=e+0.01953125");
    expectRunningSum();
}

TEST_F(FormulaModule, FailureOverwritesTheWholeTable) {
    send("x");
    send("(");
    expectAllZero();
}

TEST_F(FormulaModule, TheFormulaEndsAtTheFirstNul) {
    send(PinText(u"x\0+1", 4));
    expectTable([](double x) { return x; });
}

// The limit counts UTF-8 bytes: 499 bytes are evaluated, 500 give an all-zero table.
TEST_F(FormulaModule, OverlongFormulasGiveSilence) {
    send("x" + std::string(498, ' '));
    expectTable([](double x) { return x; });
    send("x" + std::string(499, ' '));
    expectAllZero();
    send(std::string(100000, '1'));
    expectAllZero();
    // 499 UTF-16 code units, but "é" takes two bytes: 500 bytes in all.
    send(u"x)" + PinText(496, u' ') + u"\u00E9");
    expectAllZero();
    send(u"x)" + PinText(495, u' ') + u"\u00E9");
    expectTable([](double x) { return x; });
}

// The table a rebuild leaves, bit for bit, is the one 513 evaluate calls of one fresh evaluator give
// (each after setVariable x), made into entries by formulaTableEntry; a text over 499 UTF-8 bytes
// leaves zeros. Generated formulas of every kind, sent as a host sends them.
TEST_F(FormulaModule, TableIsTheEvaluatorsBitForBit) {
    std::vector<std::string> formulas = {"tanh(3*x)/tanh(3)*5",
                                         "5*sin(x*pi/7)",
                                         "e=e+0.01953125",
                                         "1/x",
                                         "x)\xC3\xA9",
                                         "x*\xC3\xA9",
                                         "x" + std::string(498, ' '),
                                         "x" + std::string(499, ' ')};
    formulagen::Generator generator(2026);
    for (int i = 0; i < 300; ++i)
        formulas.push_back(generator.next());
    double xs[kTableEntries];
    for (int i = 0; i < kTableEntries; ++i)
        xs[i] = xAt(i);
    for (const std::string& formula : formulas) {
        float expected[kTableEntries];
        if (formula.size() > Evaluator::kMaxExpressionLength) {
            for (float& e : expected)
                e = 0.0f;
        } else {
            double values[kTableEntries];
            formularef::referenceValues(formula.c_str(), xs, kTableEntries, values);
            for (int i = 0; i < kTableEntries; ++i)
                expected[i] = formulaTableEntry(values[i]);
        }
        send(formula);
        ASSERT_EQ(std::memcmp(expected, table, sizeof(expected)), 0) << '"' << formula << '"';
    }
}

} // namespace
