// Command-line values: module texts given inline or in a file, timed text changes, numbers read
// independently of the process locale.
#pragma once

#include <string>

#include "cli/common/cli_error.h"
#include "numbers/number_text.h"

namespace shaperhost {

// The module text: `text` when given, else the contents of `file` (line breaks, spaces and tabs at its
// end dropped),
// else `fallback`. A file that does not exist is a usage error that says so, with a hint when the name
// looks like a module text given where a file was expected; a folder, an unreadable file and a file
// over kMaxTextFileBytes (also an endless one such as a device) are failures that say which.
std::string moduleText(const std::string& text, const std::string& file, const std::string& fallback);

// The longest time a time option takes, in seconds (about 116 days): longer than any audio file, and
// short enough that times the highest sample rate stays an exact sample number.
constexpr double kMaxSeconds = 1.0e7;

// The largest text file read: a formula takes at most 499 characters and a curve text about 150.
constexpr long long kMaxTextFileBytes = 1024 * 1024;

// "SECONDS:TEXT" (e.g. "1.5:(-5,-5)...") split at its first colon. Malformed values are usage errors.
struct TimedText {
    double seconds = 0.0;
    std::string text;
};
TimedText parseTimedText(const std::string& value);

// The contents of a small text file, read in pieces up to `limit` bytes; `what` names the file in the
// messages ("the text file", "the module description file").
std::string readSmallFile(const std::string& path, long long limit, const std::string& what);

// A decimal number with "." as the decimal point whatever the locale, with at most one sign; false
// when not all of it reads. Every number option is read by this (directly or through readQuantity).
bool readNumber(const std::string& text, double* value);

// A finite number, optionally followed by the unit "dB" or "dBFS" in any letter case (spaces allowed
// before the unit): "0.5", "-6dB", "-6 dB", "+3DB", "-1 dBFS". False for anything else.
struct Quantity {
    double value = 0.0;
    bool decibels = false;
};
bool readQuantity(const std::string& text, Quantity* quantity);

// The one form of a message about an option's value: "OPTION: 'TEXT' is not EXPECTED", a usage error.
CliError badOptionValue(const std::string& option, const std::string& text, const std::string& expected);

// A gain: a factor within +-kMaxGainFactor, or decibels from kMinGainDb to kMaxGainDb. Returns the
// factor; otherwise a usage error in the form above.
constexpr double kMaxGainFactor = 1.0e6; // 120 dB
constexpr double kMaxGainDb = 120.0;
constexpr double kMinGainDb = -400.0;
double readGain(const std::string& text, const std::string& option);

// A level in dBFS at or below 0 (and not below kMinGainDb); a bare number is taken as dB. Returns the
// level in dB; otherwise a usage error in the form above.
double readLevelDb(const std::string& text, const std::string& option);

// Shortest text that reads back to exactly this value ("." as the decimal point).
std::string formatFloat(float value);
std::string formatDouble(double value);
// Fixed notation with `decimals` digits after the point: formatFixed(value, decimals) of
// numbers/number_text.h, as reports write numbers.

// True when the name looks like curve points or a formula rather than a file name.
bool looksLikeModuleText(const std::string& name);

} // namespace shaperhost
