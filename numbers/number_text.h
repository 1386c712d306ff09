// Number reading and writing that never depends on the process locale: "." is always the decimal point.
#pragma once

#include <string>

// Reads a number from [begin, end) with the C locale's wide string-to-double syntax: leading white
// space (space, \t \n \v \f \r), optional sign, then decimal digits with an optional "." fraction and
// an optional exponent (an "e" without digits is not part of the number), "inf"/"infinity",
// "nan"/"nan(chars)" in any case, or a hexadecimal float such as "0x1.8p3". Reading stops at the first
// character that cannot continue the number; the rest is ignored. No number gives 0. The result is the
// correctly rounded double (overflow gives +-inf, underflow +-0 or a subnormal).
double readNumber(const char16_t* begin, const char16_t* end);

// How formatFixed rounds and signs.
enum class FixedStyle {
    // The first dropped digit 5 or more rounds away from zero; a negative value that rounds to zero
    // keeps its sign ("-0.0"). The curve text and the editor's labels.
    kAwayFromZero,
    // As "%.Df" prints in the C library: a tie (the exact value halfway) goes to the even neighbour;
    // a value whose magnitude is below half a unit of the last digit is written as 0 without a sign,
    // and a NaN with its sign bit set as "-nan". The command-line host's reports.
    kReport,
};

// Writes value like "%W.Df" with "." as the point: the exact double brought to `decimals` digits after
// the point, rounded as `style` says, right-aligned with spaces in minWidth characters. Every integer
// digit is written, however large the value. Non-finite values are written "inf", "-inf" or "nan"
// (also padded to minWidth).
std::string formatFixed(double value, int decimals, int minWidth,
                        FixedStyle style = FixedStyle::kAwayFromZero);

// A report's number (FixedStyle::kReport) without padding.
inline std::string formatFixed(double value, int decimals) {
    return formatFixed(value, decimals, 0, FixedStyle::kReport);
}
