// Chart layouts as the chart code lays them out: what a reader needs from each chart (labels apart and
// inside the picture, every tick labelled with its own value, the legend clear of data and text, naming
// only what is drawn, harmonics and aliases told apart) checked on the boxes and points it draws from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "cli/common/cli_error.h"
#include "cli/output/charts.h"
#include "cli/output/plots.h"

namespace shaperhost {
namespace {

std::string describe(const ChartBox& b) {
    return "[" + std::to_string(b.left) + ", " + std::to_string(b.top) + " .. " + std::to_string(b.right) +
           ", " + std::to_string(b.bottom) + "]";
}

ChartBox grown(const ChartBox& b, double by) {
    return {b.left - by, b.top - by, b.right + by, b.bottom + by};
}

bool isLegendLabel(const ChartPlot& plot, std::size_t text) {
    for (const ChartLegendEntry& e : plot.legendEntries)
        if (e.label == text)
            return true;
    return false;
}

// Everything a readable chart needs, whatever its data.
void expectReadable(const ChartLayout& layout, const std::string& what) {
    SCOPED_TRACE(what);
    const ChartBox picture{0, 0, static_cast<double>(layout.width), static_cast<double>(layout.height)};
    const std::vector<ChartText>& texts = layout.texts;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_FALSE(texts[i].text.empty());
        EXPECT_TRUE(picture.contains(texts[i].box)) << "'" << texts[i].text << "' " << describe(texts[i].box);
        for (std::size_t j = i + 1; j < texts.size(); ++j)
            EXPECT_FALSE(grown(texts[i].box, 1.0).overlaps(texts[j].box))
                << "'" << texts[i].text << "' " << describe(texts[i].box) << " and '" << texts[j].text << "' "
                << describe(texts[j].box);
    }
    for (std::size_t p = 0; p < layout.plots.size(); ++p) {
        const ChartPlot& plot = layout.plots[p];
        EXPECT_TRUE(picture.contains(plot.frame)) << describe(plot.frame);
        EXPECT_GT(plot.frame.bottom - plot.frame.top, 100.0);
        // Every tick carries its own value, beside it.
        ASSERT_GE(plot.xTicks.size(), 2u);
        ASSERT_GE(plot.yTicks.size(), 2u);
        for (const ChartTick& t : plot.xTicks) {
            ASSERT_LT(t.label, texts.size());
            const ChartText& label = texts[t.label];
            EXPECT_EQ(label.role, ChartTextRole::TickLabel);
            EXPECT_NEAR(std::stod(label.text), t.value, 1e-9) << label.text;
            EXPECT_NEAR((label.box.left + label.box.right) / 2, t.position, 3.0) << label.text;
            EXPECT_GT(label.box.top, plot.frame.bottom) << label.text;
            EXPECT_GE(t.position, plot.frame.left);
            EXPECT_LE(t.position, plot.frame.right);
        }
        for (const ChartTick& t : plot.yTicks) {
            ASSERT_LT(t.label, texts.size());
            const ChartText& label = texts[t.label];
            EXPECT_EQ(label.role, ChartTextRole::TickLabel);
            EXPECT_NEAR(std::stod(label.text), t.value, 1e-9) << label.text;
            EXPECT_NEAR((label.box.top + label.box.bottom) / 2, t.position, 3.0) << label.text;
            EXPECT_LT(label.box.right, plot.frame.left) << label.text;
            EXPECT_GE(t.position, plot.frame.top);
            EXPECT_LE(t.position, plot.frame.bottom);
        }
        // The legend: inside the picture, clear of every frame, every other legend and every text but
        // its own labels, which it holds.
        ASSERT_FALSE(plot.legendEntries.empty());
        EXPECT_TRUE(picture.contains(plot.legend)) << describe(plot.legend);
        for (std::size_t q = 0; q < layout.plots.size(); ++q) {
            EXPECT_FALSE(plot.legend.overlaps(layout.plots[q].frame)) << describe(plot.legend);
            if (q != p) {
                EXPECT_FALSE(plot.legend.overlaps(layout.plots[q].legend));
            }
        }
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (isLegendLabel(plot, i)) {
                EXPECT_TRUE(plot.legend.contains(texts[i].box)) << texts[i].text;
            } else {
                EXPECT_FALSE(plot.legend.overlaps(texts[i].box)) << texts[i].text;
            }
        }
        // Markers are drawn whole, inside the frame (lines and columns are clipped to it).
        for (const ChartSeries& s : plot.series) {
            if (s.kind != ChartSeriesKind::Harmonics && s.kind != ChartSeriesKind::Aliases &&
                s.kind != ChartSeriesKind::Dc)
                continue;
            for (const ChartPoint& point : s.points)
                EXPECT_TRUE(plot.frame.contains(ChartBox{point.x - 6, point.y - 6, point.x + 6, point.y + 6}))
                    << point.x << ", " << point.y;
        }
    }
}

std::vector<ChartSeriesKind> legendKinds(const ChartPlot& plot) {
    std::vector<ChartSeriesKind> kinds;
    for (const ChartLegendEntry& e : plot.legendEntries)
        kinds.push_back(e.kind);
    return kinds;
}

