// The curve text: the transfer curve of the curve-points waveshaper as pin text, 11 points each written
// "(x,y)" in volts, and the editor's point list in grid units. The reader and the writer here are the
// one definition of that format; the processing module reads the same text with scanCurvePoints.
#pragma once

#include "factory/pin_text.h"

// One point of the editor's list, in grid units: x from 0 (left, -5 V) to 100 (right, +5 V), y from 0
// (top, +5 V) to 100 (bottom, -5 V). Values outside 0..100 come from texts beyond +-5 V.
struct CurvePoint {
    float x;
    float y;
};

constexpr int kCurvePointCount = 11;

// The identity curve: 11 points at every whole volt from -5 to +5 with y = x (109 characters).
extern const PinText kDefaultCurveText;

// Reads points from the text: searches the remainder independently for the first "(", "," and ")",
// converts the parts between them (C-locale wide string-to-double syntax, narrowed to float) into grid
// units and continues after the ")". Reads at most maxPoints points into points[0..] and returns the
// count read. *incomplete is set true when reading stopped because a non-empty remainder held no ")"
// at position 1 or later, false when the remainder became empty or maxPoints points were read.
// An empty text reads no point (the default curve is not applied here).
int scanCurvePoints(const PinText& text, CurvePoint* points, int maxPoints, bool* incomplete);

// The editor's reader: an empty text reads kDefaultCurveText instead. Points read go to entries 0, 1, ...
// in place; entries beyond the last point read keep their values. Nothing is clamped or validated.
void parseCurveText(const PinText& text, CurvePoint (&points)[kCurvePointCount]);

// The writer: all 11 entries as "(%3.1f,%3.1f)" in volts, "." as the point, each value rounded to one
// decimal from its exact double with ties away from zero. The full text is built for any coordinates,
// however long; non-finite values are written "inf", "-inf" or "nan".
PinText formatCurveText(const CurvePoint (&points)[kCurvePointCount]);

// Grid units to volts in double precision (each grid value widened before the arithmetic):
// x = gx * 0.1 - 5.0, y = 5.0 - gy * 0.1.
void gridToVolts(const CurvePoint& point, double* xVolts, double* yVolts);

// Volts to grid units in single precision: gx = x * 10 + 50, gy = 50 - y * 10.
CurvePoint voltsToGrid(float xVolts, float yVolts);
