// The curve text reader and writer: default curve, independent delimiter searches, grid conversion,
// rounding of the written values, and the waveshaper's scan with its incomplete flag.
#include "curve/curve_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

PinText pin(const std::string& ascii) {
    return PinText(ascii.begin(), ascii.end());
}
std::string ascii(const PinText& text) {
    return std::string(text.begin(), text.end());
}

// A recognisable value in entries that a read must leave alone.
constexpr float kUntouched = -123.0f;

struct Points {
    CurvePoint p[kCurvePointCount];
    Points() {
        for (CurvePoint& point : p)
            point = {kUntouched, kUntouched};
    }
};

void expectIdentity(const CurvePoint (&points)[kCurvePointCount]) {
    for (int i = 0; i < kCurvePointCount; ++i) {
        EXPECT_EQ(points[i].x, 10.0f * i) << "entry " << i;
        EXPECT_EQ(points[i].y, 100.0f - 10.0f * i) << "entry " << i;
    }
}

TEST(CurveText, DefaultCurve) {
    EXPECT_EQ(kDefaultCurveText.size(), 109u);
    Points fromEmpty;
    parseCurveText(PinText(), fromEmpty.p);
    expectIdentity(fromEmpty.p);
    Points fromDefault;
    parseCurveText(kDefaultCurveText, fromDefault.p);
    expectIdentity(fromDefault.p);
    EXPECT_EQ(formatCurveText(fromDefault.p), kDefaultCurveText);
}

struct ReadCase {
    const char* text;
    int count; // entries expected to be set, the rest keep kUntouched
    CurvePoint expected[2];
};

TEST(CurveText, ReaderCases) {
    const ReadCase cases[] = {
        {"(1,2)", 1, {{60, 30}}},
        {"xx(1,2) yy (3,4)", 2, {{60, 30}, {80, 10}}},
        {"1,2)", 1, {{60, 30}}},                 // missing "("
        {")(1,2)", 0, {}},                       // ")" first: nothing, and no default
        {"(1;2)(3,4)", 2, {{60, 10}, {80, 10}}}, // the first comma belongs to the second point
        {"( 1.5 , -2 )", 1, {{65, 70}}},
        {"(7,0)", 1, {{120, 50}}},
        {"(abc,)", 1, {{50, 50}}}, // unreadable numbers are 0 V
        {"(1,2", 0, {}},           // no ")" at all
        {"(1,2))", 1, {{60, 30}}}, // remainder ")" stops
        {"(1,2)(3,4", 1, {{60, 30}}},
        {"(0x1p1,-inf)", 1, {{70, INFINITY}}},
        {"(1)", 1, {{60, 50}}}, // no comma: x runs to the end, y from the start
        {" ", 0, {}},
    };
    for (const ReadCase& c : cases) {
        Points points;
        parseCurveText(pin(c.text), points.p);
        for (int i = 0; i < kCurvePointCount; ++i) {
            const CurvePoint expected = i < c.count ? c.expected[i] : CurvePoint{kUntouched, kUntouched};
            EXPECT_EQ(points.p[i].x, expected.x) << c.text << " entry " << i;
            EXPECT_EQ(points.p[i].y, expected.y) << c.text << " entry " << i;
        }
    }
}

TEST(CurveText, ReadsAtMostElevenPoints) {
    std::string text;
    for (int k = 0; k < 15; ++k)
        text += "(" + std::to_string(k) + "," + std::to_string(-k) + ")";
    Points points;
    parseCurveText(pin(text), points.p);
    for (int k = 0; k < kCurvePointCount; ++k) {
        EXPECT_EQ(points.p[k].x, 50.0f + 10.0f * k);
        EXPECT_EQ(points.p[k].y, 50.0f + 10.0f * k);
    }
}

// Writes the identity curve with one entry changed and returns that entry's written point.
std::string writtenPoint(int index, CurvePoint point) {
    Points points;
    parseCurveText(kDefaultCurveText, points.p);
    points.p[index] = point;
    const std::string text = ascii(formatCurveText(points.p));
    std::size_t start = 0;
    for (int i = 0; i < index; ++i)
        start = text.find(')', start) + 1;
    return text.substr(start, text.find(')', start) + 1 - start);
}

TEST(CurveText, WriterRounding) {
    EXPECT_EQ(writtenPoint(5, {49.9f, 50.0f}), "(-0.0,0.0)");
    EXPECT_EQ(writtenPoint(5, {52.5f, 47.5f}), "(0.3,0.3)");
    EXPECT_EQ(writtenPoint(5, {47.5f, 52.5f}), "(-0.3,-0.3)");
    EXPECT_EQ(writtenPoint(0, {120.0f, 50.0f}), "(7.0,0.0)");
    EXPECT_EQ(writtenPoint(10, {INFINITY, NAN}), "(inf,nan)");
    EXPECT_EQ(writtenPoint(10, {-INFINITY, -INFINITY}), "(-inf,inf)");
}

