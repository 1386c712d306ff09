// Charts for builds without the drawing library (the Windows build: the build machine has no cairo for
// mingw-w64). The same pictures without text: the grid, the curve and the spectrum bars, drawn with the
// program's own pixel operations and written as PNG.
#include <algorithm>
#include <cmath>

#include "cli/charts.h"
#include "cli/plots.h"

namespace shaperhost {

namespace {

constexpr uint32_t kBackground = colour(255, 255, 255);
constexpr uint32_t kGrid = colour(220, 220, 220);
constexpr uint32_t kAxis = colour(120, 120, 120);
constexpr uint32_t kCurve = colour(0, 90, 200);
constexpr uint32_t kHarmonic = colour(200, 40, 40);
constexpr uint32_t kAlias = colour(230, 150, 0);
constexpr uint32_t kOtherBin = colour(90, 90, 90);
constexpr double kFloorDb = -140.0;

} // namespace

bool chartsAvailable() {
    return true;
}

void writeTransferChart(const StagedOutput& output, const TransferChart& chart, int size) {
    Image image(size, size, kBackground);
    const int last = size - 1;
    // -5 V .. +5 V on both axes, a grid line every volt, the axes through 0 V.
    for (int volt = -5; volt <= 5; ++volt) {
        const int at = static_cast<int>(std::lround((volt + 5) / 10.0 * last));
        const uint32_t c = volt == 0 ? kAxis : kGrid;
        image.line(at, 0, at, last, c);
        image.line(0, last - at, last, last - at, c);
    }
    const std::size_t n = chart.table.size();
    for (std::size_t i = 1; i < n; ++i) {
        auto yOf = [&](float value) {
            const double volts = std::clamp(static_cast<double>(value) * 10.0, -5.0, 5.0);
            return last - static_cast<int>(std::lround((volts + 5.0) / 10.0 * last));
        };
        const int x0 = static_cast<int>(std::lround(static_cast<double>(i - 1) / (n - 1) * last));
        const int x1 = static_cast<int>(std::lround(static_cast<double>(i) / (n - 1) * last));
        if (std::isfinite(chart.table[i - 1]) && std::isfinite(chart.table[i]))
            image.line(x0, yOf(chart.table[i - 1]), x1, yOf(chart.table[i]), kCurve);
    }
    writePng(output, image);
}

void writeSpectrumChart(const StagedOutput& output, const SpectrumChart& chart, int panelWidth, int height) {
    const int panels = std::max<int>(1, static_cast<int>(chart.panels.size()));
    Image image(panelWidth * panels, height, kBackground);
    for (int p = 0; p < static_cast<int>(chart.panels.size()); ++p) {
        const SpectrumPanel& panel = chart.panels[static_cast<std::size_t>(p)];
        const int left = p * panelWidth;
        // A grid line every 20 dB from 0 dBFS down to the floor.
        for (double db = 0.0; db >= kFloorDb; db -= 20.0) {
            const int y = static_cast<int>(std::lround(db / kFloorDb * (height - 1)));
            image.line(left, y, left + panelWidth - 1, y, db == 0.0 ? kAxis : kGrid);
        }
        const std::size_t bins = panel.decibels.size();
        for (std::size_t b = 1; b < bins; ++b) {
            const double db = panel.decibels[b];
            if (!(db > kFloorDb))
                continue;
            const int x = left + static_cast<int>(static_cast<double>(b) / (bins - 1) * (panelWidth - 1));
            const int y = static_cast<int>(std::lround(std::min(db, 0.0) / kFloorDb * (height - 1)));
            const bool harmonic = b < panel.binIsHarmonic.size() && panel.binIsHarmonic[b];
            const bool alias = b < panel.binIsAlias.size() && panel.binIsAlias[b];
            image.line(x, height - 1, x, y, harmonic ? kHarmonic : alias ? kAlias : kOtherBin);
        }
        if (p > 0)
            image.line(left, 0, left, height - 1, kAxis);
    }
    writePng(output, image);
}

} // namespace shaperhost
