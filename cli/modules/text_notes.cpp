#include "cli/modules/text_notes.h"

#include <algorithm>
#include <cmath>

#include "cli/common/cli_error.h"
#include "cli/common/text_args.h"
#include "cli/modules/module_library.h"
#include "curve/curve_text.h"
#include "evaluator/evaluator.h"
#include "factory/module_ids.h"

namespace shaperhost {

namespace {

const char* const kCurveModule = kCurveWaveshaperIdNarrow;
const char* const kFormulaModule = kFormulaWaveshaperIdNarrow;

const char* errorName(int code) {
    switch (code) {
    case kErrorSyntax:
        return "syntax error";
    case kErrorUnbalancedParentheses:
        return "a missing \")\"";
    case kErrorDivisionByZero:
        return "division by zero";
    case kErrorUnknownVariable:
        return "unknown variable";
    case kErrorTooManyVariables:
        return "too many variables";
    case kErrorUnknownFunction:
        return "unknown function";
    case kErrorWrongArgumentCount:
        return "wrong number of arguments";
    case kErrorMissingValue:
        return "a value is missing";
    case kErrorEmptyExpression:
        return "empty formula";
    case kErrorTooLong:
        return "a number or name too long";
    default:
        return "error";
    }
}

void formulaNotes(const std::string& text, std::vector<std::string>& notes) {
    // The module reads the text up to its first NUL, as UTF-8.
    const std::string formula = utf8FromPinText(pinText(text));
    if (formula.size() > Evaluator::kMaxExpressionLength) {
        notes.push_back("the formula is longer than " + std::to_string(Evaluator::kMaxExpressionLength) +
                        " bytes: the module outputs 0 V everywhere, so the output is silent");
        return;
    }
    // The table as the module builds it: one evaluator, x set before each of the 513 positions.
    Evaluator evaluator;
    int failed = 0;
    int firstCode = kErrorNone;
    double firstVolts = 0.0;
    // Where the module stops reading: the first token that cannot continue the formula. Which tokens
    // the parse takes does not depend on x (only an error ends it early), so any position where the
    // formula evaluates tells.
    std::size_t unread = formula.size();
    bool unreadKnown = false;
    for (int i = 0; i < kTableEntries; ++i) {
        const double x = tableInputVolts(i);
        evaluator.setVariable("x", &x);
        double result = 0.0;
        int assigned = 0;
        std::size_t stopped = 0;
        const int code = evaluator.evaluate(formula.c_str(), &result, &assigned, &stopped);
        if (code != kErrorNone && failed++ == 0) {
            firstCode = code;
            firstVolts = x;
        }
        if (code == kErrorNone && !unreadKnown) {
            unread = stopped;
            unreadKnown = true;
        }
    }
    if (failed == kTableEntries) {
        notes.push_back("the formula cannot be evaluated (error " + std::to_string(firstCode) + ", " +
                        errorName(firstCode) +
                        "): the module outputs 0 V everywhere, so the output is silent");
        return;
    }
    if (failed > 0)
        notes.push_back("the formula cannot be evaluated at " + std::to_string(failed) + " of the " +
                        std::to_string(kTableEntries) + " table points (first at x = " +
                        formatDouble(firstVolts) + " V, error " + std::to_string(firstCode) + ", " +
                        errorName(firstCode) + "): the module outputs 0 V there");
    const std::string read = formula.substr(0, unread);
    const long missing = static_cast<long>(std::count(read.begin(), read.end(), '(')) -
                         static_cast<long>(std::count(read.begin(), read.end(), ')'));
    if (missing > 0)
        notes.push_back("the formula lacks " + std::to_string(missing) +
                        " closing \")\": the module reads it as if they stood at its end");
    if (formula.find_first_not_of(" \t\r\n", unread) != std::string::npos)
        notes.push_back("the formula stops before \"" + formula.substr(unread) +
                        "\": the module ignores the text from there on");
}

void curveNotes(const std::string& text, std::vector<std::string>& notes) {
    const PinText pin = pinText(text);
    if (pin.empty())
        return; // the module takes the default curve
    // One point more than the module reads shows whether there are extra points.
    CurvePoint points[kCurvePointCount + 1];
    bool incomplete = false;
    const int count = scanCurvePoints(pin, points, kCurvePointCount + 1, &incomplete);
    if (count == 0 || (incomplete && count < kCurvePointCount)) {
        notes.push_back(count == 0
                            ? std::string("the curve text holds no point \"(x,y)\"")
                            : "the curve text's point " + std::to_string(count + 1) + " lacks its \")\"");
        notes.back() += ": the module ignores the text and keeps the curve it had";
        return;
    }
    if (count > kCurvePointCount || (count == kCurvePointCount && incomplete))
        notes.push_back("the curve text goes on after its " + std::to_string(kCurvePointCount) +
                        "th point: the module uses the first " + std::to_string(kCurvePointCount) +
                        " points and ignores the rest");
    else if (count < kCurvePointCount)
        notes.push_back("the curve text has " + std::to_string(count) + " of " +
                        std::to_string(kCurvePointCount) +
                        " points: the module repeats the last one for the rest");
    const int used = count < kCurvePointCount ? count : kCurvePointCount;
    for (int k = 0; k < used; ++k) {
        if (!std::isfinite(points[k].x) || !std::isfinite(points[k].y)) {
            notes.push_back("the curve text's point " + std::to_string(k + 1) +
                            " is not a finite number: the module gives 0 V where that makes the curve "
                            "infinite or undefined");
            break;
        }
    }
}

} // namespace

std::vector<std::string> textNotes(const std::string& moduleId, const std::string& text) {
    std::vector<std::string> notes;
    // A text travels to the module as a terminated string: a NUL byte ends it there.
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos && (moduleId == kFormulaModule || moduleId == kCurveModule))
        notes.push_back("the text holds a NUL byte after " + std::to_string(nul) +
                        " bytes: the module reads it only up to there");
    if (moduleId == kFormulaModule)
        formulaNotes(text, notes);
    else if (moduleId == kCurveModule)
        curveNotes(text, notes);
    return notes;
}

void printTextNotes(std::ostream& out, const std::string& moduleId, const std::string& text,
                    const std::string& where) {
    for (const std::string& note : textNotes(moduleId, text))
        out << kProgramPrefix << "note: " << where << note << "\n";
}

} // namespace shaperhost