std::vector<ChartSeriesKind> drawnKinds(const ChartPlot& plot) {
    std::vector<ChartSeriesKind> kinds;
    for (const ChartSeries& s : plot.series)
        if (std::find(kinds.begin(), kinds.end(), s.kind) == kinds.end())
            kinds.push_back(s.kind);
    return kinds;
}

// The legend names each kind drawn, once, and nothing else.
void expectLegendMatchesDrawing(const ChartPlot& plot) {
    std::vector<ChartSeriesKind> named = legendKinds(plot);
    std::vector<ChartSeriesKind> drawn = drawnKinds(plot);
    std::sort(named.begin(), named.end());
    std::sort(drawn.begin(), drawn.end());
    EXPECT_EQ(named, drawn);
}

std::vector<float> tableOf(double (*volts)(double)) {
    std::vector<float> table(513);
    for (int i = 0; i < 513; ++i)
        table[static_cast<std::size_t>(i)] = static_cast<float>(volts(-5.0 + i * 10.0 / 512.0) / 10.0);
    return table;
}

TEST(ChartLayout, TransferChartsStayReadableAtEverySizeAndRange) {
    struct Curve {
        const char* name;
        double (*volts)(double);
    };
    const Curve curves[] = {
        {"identity", [](double x) { return x; }},
        {"parabola above the identity", [](double x) { return x * x / 5 + 1; }},
        {"soft clip", [](double x) { return 5 * std::tanh(x); }},
        {"large", [](double x) { return 400 * x; }},
        {"beyond the plotted range", [](double x) { return 1e6 * x; }},
        {"small fractions", [](double x) { return 0.001 * x; }},
    };
    for (const Curve& c : curves) {
        for (int size : {kMinTransferChartSize, 333, 400, 512, 777, 4096}) {
            const TransferChart chart{"Transfer curve: Formula Waveshaper",
                                      "VU Reridezizi2D, text: a formula long enough to need a second line "
                                      "and then some more, cut off where the second line ends",
                                      tableOf(c.volts)};
            const ChartLayout layout = transferChartLayout(chart, size);
            const std::string what = std::string(c.name) + " at " + std::to_string(size);
            expectReadable(layout, what);
            ASSERT_EQ(layout.plots.size(), 1u);
            const ChartPlot& plot = layout.plots[0];
            expectLegendMatchesDrawing(plot);
            // The output axis holds the whole curve (up to 1000 V) and its ends are labelled ticks.
            double highest = 1e9; // the smallest y: pixels count downwards
            double lowest = -1e9;
            for (const ChartSeries& s : plot.series)
                if (s.kind == ChartSeriesKind::Curve)
                    for (const ChartPoint& p : s.points) {
                        highest = std::min(highest, p.y);
                        lowest = std::max(lowest, p.y);
                    }
            if (std::fabs(c.volts(5.0)) <= 1000.0) {
                EXPECT_GE(highest, plot.frame.top - 0.5) << what;
                EXPECT_LE(lowest, plot.frame.bottom + 0.5) << what;
            }
            EXPECT_NEAR(plot.yTicks.front().position, plot.frame.bottom, 1.0) << what;
            EXPECT_NEAR(plot.yTicks.back().position, plot.frame.top, 1.0) << what;
        }
    }
}

TEST(ChartLayout, ATransferChartWithoutAFinitePointNamesOnlyTheIdentity) {
    const TransferChart chart{"Transfer curve", "", std::vector<float>(513, std::nanf(""))};
    const ChartLayout layout = transferChartLayout(chart, 512);
    expectReadable(layout, "no finite point");
    EXPECT_EQ(legendKinds(layout.plots[0]), std::vector<ChartSeriesKind>{ChartSeriesKind::Identity});
    expectLegendMatchesDrawing(layout.plots[0]);
}

TEST(ChartLayout, ChartsBelowTheirMinimumSizeAreRefusedAsUsageErrors) {
    const TransferChart transfer{"Transfer curve", "x", tableOf([](double x) { return x; })};
    try {
        transferChartLayout(transfer, kMinTransferChartSize - 1);
        FAIL() << "a transfer chart below the minimum size was laid out";
    } catch (const CliError& e) {
        EXPECT_EQ(e.exitCode, kExitUsage);
        EXPECT_NE(std::string(e.what()).find(std::to_string(kMinTransferChartSize)), std::string::npos);
    }
    const SpectrumChart spectrum{"Spectrum", "", {SpectrumPanel{}}};
    EXPECT_THROW(spectrumChartLayout(spectrum, kMinSpectrumPanelWidth - 1, 560), CliError);
    EXPECT_THROW(spectrumChartLayout(spectrum, 900, kMinSpectrumChartHeight - 1), CliError);
}

