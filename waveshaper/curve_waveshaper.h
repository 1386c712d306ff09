// The curve-points waveshaper: its text pin carries the editor's curve text of 11 points, and the
// table holds the piecewise-linear curve through them.
#pragma once

#include "waveshaper/waveshaper.h"

// The curve-points waveshaper module.
class Waveshaper2 : public Waveshaper {
public:
    // [processing thread] Reads up to 11 points and fills all 513 entries. A text whose points end
    // without ")" leaves the table as it was; an empty text gives the default (identity) curve.
    void rebuildTable() override;
};

struct CurvePoint;

// Fills table[0..512] from count points (1 to 11) in grid units, holding the last point's y beyond
// it. Entries that would not be finite are stored as 0.
void fillCurveTable(float* table, const CurvePoint* points, int count);
