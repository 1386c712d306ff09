// The curve text reader and writer, shared by the curve editor and the curve-points waveshaper.
#include "curve/curve_text.h"

#include "numbers/float_narrowing.h"
#include "numbers/number_text.h"

#include <string>

const PinText kDefaultCurveText = u"(-5.0,-5.0)(-4.0,-4.0)(-3.0,-3.0)(-2.0,-2.0)(-1.0,-1.0)(0.0,0.0)"
                                  u"(1.0,1.0)(2.0,2.0)(3.0,3.0)(4.0,4.0)(5.0,5.0)";

namespace {

// Position of the first c in text[start..], relative to start, or -1.
long findFrom(const PinText& text, std::size_t start, char16_t c) {
    const std::size_t found = text.find(c, start);
    return found == PinText::npos ? -1 : static_cast<long>(found - start);
}

// Reads the number in the part of the remainder that starts at partStart (relative) and runs for
// length characters; a negative length runs to the end of the remainder, a longer one is cut there.
float readPart(const PinText& text, std::size_t remainderStart, long partStart, long length) {
    const std::size_t begin = remainderStart + static_cast<std::size_t>(partStart);
    std::size_t stop = text.size();
    if (length >= 0 && static_cast<std::size_t>(length) < text.size() - begin)
        stop = begin + static_cast<std::size_t>(length);
    const char16_t* data = text.data();
    // A number beyond the float range reads as an infinity, kept as such in the point.
    return narrowToFloat(readNumber(data + begin, data + stop));
}

} // namespace

int scanCurvePoints(const PinText& text, CurvePoint* points, int maxPoints, bool* incomplete) {
    *incomplete = false;
    int count = 0;
    std::size_t remainderStart = 0; // the remainder is text[remainderStart..]
    while (count < maxPoints && remainderStart < text.size()) {
        // Three independent searches, each from the start of the remainder.
        const long open = findFrom(text, remainderStart, u'(');
        const long comma = findFrom(text, remainderStart, u',');
        const long close = findFrom(text, remainderStart, u')');
        if (close < 1) {
            *incomplete = true;
            break;
        }
        // A missing delimiter (-1) makes its part start at the beginning of the remainder.
        const float x = readPart(text, remainderStart, open + 1, comma - open - 1);
        const float y = readPart(text, remainderStart, comma + 1, close - comma - 1);
        points[count] = voltsToGrid(x, y);
        ++count;
        remainderStart += static_cast<std::size_t>(close) + 1;
    }
    return count;
}

void parseCurveText(const PinText& text, CurvePoint (&points)[kCurvePointCount]) {
    bool incomplete = false;
    scanCurvePoints(text.empty() ? kDefaultCurveText : text, points, kCurvePointCount, &incomplete);
}

PinText formatCurveText(const CurvePoint (&points)[kCurvePointCount]) {
    std::string ascii;
    for (const CurvePoint& point : points) {
        double x = 0.0;
        double y = 0.0;
        gridToVolts(point, &x, &y);
        ascii += '(';
        ascii += formatFixed(x, 1, 3);
        ascii += ',';
        ascii += formatFixed(y, 1, 3);
        ascii += ')';
    }
    return PinText(ascii.begin(), ascii.end());
}

void gridToVolts(const CurvePoint& point, double* xVolts, double* yVolts) {
    *xVolts = static_cast<double>(point.x) * 0.1 - 5.0;
    *yVolts = 5.0 - static_cast<double>(point.y) * 0.1;
}

CurvePoint voltsToGrid(float xVolts, float yVolts) {
    CurvePoint point;
    point.x = xVolts * 10.0f + 50.0f;
    point.y = 50.0f - yVolts * 10.0f;
    return point;
}
