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

// Writes value like "%W.Df" with "." as the point: the exact double brought to `decimals` digits after
// the point, a tie (first dropped digit 5 or more) rounded away from zero, right-aligned with spaces in
// minWidth characters. Negative values that round to zero keep their sign ("-0.0"). Every integer digit
// is written, however large the value. Non-finite values are written "inf", "-inf" or "nan" (also
// padded to minWidth).
std::string formatFixed(double value, int decimals, int minWidth);
