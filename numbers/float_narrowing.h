// Narrowing a double to single precision without undefined behaviour: a cast of a value beyond the
// float range is undefined, so each form tests the magnitude first.
#pragma once

#include <cmath>
#include <limits>

// FLT_MAX plus half a unit in its last place: a double of this magnitude or more rounds to an
// infinite float, one below it to a finite float.
constexpr double kFloatOverflowThreshold = 0x1.ffffffp127;

// Round-to-nearest, as the hardware narrows: beyond the float range +-infinity, NaN stays NaN.
inline float narrowToFloat(double value) {
    if (value >= kFloatOverflowThreshold)
        return std::numeric_limits<float>::infinity();
    if (value <= -kFloatOverflowThreshold)
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

// Round-to-nearest, but a value that is not finite as a float (NaN, infinities, overflow) gives 0:
// what a lookup table stores, so that no entry can poison the interpolation.
inline float narrowToFiniteFloat(double value) {
    if (!(std::fabs(value) < kFloatOverflowThreshold))
        return 0.0f;
    return static_cast<float>(value);
}
