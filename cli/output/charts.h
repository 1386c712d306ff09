// Charts a person can read: the transfer curve of a table and spectra of shaped sines, with numbered
// axes, units, a title and a legend, drawn with cairo in the program's own copy of DejaVu Sans and
// written as PNG.
//
// A chart is laid out first and drawn from its layout: every text with the box its ink covers, every
// plot's frame, ticks, data points and legend, in pixels of the picture. Drawing adds nothing the
// layout does not hold, so the layout is what the tests check (labels apart, the legend clear of data
// and text, every tick labelled).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cli/output/output_file.h"
#include "cli/output/plots.h"

namespace shaperhost {

struct TransferChart {
    std::string title;        // e.g. the module's name
    std::string subtitle;     // e.g. the module text
    std::vector<float> table; // the 513 entries, sample units
};

struct SpectrumPanel {
    std::string label;               // above the panel, e.g. "no oversampling"
    std::vector<double> decibels;    // bins 0..N/2, dBFS
    std::vector<char> binIsHarmonic; // per bin
    std::vector<char> binIsAlias;    // per bin: a harmonic from above half the rate folded here
    double sampleRate = 48000.0;
    // The measured figures, both relative to the fundamental, shown with the label when given.
    bool hasFigures = false;
    double aliasingDb = 0.0;
    double thdPercent = 0.0;
};

struct SpectrumChart {
    std::string title;
    std::string subtitle;
    std::vector<SpectrumPanel> panels; // drawn side by side
};

// The smallest transfer chart whose title, tick labels and legend fit (a square of this many pixels).
constexpr int kMinTransferChartSize = 320;
// The smallest spectrum panel.
constexpr int kMinSpectrumPanelWidth = 480;
constexpr int kMinSpectrumChartHeight = 360;

// A rectangle in pixels, x to the right and y down.
struct ChartBox {
    double left = 0.0;
    double top = 0.0;
    double right = 0.0;
    double bottom = 0.0;

    // True when the two share more than an edge.
    bool overlaps(const ChartBox& other) const {
        return left < other.right && other.left < right && top < other.bottom && other.top < bottom;
    }
    bool contains(double x, double y) const { return x >= left && x <= right && y >= top && y <= bottom; }
    bool contains(const ChartBox& other) const {
        return other.left >= left && other.right <= right && other.top >= top && other.bottom <= bottom;
    }
};

struct ChartPoint {
    double x = 0.0;
    double y = 0.0;
};

enum class ChartTextRole { Title, Subtitle, PanelLabel, TickLabel, AxisName, LegendLabel };

struct ChartText {
    std::string text;
    ChartTextRole role = ChartTextRole::TickLabel;
    ChartPoint origin;     // start of the baseline
    double size = 12.0;    // pixels
    bool bold = false;     //
    bool vertical = false; // reads upwards, turned a quarter turn about the origin
    ChartBox box;          // the pixels its glyphs cover
};

// What a plot draws. Curve and Identity are polylines, Bins columns from the plot's baseline up to each
// point, Harmonics, Aliases and Dc markers on stems from the baseline: a filled circle, a hollow
// triangle pointing down and a filled square, drawn in that order, so a harmonic shows through an alias
// marker lying on it.
enum class ChartSeriesKind { Curve, Identity, Bins, Harmonics, Aliases, Dc };

struct ChartSeries {
    ChartSeriesKind kind = ChartSeriesKind::Curve;
    std::vector<ChartPoint> points; // pixels
};

struct ChartTick {
    double position = 0.0; // pixels: x for the horizontal axis, y for the vertical one
    double value = 0.0;    // in the axis's unit
    std::size_t label = 0; // index of its label among the layout's texts
};

struct ChartLegendEntry {
    ChartSeriesKind kind = ChartSeriesKind::Curve;
    ChartPoint key;        // centre of the symbol
    std::size_t label = 0; // index among the layout's texts
};

struct ChartPlot {
    ChartBox frame;        // the plot area; lines and columns are clipped to it
    double baseline = 0.0; // y where stems and columns start
    std::vector<ChartTick> xTicks;
    std::vector<ChartTick> yTicks;
    std::vector<ChartSeries> series; // only series with points
    ChartBox legend;                 // outside the frame
    std::vector<ChartLegendEntry> legendEntries;
};

struct ChartLayout {
    int width = 0;
    int height = 0;
    std::vector<ChartText> texts;
    std::vector<ChartPlot> plots;
};

// A square transfer chart of size x size pixels. Sizes below kMinTransferChartSize are usage errors.
ChartLayout transferChartLayout(const TransferChart& chart, int size);
// Each panel panelWidth x height pixels, side by side.
ChartLayout spectrumChartLayout(const SpectrumChart& chart, int panelWidth, int height);
// The picture of a layout.
Image drawChart(const ChartLayout& layout);

inline void writeTransferChart(const StagedOutput& output, const TransferChart& chart, int size) {
    writePng(output, drawChart(transferChartLayout(chart, size)));
}
inline void writeSpectrumChart(const StagedOutput& output, const SpectrumChart& chart, int panelWidth,
                               int height) {
    writePng(output, drawChart(spectrumChartLayout(chart, panelWidth, height)));
}

} // namespace shaperhost