// A spectrum of 8192 points at 48 kHz: a fundamental at bin 853 (5 kHz) with odd harmonics, every one of
// them at full scale; aliases one bin (6 Hz)
// above each harmonic, a little lower.
SpectrumPanel busyPanel(bool aliases, double dcDb) {
    SpectrumPanel p;
    p.label = "no oversampling";
    p.hasFigures = true;
    p.aliasingDb = -25.2;
    p.thdPercent = 22.63;
    const std::size_t bins = 4097;
    p.decibels.assign(bins, -150.0);
    p.binIsHarmonic.assign(bins, 0);
    p.binIsAlias.assign(bins, 0);
    p.decibels[0] = dcDb;
    for (std::size_t k = 853; k < bins; k += 2 * 853) {
        p.decibels[k] = -1.0;
        p.binIsHarmonic[k] = 1;
        if (aliases && k + 1 < bins) {
            p.decibels[k + 1] = -3.0;
            p.binIsAlias[k + 1] = 1;
        }
    }
    // A wide band of noise near full scale at the top end, where legends used to sit.
    for (std::size_t k = bins - 400; k < bins; ++k)
        p.decibels[k] = std::max(p.decibels[k], -2.0);
    return p;
}

const ChartSeries* seriesOf(const ChartPlot& plot, ChartSeriesKind kind) {
    for (const ChartSeries& s : plot.series)
        if (s.kind == kind)
            return &s;
    return nullptr;
}

TEST(ChartLayout, SpectraKeepHarmonicsAndAliasesApartAndNameOnlyWhatTheyDraw) {
    const std::string title =
        "Curve Waveshaper (Vedivizor Arirezudez3): spectrum of a 10 V sine at 5000.24 Hz";
    struct Case {
        const char* name;
        int panelWidth;
        int height;
        std::vector<SpectrumPanel> panels;
    };
    const Case cases[] = {
        {"one busy panel", 1000, 560, {busyPanel(true, -200.0)}},
        {"two panels, aliases only in the first",
         900,
         540,
         {busyPanel(true, -200.0), busyPanel(false, -200.0)}},
        {"DC present", 1000, 560, {busyPanel(true, -20.0)}},
        {"smallest panels",
         kMinSpectrumPanelWidth,
         kMinSpectrumChartHeight,
         {busyPanel(true, -20.0), busyPanel(false, -200.0)}},
    };
    for (const Case& c : cases) {
        const ChartLayout layout =
            spectrumChartLayout({title, "text: (-5.0,-5.0)(5.0,5.0)", c.panels}, c.panelWidth, c.height);
        expectReadable(layout, c.name);
        ASSERT_EQ(layout.plots.size(), c.panels.size());
        for (std::size_t i = 0; i < c.panels.size(); ++i) {
            SCOPED_TRACE(std::string(c.name) + ", panel " + std::to_string(i));
            const ChartPlot& plot = layout.plots[i];
            const SpectrumPanel& panel = c.panels[i];
            expectLegendMatchesDrawing(plot);
            const ChartSeries* harmonics = seriesOf(plot, ChartSeriesKind::Harmonics);
            const ChartSeries* aliases = seriesOf(plot, ChartSeriesKind::Aliases);
            const ChartSeries* dc = seriesOf(plot, ChartSeriesKind::Dc);
            ASSERT_NE(harmonics, nullptr);
            EXPECT_EQ(harmonics->points.size(), 2u); // 5 and 15 kHz
            EXPECT_EQ(aliases != nullptr, panel.binIsAlias[854] != 0);
            if (aliases != nullptr) {
                // Each alias lies within a pixel of its harmonic and is still its own marker.
                ASSERT_EQ(aliases->points.size(), harmonics->points.size());
                for (std::size_t k = 0; k < aliases->points.size(); ++k)
                    EXPECT_LT(std::fabs(aliases->points[k].x - harmonics->points[k].x), 1.0);
            }
            EXPECT_EQ(dc != nullptr, panel.decibels[0] > -120.0);
            if (dc != nullptr) {
                ASSERT_EQ(dc->points.size(), 1u);
                EXPECT_NEAR(dc->points[0].x, plot.xTicks.front().position, 1.0); // at 0 Hz
                EXPECT_EQ(plot.xTicks.front().value, 0.0);
            }
        }
        // The figures say what they are relative to.
        std::size_t relative = 0;
        for (const ChartText& t : layout.texts)
            if (t.role == ChartTextRole::PanelLabel &&
                t.text.find("relative to the fundamental") != std::string::npos)
                ++relative;
        EXPECT_EQ(relative, c.panels.size()) << c.name;
    }
}

TEST(ChartLayout, DrawingKeepsTheLayoutsSize) {
    const ChartLayout layout = transferChartLayout({"t", "s", tableOf([](double x) { return x; })}, 333);
    const Image image = drawChart(layout);
    EXPECT_EQ(image.width, 333);
    EXPECT_EQ(image.height, 333);
}

TEST(PictureNames, OnlyPngOrNoExtensionIsTaken) {
    for (const char* taken : {"a.png", "dir/B.PNG", "/dev/stdout", "/dev/fd/63", "dir.v2/plot", ".png"})
        EXPECT_EQ(pngNameProblem(taken), "") << taken;
    for (const char* refused : {"out.jpg", "out.png.jpeg", "dir/plot.svg", "c:\\pictures\\x.gif"})
        EXPECT_NE(pngNameProblem(refused), "") << refused;
}

} // namespace
} // namespace shaperhost