TEST(CurveText, ReadBackOfWrittenValues) {
    Points points;
    parseCurveText(pin("(-0.0,-0.0)(7.0,0.0)(inf,-inf)"), points.p);
    EXPECT_EQ(points.p[0].x, 50.0f);
    EXPECT_EQ(points.p[0].y, 50.0f);
    EXPECT_EQ(points.p[1].x, 120.0f);
    EXPECT_EQ(points.p[1].y, 50.0f);
    EXPECT_EQ(points.p[2].x, INFINITY);
    EXPECT_EQ(points.p[2].y, INFINITY);
}

TEST(CurveText, HugeCoordinatesAreWrittenInFull) {
    // Grid 2^100: x = 2^100 x 0.1 - 5 = 3602879701896397 x 2^45 exactly (the 5 is below half an ulp).
    const float huge = std::ldexp(1.0f, 100);
    const std::string digits = "126765060022822947186544738304";
    EXPECT_EQ(writtenPoint(3, {huge, huge}), "(" + digits + ".0,-" + digits + ".0)");
    // A text coordinate of 1e30 V survives reading and writing without being cut.
    Points points;
    parseCurveText(kDefaultCurveText, points.p);
    parseCurveText(pin("(1e30,-1e30)"), points.p);
    const std::string text = ascii(formatCurveText(points.p));
    const std::size_t close = text.find(')');
    ASSERT_NE(close, std::string::npos);
    EXPECT_GT(close, 60u);
    EXPECT_EQ(text.substr(close + 1), ascii(kDefaultCurveText).substr(11));
    Points reread;
    parseCurveText(pin(text), reread.p);
    EXPECT_EQ(reread.p[0].x, points.p[0].x);
    EXPECT_EQ(reread.p[0].y, points.p[0].y);
    // Beyond the float range the coordinate becomes infinite instead of undefined.
    parseCurveText(pin("(1e39,-1e300)"), points.p);
    EXPECT_EQ(points.p[0].x, INFINITY);
    EXPECT_EQ(points.p[0].y, INFINITY);
}

TEST(CurveText, GridConversions) {
    double x = 0, y = 0;
    gridToVolts({0.0f, 0.0f}, &x, &y);
    EXPECT_EQ(x, -5.0);
    EXPECT_EQ(y, 5.0);
    gridToVolts({100.0f, 100.0f}, &x, &y);
    EXPECT_EQ(x, 5.0);
    EXPECT_EQ(y, -5.0);
    // The grid value is widened before the multiplication: 0.1f's float error shows in the result.
    gridToVolts({50.1f, 50.0f}, &x, &y);
    EXPECT_EQ(x, static_cast<double>(50.1f) * 0.1 - 5.0);
    EXPECT_NE(x, 0.01);
    const CurvePoint grid = voltsToGrid(-5.0f, 5.0f);
    EXPECT_EQ(grid.x, 0.0f);
    EXPECT_EQ(grid.y, 0.0f);
    EXPECT_EQ(voltsToGrid(0.25f, -0.25f).x, 52.5f);
    EXPECT_EQ(voltsToGrid(0.25f, -0.25f).y, 52.5f);
}

struct ScanCase {
    std::string text;
    int maxPoints;
    int count;
    bool incomplete;
};

TEST(ScanCurvePoints, CountAndIncompleteFlag) {
    std::string eleven = ascii(kDefaultCurveText);
    const ScanCase cases[] = {
        {"", 11, 0, false},
        {eleven, 11, 11, false},
        {eleven.substr(0, eleven.size() - 1), 11, 10, true}, // last ")" removed
        {eleven + "(6,6", 11, 11, false},                    // 11th point complete: the rest unread
        {eleven + "abc", 11, 11, false},
        {"(1,2)", 11, 1, false},
        {"(1,2)   ", 11, 1, true}, // non-empty remainder without ")"
        {"(1,2))", 11, 1, true},   // ")" at position 0
        {")(1,2)", 11, 0, true},
        {"(1,2)(3,4)(5,6)", 2, 2, false},
        {"(1,2)(3,4)", 0, 0, false},
    };
    for (const ScanCase& c : cases) {
        CurvePoint points[kCurvePointCount] = {};
        bool incomplete = !c.incomplete;
        EXPECT_EQ(scanCurvePoints(pin(c.text), points, c.maxPoints, &incomplete), c.count) << c.text;
        EXPECT_EQ(incomplete, c.incomplete) << c.text;
    }
    // The empty text reads no point here: the default curve belongs to the editor's reader only.
    CurvePoint points[2] = {{kUntouched, kUntouched}, {kUntouched, kUntouched}};
    bool incomplete = true;
    EXPECT_EQ(scanCurvePoints(PinText(), points, 2, &incomplete), 0);
    EXPECT_EQ(points[0].x, kUntouched);
}

} // namespace
