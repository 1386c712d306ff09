#include "lv2/plugin_text.h"

#include <cmath>
#include <cstdint>

#include "curve/curve_text.h"

namespace waveshapers_lv2 {

namespace {

// Writes value with one decimal as the curve writer does: the exact double rounded at the first dropped
// digit, 5 or more away from zero, the sign kept for values that round to zero. |value| <= 5 + 1e-3
// (grid round trips of +-5 V stay within that), so every result has one integer digit or is 5.0.
std::size_t writeTenths(double value, char16_t* out) {
    std::size_t n = 0;
    if (std::signbit(value))
        out[n++] = u'-';
    const double a = std::fabs(value);
    // k = floor(a x 10) decided exactly: fma rounds once, so its sign is the sign of the exact value.
    double k = std::floor(a * 10.0);
    while (k > 0.0 && std::fma(a, 10.0, -k) < 0.0)
        k -= 1.0;
    while (std::fma(a, 10.0, -(k + 1.0)) >= 0.0)
        k += 1.0;
    if (std::fma(a, 10.0, -(k + 0.5)) >= 0.0)
        k += 1.0;
    const int tenths = static_cast<int>(k);
    const int whole = tenths / 10;
    if (whole >= 10)
        out[n++] = static_cast<char16_t>(u'0' + whole / 10);
    out[n++] = static_cast<char16_t>(u'0' + whole % 10);
    out[n++] = u'.';
    out[n++] = static_cast<char16_t>(u'0' + tenths % 10);
    return n;
}

} // namespace

float clampPointVolts(float volts, float fallback) {
    if (std::isnan(volts))
        return fallback;
    return volts < kPointMinVolts ? kPointMinVolts : (volts > kPointMaxVolts ? kPointMaxVolts : volts);
}

std::size_t writeCurveText(const float (&xVolts)[kCurvePoints], const float (&yVolts)[kCurvePoints],
                           char16_t* out, std::size_t capacity) {
    char16_t text[kMaxCurveTextUnits + 16];
    std::size_t n = 0;
    for (int i = 0; i < kCurvePoints; ++i) {
        // The editor keeps points in grid units and writes them back in volts.
        double x = 0.0;
        double y = 0.0;
        gridToVolts(voltsToGrid(xVolts[i], yVolts[i]), &x, &y);
        text[n++] = u'(';
        n += writeTenths(x, text + n);
        text[n++] = u',';
        n += writeTenths(y, text + n);
        text[n++] = u')';
    }
    const std::size_t count = n < capacity ? n : capacity;
    for (std::size_t i = 0; i < count; ++i)
        out[i] = text[i];
    return count;
}

std::size_t utf16FromUtf8(const char* utf8, std::size_t bytes, char16_t* out, std::size_t capacity) {
    const auto* s = reinterpret_cast<const unsigned char*>(utf8);
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < bytes) {
        const unsigned lead = s[i];
        uint32_t code = 0;
        std::size_t length = 0;
        uint32_t minimum = 0;
        if (lead == 0) {
            return kNotConverted;
        } else if (lead < 0x80) {
            code = lead;
            length = 1;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            code = lead & 0x1Fu;
            length = 2;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            code = lead & 0x0Fu;
            length = 3;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            code = lead & 0x07u;
            length = 4;
            minimum = 0x10000;
        } else {
            return kNotConverted;
        }
        if (length > bytes - i)
            return kNotConverted;
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned next = s[i + k];
            if ((next & 0xC0u) != 0x80u)
                return kNotConverted;
            code = (code << 6) | (next & 0x3Fu);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return kNotConverted;
        if (code >= 0x10000) {
            if (capacity - units < 2)
                return kNotConverted;
            code -= 0x10000;
            out[units++] = static_cast<char16_t>(0xD800 + (code >> 10));
            out[units++] = static_cast<char16_t>(0xDC00 + (code & 0x3FFu));
        } else {
            if (capacity - units < 1)
                return kNotConverted;
            out[units++] = static_cast<char16_t>(code);
        }
        i += length;
    }
    return units;
}

} // namespace waveshapers_lv2
