// Texts on the plugin's real-time path, written into storage the caller prepared: the curve text made
// from the point controls, and formula texts arriving as UTF-8 turned into pin text (UTF-16). Nothing
// here allocates, so run() can call all of it.
#pragma once

#include <cstddef>

#include "lv2/ports.h"

namespace waveshapers_lv2 {

// The longest curve text the writer makes for points within +-5 V: 11 x "(-5.0,-5.0)".
constexpr std::size_t kMaxCurveTextUnits = 11 * 11;

// The curve text the curve editor writes for these points (volts): each point taken to the editor's
// grid and back, each coordinate written with one decimal, rounded from its exact double with ties
// away from zero. Points must be finite and within +-5 V (clampPointVolts). Writes at most capacity
// code units and returns the count written.
std::size_t writeCurveText(const float (&xVolts)[kCurvePoints], const float (&yVolts)[kCurvePoints],
                           char16_t* out, std::size_t capacity);

// A control value as a point coordinate: within -5..+5 V; NaN gives `fallback`.
float clampPointVolts(float volts, float fallback);

// What utf16FromUtf8 returns for bytes that are not well-formed UTF-8 or do not fit.
constexpr std::size_t kNotConverted = static_cast<std::size_t>(-1);

// Converts `bytes` bytes of UTF-8 into UTF-16 code units at out. Returns the count written, or
// kNotConverted (out partly written) when the bytes are not well-formed UTF-8 (overlong forms,
// surrogates, values beyond U+10FFFF, cut sequences and NUL bytes included) or need more than
// capacity code units.
std::size_t utf16FromUtf8(const char* utf8, std::size_t bytes, char16_t* out, std::size_t capacity);

} // namespace waveshapers_lv2
