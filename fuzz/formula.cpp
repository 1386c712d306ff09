// Formulas from anywhere: the evaluator on arbitrary bytes (over-long texts and tokens included), with
// a fresh evaluator and with one whose variable records fill up over the run, and the formula module's
// table builder driven through the module's interface table.
//
// Input: the bytes are the formula's UTF-8 form; the module receives their UTF-16 form as pin text.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "evaluator/evaluator.h"
#include "fuzz/text_module.h"
#include "reliability/rig.h"
#include "waveshaper/table_layout.h"

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "formula fuzz: %s\n", what);
    std::abort();
}

void checkCode(int code) {
    if (code < kErrorNone || code > kErrorTooLong)
        fail("evaluate returned an unknown code");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The evaluator reads up to the first NUL: give it exactly the input plus a terminator, in its
    // own allocation so a read past the end is caught.
    std::unique_ptr<char[]> formula(new char[size + 1]);
    if (size > 0)
        std::memcpy(formula.get(), data, size);
    formula[size] = '\0';

    {
        Evaluator fresh;
        double result = 1.0;
        int assigned = -1;
        const int code = fresh.evaluate(formula.get(), &result, &assigned);
        checkCode(code);
        if (code != kErrorNone && result != 0.0)
            fail("a failed evaluation did not store 0");
        if (code == kErrorNone && assigned != 0 && assigned != 1)
            fail("the assigned flag is neither 0 nor 1");
        // Null result and flag pointers and a null expression are answered, not dereferenced.
        checkCode(fresh.evaluate(formula.get(), nullptr, nullptr));
        checkCode(fresh.evaluate(nullptr, &result, &assigned));
    }
    {
        // Assignments accumulate over the run until all 50 records are taken.
        static Evaluator lasting;
        double result = 0.0;
        int assigned = 0;
        const double x = static_cast<double>(size) * kVoltsPerEntry + kTableLowVolts;
        lasting.setVariable("x", &x);
        checkCode(lasting.evaluate(formula.get(), &result, &assigned));
        double read = 0.0;
        lasting.getVariable(formula.get(), &read);
        lasting.deleteVariable(formula.get());
    }

    static FuzzTextModule shaper("formula", kFormulaWaveshaperId, 0xf00);
    if (!shaper.valid())
        return 0; // the formula module is not in this build: the evaluator alone is fuzzed
    shaper.sendTextAndCheck(pinTextFromUtf8(std::string(reinterpret_cast<const char*>(data), size)));
    return 0;
}
