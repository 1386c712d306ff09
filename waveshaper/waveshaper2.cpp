#include "waveshaper/waveshaper2.h"

#include <cmath>

#include "curve_editor/curve_text.h"
#include "factory/mp_factory.h"

namespace {

// Table position of a grid x: 0 for -5 V, 256 for 0 V, 512 for +5 V.
double tablePosition(const CurvePoint& point) {
    return static_cast<double>(point.x * 512.0f) * 0.01;
}

// The end index of a segment: its position truncated toward zero, at most 512. Positions below 1
// (NaN included) end at 0, where no segment writes; testing first keeps the conversion in range.
int32_t endIndex(double position) {
    if (position >= 512.0)
        return 512;
    if (position >= 1.0)
        return static_cast<int32_t>(position);
    return 0;
}

// Narrows to single precision; a value that is not finite there is stored as 0.
float finiteEntry(double value) {
    // Beyond this magnitude (FLT_MAX plus half a unit in the last place) the float would be infinite.
    if (!(std::fabs(value) < 0x1.ffffffp127))
        return 0.0f;
    return static_cast<float>(value);
}

gmpi::IMpUnknown* createWaveshaper2() {
    return static_cast<gmpi::IMpPlugin*>(new Waveshaper2());
}

const ModuleRegistration registration(L"Vedivizor Arirezudez3", 0, &createWaveshaper2);

} // namespace

void fillCurveTable(float* table, const CurvePoint* read, int count) {
    // Points after the last one read repeat it: their segments have no width and hold its y.
    CurvePoint points[kCurvePointCount];
    for (int k = 0; k < kCurvePointCount; ++k)
        points[k] = read[k < count ? k : count - 1];

    int32_t i = 0;
    double previousPosition = 0.0; // the first segment always starts at -5 V
    for (int k = 1; k < kCurvePointCount; ++k) {
        const double position = tablePosition(points[k]);
        const float rise = points[k].y - points[k - 1].y;
        double slope;
        double intercept;
        if (previousPosition - position == 0.0) {
            // No width: the segment holds the later point's y.
            slope = 0.0;
            intercept = 0.5 - static_cast<double>(points[k].y) * 0.01;
        } else {
            slope = static_cast<double>(rise) * 0.01 / (previousPosition - position);
            intercept = (0.5 - static_cast<double>(points[k - 1].y) * 0.01) - slope * previousPosition;
        }
        const int32_t end = k == kCurvePointCount - 1 ? kTableEntries : endIndex(position);
        for (; i < end; ++i)
            table[i] = finiteEntry(static_cast<double>(i) * slope + intercept);
        previousPosition = position;
    }
}

void Waveshaper2::rebuildTable() {
    if (table == nullptr)
        return;
    // The pin's own value is read in place: no copy on the processing thread.
    const PinText& text = textPin.value.empty() ? kDefaultCurveText : textPin.value;
    CurvePoint points[kCurvePointCount];
    bool incomplete = false;
    const int count = scanCurvePoints(text, points, kCurvePointCount, &incomplete);
    if (incomplete || count == 0)
        return;
    fillCurveTable(table, points, count);
}
