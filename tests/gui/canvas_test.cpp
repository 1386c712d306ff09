// The software canvas against the drawing rules it stands in for.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <utility>

#include "gui/software_canvas.h"

namespace {

using gfx::Canvas;
using gfx::rgb;
using PixelSet = std::set<std::pair<int, int>>;

const gfx::Colour kInk = rgb(1, 2, 3);

PixelSet inked(const Canvas& canvas) {
    PixelSet set;
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            if (canvas.pixel(x, y) == kInk)
                set.insert({x, y});
        }
    }
    return set;
}

PixelSet drawLine(int w, int h, int x0, int y0, int x1, int y1) {
    Canvas canvas(w, h);
    canvas.line(x0, y0, x1, y1, kInk);
    return inked(canvas);
}

// The incremental form of the rule, step by step: plot, then take the minor step when the error plus
// the bias (1 in octants 3, 5, 6 and 8, where a tie takes the step) is above zero.
PixelSet reference(int w, int h, int x0, int y0, int x1, int y1) {
    const int dx = x1 - x0, dy = y1 - y0;
    const int adx = std::abs(dx), ady = std::abs(dy);
    const bool xMajor = adx > ady;
    int octant;
    if (dy > 0)
        octant = dx > 0 ? (dx > dy ? 1 : 2) : (-dx > dy ? 4 : 3);
    else
        octant = dx < 0 ? (-dx > -dy ? 5 : 6) : (dx > -dy ? 8 : 7);
    const int bias = (octant == 3 || octant == 5 || octant == 6 || octant == 8) ? 1 : 0;
    const int major = xMajor ? adx : ady, minor = xMajor ? ady : adx;
    int err = 2 * minor - major;
    int x = x0, y = y0;
    PixelSet set;
    for (int n = 0; n < major; ++n) {
        if (x >= 0 && y >= 0 && x < w && y < h)
            set.insert({x, y});
        if (err + bias > 0) {
            (xMajor ? y : x) += (xMajor ? (dy > 0 ? 1 : -1) : (dx > 0 ? 1 : -1));
            err += 2 * minor - 2 * major;
        } else {
            err += 2 * minor;
        }
        (xMajor ? x : y) += (xMajor ? (dx > 0 ? 1 : -1) : (dy > 0 ? 1 : -1));
    }
    return set;
}

TEST(Canvas, LinesLeaveOutTheirLastPixel) {
    EXPECT_EQ(drawLine(10, 10, 1, 2, 5, 2), (PixelSet{{1, 2}, {2, 2}, {3, 2}, {4, 2}}));
    EXPECT_EQ(drawLine(10, 10, 5, 2, 1, 2), (PixelSet{{5, 2}, {4, 2}, {3, 2}, {2, 2}}));
    EXPECT_EQ(drawLine(10, 10, 3, 0, 3, 3), (PixelSet{{3, 0}, {3, 1}, {3, 2}}));
    EXPECT_EQ(drawLine(10, 10, 0, 4, 4, 0), (PixelSet{{0, 4}, {1, 3}, {2, 2}, {3, 1}}));
    EXPECT_TRUE(drawLine(10, 10, 3, 3, 3, 3).empty());
}

TEST(Canvas, TiesFallTheSameWayInBothDirections) {
    // Halfway at x = 2 (y = 0.5) both directions take y = 0.
    EXPECT_EQ(drawLine(10, 10, 0, 0, 4, 1), (PixelSet{{0, 0}, {1, 0}, {2, 0}, {3, 1}}));
    EXPECT_EQ(drawLine(10, 10, 4, 1, 0, 0), (PixelSet{{4, 1}, {3, 1}, {2, 0}, {1, 0}}));
    // Steep: halfway at y = 2 (x = 0.5) both take x = 0.
    EXPECT_EQ(drawLine(10, 10, 0, 0, 1, 4), (PixelSet{{0, 0}, {0, 1}, {0, 2}, {1, 3}}));
    EXPECT_EQ(drawLine(10, 10, 1, 4, 0, 0), (PixelSet{{1, 4}, {1, 3}, {0, 2}, {0, 1}}));
}

TEST(Canvas, LinesAgreeWithTheStepwiseRuleInEveryOctantAndWhenClipped) {
    const int ends[][4] = {{2, 3, 17, 9},     {17, 9, 2, 3},     {3, 2, 9, 17},    {9, 17, 3, 2},
                           {17, 3, 2, 9},     {2, 9, 17, 3},     {9, 2, 3, 17},    {3, 17, 9, 2},
                           {-30, -7, 40, 25}, {40, 25, -30, -7}, {5, -40, 12, 60}, {12, 60, 5, -40},
                           {0, 20, 20, 0},    {-3, 5, 22, 5},    {7, -9, 7, 30}};
    for (const auto& e : ends)
        EXPECT_EQ(drawLine(20, 20, e[0], e[1], e[2], e[3]), reference(20, 20, e[0], e[1], e[2], e[3]))
            << e[0] << "," << e[1] << " -> " << e[2] << "," << e[3];
}

TEST(Canvas, FarEndsOnlyCostTheVisiblePart) {
    // Ends far outside the surface: the visible part is exactly the diagonal.
    PixelSet diagonal;
    for (int i = 0; i < 8; ++i)
        diagonal.insert({i, i});
    EXPECT_EQ(drawLine(8, 8, -100000000, -100000000, 100000000, 100000000), diagonal);
    EXPECT_EQ(drawLine(8, 8, 100000007, -100000000, -99999993, 100000000).size(), 8u); // x + y = 7
}

TEST(Canvas, FillRectLeavesOutRightAndBottomAndClips) {
    Canvas canvas(6, 6);
    canvas.fillRect(gfx::Rect{-2, 4, 2, 9}, kInk);
    EXPECT_EQ(inked(canvas), (PixelSet{{0, 4}, {1, 4}, {0, 5}, {1, 5}}));
    Canvas empty(6, 6);
    empty.fillRect(gfx::Rect{4, 4, 2, 2}, kInk);
    EXPECT_TRUE(inked(empty).empty());
}

TEST(Canvas, PainterKeepsObjectsAndText) {
    Canvas canvas(40, 20);
    gfx::SoftwarePainter painter(canvas);
    const gfx::GdiObject pen = painter.createPen(gfx::kPenSolid, 1, kInk);
    const gfx::GdiObject stock = painter.selectObject(pen);
    ASSERT_NE(stock, nullptr);
    EXPECT_FALSE(painter.deleteObject(pen)) << "a selected pen stays";
    const gfx::Point square[5] = {{1, 1}, {4, 1}, {4, 4}, {1, 4}, {1, 1}};
    painter.polyline(square, 5);
    EXPECT_EQ(inked(canvas).size(), 12u);
    EXPECT_EQ(painter.selectObject(stock), pen);
    EXPECT_TRUE(painter.deleteObject(pen));
    EXPECT_EQ(painter.liveObjectCount(), 0);

    // Transparent text draws only glyph pixels; centre alignment centres the cells on x.
    Canvas text(40, 20);
    gfx::SoftwarePainter writer(text);
    writer.setTextColor(kInk);
    writer.setBkMode(gfx::kBackgroundTransparent);
    writer.setTextAlign(gfx::kAlignCenter | gfx::kAlignTop);
    writer.textOut(20, 0, L"-", 1);
    const PixelSet dash = inked(text);
    EXPECT_EQ(dash.size(), 5u);
    EXPECT_EQ(dash.begin()->first, 20 - gfx::kGlyphAdvance / 2);
}

} // namespace
