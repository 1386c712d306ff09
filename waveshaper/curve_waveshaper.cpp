#include "waveshaper/curve_waveshaper.h"

#include "curve/curve_text.h"
#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "numbers/float_narrowing.h"

namespace {

// A grid unit is a tenth of a volt: a hundredth of a sample.
constexpr double kSamplesPerGridUnit = 0.01;
// The output sample at grid y = 0, the top of the panel (+5 V).
constexpr double kTopSample = 0.5;

// Table position of a grid x: 0 for -5 V, the middle entry for 0 V, the last entry for +5 V.
double tablePosition(const CurvePoint& point) {
    return static_cast<double>(point.x * kTableStepsPerUnit) * kSamplesPerGridUnit;
}

// The end index of a segment: its position truncated toward zero, at most the last entry. Positions
// below 1 (NaN included) end at 0, where no segment writes; testing first keeps the conversion in range.
int32_t endIndex(double position) {
    if (position >= kLastTableEntry)
        return kLastTableEntry;
    if (position >= 1.0)
        return static_cast<int32_t>(position);
    return 0;
}

gmpi::IMpUnknown* createWaveshaper2() {
    return static_cast<gmpi::IMpPlugin*>(new Waveshaper2());
}

const ModuleRegistration registration(kCurveWaveshaperId, kProcessingModule, &createWaveshaper2);

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
            intercept = kTopSample - static_cast<double>(points[k].y) * kSamplesPerGridUnit;
        } else {
            slope = static_cast<double>(rise) * kSamplesPerGridUnit / (previousPosition - position);
            intercept = (kTopSample - static_cast<double>(points[k - 1].y) * kSamplesPerGridUnit) -
                        slope * previousPosition;
        }
        const int32_t end = k == kCurvePointCount - 1 ? kTableEntries : endIndex(position);
        for (; i < end; ++i)
            table[i] = narrowToFiniteFloat(static_cast<double>(i) * slope + intercept);
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
