// The curve editor as a host uses it: created by the factory, placed and opened in a host window on
// the portable window system, fed curve text, painted, and dragged with window messages.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "curve_editor/waveshaper_gui.h"
#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "gui/platform/native_window_system.h"
#include "gui/software_canvas.h"
#include "host/raw_calls.h"
#include "host/stand_in_editor_host.h"
#include "tests/gui/gui_test_support.h"

namespace {

using namespace mphost;
namespace native = platform::native;
using guitest::identityWith;

const gfx::Colour kBlack = gfx::rgb(0, 0, 0);
const gfx::Colour kGrid = gfx::rgb(0, 100, 0);
const gfx::Colour kCurve = gfx::rgb(0, 255, 0);
const gfx::Colour kText = gfx::rgb(0, 250, 0);

const PinText kIdentity =
    u"(-5.0,-5.0)(-4.0,-4.0)(-3.0,-3.0)(-2.0,-2.0)(-1.0,-1.0)(0.0,0.0)(1.0,1.0)(2.0,2.0)"
    u"(3.0,3.0)(4.0,4.0)(5.0,5.0)";

// A software device context that also keeps a log of the text and line calls.
struct TextCall {
    int32_t x;
    int32_t y;
    std::wstring text;
    uint32_t align;
};

class LoggingPainter : public gfx::SoftwarePainter {
public:
    explicit LoggingPainter(gfx::Canvas& canvas) : SoftwarePainter(canvas) {}
    uint32_t setTextAlign(uint32_t a) override {
        align = a;
        ++calls;
        return SoftwarePainter::setTextAlign(a);
    }
    void textOut(int32_t x, int32_t y, const wchar_t* text, int count) override {
        texts.push_back({x, y, std::wstring(text, count), align});
        ++calls;
        SoftwarePainter::textOut(x, y, text, count);
    }
    void moveTo(int32_t x, int32_t y) override {
        ++calls;
        SoftwarePainter::moveTo(x, y);
    }
    void lineTo(int32_t x, int32_t y) override {
        ++calls;
        SoftwarePainter::lineTo(x, y);
    }
    void polyline(const gfx::Point* p, int n) override {
        ++calls;
        SoftwarePainter::polyline(p, n);
    }
    void fillRect(const gfx::Rect& r, gfx::GdiObject b) override {
        ++calls;
        SoftwarePainter::fillRect(r, b);
    }
    std::vector<TextCall> texts;
    uint32_t align = 0;
    int calls = 0;
};

class CurveEditor : public ::testing::Test {
protected:
    void SetUp() override {
        void* factory = nullptr;
        ASSERT_EQ(MpFactory::instance()->queryInterface(gmpi::kIidFactory2, &factory), gmpi::kResultOk);
        void* object = nullptr;
        ASSERT_EQ(raw::createInstance(factory, kCurveWaveshaperId, kEditorModule, host.unknown(), &object),
                  gmpi::kResultOk);
        ui = object;
        ASSERT_EQ(raw::queryInterface(ui, gmpi::kIidGraphicsWinGdi, &graphics), gmpi::kResultOk);
        raw::release(graphics); // the editor's own reference keeps the face alive
        editor = dynamic_cast<waveshaperGui*>(static_cast<gmpi::IMpUserInterface*>(ui));
        ASSERT_NE(editor, nullptr);
        parent = native::createHostWindow(300, 300);
    }
    void TearDown() override {
        if (window != nullptr)
            raw::graphics::closeWindow(graphics);
        EXPECT_EQ(raw::release(ui), 0);
        platform::destroyWindow(parent);
    }

    void open(int width, int height) {
        raw::graphics::arrange(graphics, 0, height, 0, width);
        raw::graphics::openWindow(graphics, parent, &window);
        ASSERT_NE(window, nullptr);
    }
    void deliver(const PinText& text) {
        raw::editor::setPin(ui, kCurveEditorTextPin, 0, static_cast<int32_t>(text.size() * 2), text.data());
        raw::editor::notifyPin(ui, kCurveEditorTextPin, 0);
    }
    const gfx::Canvas& paintWindow() {
        native::sendMessage(window, platform::kWmPaint, 0, 0);
        return *native::windowCanvas(window);
    }
    void press(int x, int y) {
        native::sendMessage(window, platform::kWmLButtonDown, 1, platform::makeMouseLParam(x, y));
    }
    void move(int x, int y) {
        native::sendMessage(window, platform::kWmMouseMove, 1, platform::makeMouseLParam(x, y));
    }
    void releaseButton(int x, int y) {
        native::sendMessage(window, platform::kWmLButtonUp, 0, platform::makeMouseLParam(x, y));
    }
    PinText lastSent() const { return host.pinValues.empty() ? PinText() : host.pinValues.back().text; }

    EditorHost host;
    void* ui = nullptr;
    void* graphics = nullptr;
    waveshaperGui* editor = nullptr;
    platform::WindowHandle parent = nullptr;
    platform::WindowHandle window = nullptr;
};

TEST_F(CurveEditor, PointsStartAtTheTopLeftAndReadTheDefaultForAnEmptyText) {
    for (const CurvePoint& p : editor->points) {
        EXPECT_EQ(p.x, 0.0f);
        EXPECT_EQ(p.y, 0.0f);
    }
    EXPECT_EQ(raw::editor::initialize(ui), gmpi::kResultOk);
    EXPECT_EQ(editor->points[5].x, 0.0f) << "initialize fires no pin callback";
    deliver(u"");
    for (int k = 0; k < 11; ++k) {
        EXPECT_EQ(editor->points[k].x, 10.0f * k);
        EXPECT_EQ(editor->points[k].y, 100.0f - 10.0f * k);
    }
    EXPECT_TRUE(host.pinValues.empty()) << "reading the default writes nothing";
}

TEST_F(CurveEditor, DefaultPanelGeometry) {
    open(100, 100);
    deliver(u"");
    const gfx::Canvas& c = paintWindow();
    ASSERT_EQ(c.width(), 100);
    // The curve along the diagonal from (0, 100) to (100, 0).
    for (int j = 1; j < 100; ++j)
        EXPECT_EQ(c.pixel(j, 100 - j), kCurve) << j;
    // Marker k's outline from (10k - 3, 97 - 10k) to 6 pixels right and down.
    for (int k = 1; k <= 9; ++k) {
        const int l = 10 * k - 3, t = 97 - 10 * k;
        EXPECT_EQ(c.pixel(l, t), kCurve) << k;
        EXPECT_EQ(c.pixel(l + 6, t), kCurve) << k;
        EXPECT_EQ(c.pixel(l, t + 6), kCurve) << k;
        EXPECT_EQ(c.pixel(l + 6, t + 6), kCurve) << k;
        if (k <= 3 || k >= 8) {
            EXPECT_EQ(c.pixel(l - 1, t), kBlack) << k;
            EXPECT_EQ(c.pixel(l + 1, t + 1), kBlack) << k;
        }
    }
    // Point 0 at (-2, 97) and point 10 at (97, -2): truncation toward zero.
    EXPECT_EQ(c.pixel(0, 97), kCurve);
    EXPECT_EQ(c.pixel(4, 97), kCurve);
    EXPECT_EQ(c.pixel(4, 99), kCurve);
    EXPECT_EQ(c.pixel(5, 97), kBlack);
    EXPECT_EQ(c.pixel(97, 0), kCurve);
    EXPECT_EQ(c.pixel(97, 4), kCurve);
    EXPECT_EQ(c.pixel(99, 4), kCurve);
    EXPECT_EQ(c.pixel(97, 5), kBlack);
    // Axes through the centre.
    EXPECT_EQ(c.pixel(20, 50), kGrid);
    EXPECT_EQ(c.pixel(50, 80), kGrid);
    // The +-5 V ticks 46 pixels from the centre, 4 pixels each way without the last.
    EXPECT_EQ(c.pixel(96, 46), kGrid);
    EXPECT_EQ(c.pixel(96, 53), kGrid);
    EXPECT_EQ(c.pixel(96, 45), kBlack);
    EXPECT_EQ(c.pixel(97, 48), kBlack);
    EXPECT_EQ(c.pixel(4, 46), kGrid);
    EXPECT_EQ(c.pixel(3, 48), kBlack);
    EXPECT_EQ(c.pixel(46, 96), kGrid);
    EXPECT_EQ(c.pixel(53, 96), kGrid);
    EXPECT_EQ(c.pixel(45, 96), kBlack);
    EXPECT_EQ(c.pixel(46, 4), kGrid);
    EXPECT_EQ(c.pixel(45, 4), kBlack);
    // A +-0.9 V tick: 2 pixels each way at offset trunc(2 x 46.51 x 0.1) = 9.
    EXPECT_EQ(c.pixel(59, 48), kGrid);
    EXPECT_EQ(c.pixel(59, 51), kGrid);
    EXPECT_EQ(c.pixel(59, 47), kBlack);
    EXPECT_EQ(c.pixel(59, 52), kBlack);
    // The host's style service is asked on every paint.
    ASSERT_EQ(host.styleRequests.size(), 1u);
    EXPECT_EQ(host.styleRequests[0], L"tty");
    // Every object a paint creates is deleted again.
    EXPECT_EQ(native::windowPainter(window)->liveObjectCount(), 0);
}

TEST_F(CurveEditor, LabelsOfBothAxes) {
    raw::graphics::arrange(graphics, 0, 100, 0, 100);
    deliver(u"");
    gfx::Canvas canvas(100, 100);
    LoggingPainter painter(canvas);
    editor->paint(painter);
    // cx = cy = 50, scale 100 x 0.46511626; vertical at cy - trunc(v x 46.51 x 0.2) - 5, horizontal at
    // cx + trunc(v x 46.51 x 0.2).
    const std::vector<TextCall> expected = {
        {54, 91, L"-5", 0}, {54, 72, L"-3", 0}, {54, 36, L" 1", 0}, {54, 18, L" 3", 0}, {54, -1, L" 5", 0},
        {13, 54, L"-4", 6}, {32, 54, L"-2", 6}, {50, 54, L" 0", 6}, {68, 54, L" 2", 6}, {87, 54, L" 4", 6},
    };
    ASSERT_EQ(painter.texts.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(painter.texts[i].x, expected[i].x) << i;
        EXPECT_EQ(painter.texts[i].y, expected[i].y) << i;
        EXPECT_EQ(painter.texts[i].text, expected[i].text) << i;
        EXPECT_EQ(painter.texts[i].align, expected[i].align) << i;
    }
    EXPECT_EQ(painter.align, 0u) << "the alignment before the horizontal labels is restored";
    EXPECT_EQ(painter.liveObjectCount(), 0);
}

TEST_F(CurveEditor, LabelsNeedAPanelAbove30Pixels) {
    for (int height : {30, 31}) {
        raw::graphics::arrange(graphics, 0, height, 0, 100);
        gfx::Canvas canvas(100, height);
        LoggingPainter painter(canvas);
        editor->paint(painter);
        int textPixels = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < 100; ++x)
                textPixels += canvas.pixel(x, y) == kText ? 1 : 0;
        }
        EXPECT_EQ(painter.texts.size(), height == 31 ? 10u : 0u);
        EXPECT_EQ(textPixels > 0, height == 31);
    }
}

TEST_F(CurveEditor, EmptyPanelDrawsNothing) {
    deliver(u"");
    const int sizes[][2] = {{0, 100}, {100, 0}, {0, 0}, {-10, 50}};
    for (const auto& s : sizes) {
        raw::graphics::arrange(graphics, 0, s[1], 0, s[0]);
        gfx::Canvas canvas(10, 10, kGrid);
        LoggingPainter painter(canvas);
        editor->paint(painter);
        EXPECT_EQ(painter.calls, 0) << s[0] << "x" << s[1];
        EXPECT_EQ(canvas.pixel(0, 0), kGrid);
    }
}

TEST_F(CurveEditor, PressHitsWithinThreePixelsLeftAndAbove) {
    open(100, 100);
    deliver(u"");
    const struct {
        int x, y, index;
    } cases[] = {{47, 50, 5},  {53, 50, -1}, {50, 47, 5}, {50, 53, -1}, {47, 47, 5},  {52, 52, 5},
                 {46, 50, -1}, {0, 99, 0},   {-3, 97, 0}, {97, 0, 10},  {100, 3, -1}, {70, 30, 7}};
    for (const auto& c : cases) {
        press(c.x, c.y);
        EXPECT_EQ(editor->dragIndex, c.index) << c.x << "," << c.y;
        EXPECT_EQ(platform::getCapture() == window, c.index >= 0);
        releaseButton(c.x, c.y);
    }
    EXPECT_TRUE(host.pinValues.empty());
}

TEST_F(CurveEditor, CoincidingPointsGiveTheHigherIndex) {
    open(100, 100);
    deliver(u"");
    deliver(u"(1.5,1.5)(1.5,1.5)");
    press(65, 35);
    EXPECT_EQ(editor->dragIndex, 1);
}

TEST_F(CurveEditor, DragStepsWithinBounds) {
    open(100, 100);
    deliver(u"");
    struct Step {
        int x, y;
        PinText sent;
    };
    const struct {
        const char* what;
        PinText start;
        int pressX, pressY;
        std::vector<Step> steps;
    } cases[] = {
        {"first point moves only vertically", u"", 0, 99, {{20, 89, identityWith(0, u"(-5.0,-4.0)")}}},
        {"last point snaps to +5 V",
         identityWith(10, u"(4.5,4.0)"),
         95,
         10,
         {{95, 10, identityWith(10, u"(5.0,4.0)")}}},
        {"inner point stops 0.1 V short of its neighbour, and comes back at once",
         u"",
         50,
         50,
         {{30, 50, identityWith(5, u"(-0.9,0.0)")}, {35, 50, identityWith(5, u"(-0.4,0.0)")}}},
        {"right neighbour", u"", 50, 50, {{75, 50, identityWith(5, u"(0.9,0.0)")}}},
        {"above the top and below the bottom",
         u"",
         50,
         50,
         {{50, -30, identityWith(5, u"(0.0,5.0)")}, {50, 250, identityWith(5, u"(0.0,-5.0)")}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        deliver(c.start.empty() ? kIdentity : c.start);
        host.pinValues.clear();
        press(c.pressX, c.pressY);
        ASSERT_GE(editor->dragIndex, 0);
        for (const Step& s : c.steps) {
            move(s.x, s.y);
            EXPECT_EQ(lastSent(), s.sent);
            EXPECT_EQ(editor->curvePin.value, s.sent);
        }
        releaseButton(0, 0);
        EXPECT_EQ(host.pinValues.size(), c.steps.size()) << "the release sends nothing";
        const PinText& sent = host.pinValues.back().text;
        EXPECT_EQ(host.pinValues.back().byteCount, static_cast<int32_t>(sent.size() * 2));
        EXPECT_EQ(host.pinValues.back().pinIndex, 0);
        EXPECT_EQ(host.pinValues.back().voice, 0);
    }
}

TEST_F(CurveEditor, UpperBoundWinsWhenNeighboursAreClose) {
    open(100, 100);
    deliver(u"(-5,-5)(-4,-4)(-3,-3)(-2,-2)(-0.05,-1)(0,0)(0.05,1)(2,2)(3,3)(4,4)(5,5)");
    press(50, 50);
    ASSERT_EQ(editor->dragIndex, 5);
    move(50, 50);
    // Bounds 50.5 (lower) and 49.5 (upper): the upper one is taken.
    EXPECT_EQ(editor->points[5].x, 49.5f);
}

TEST_F(CurveEditor, UnchangedTextIsNotSentButRepainted) {
    open(100, 100);
    deliver(u"");
    press(50, 50);
    move(50, 50);
    ASSERT_EQ(host.pinValues.size(), 1u) << "the empty pin text differs from the written curve";
    EXPECT_EQ(lastSent(), kIdentity);
    native::updateWindow(window);
    EXPECT_FALSE(native::needsPaint(window));
    move(50, 50);
    EXPECT_EQ(host.pinValues.size(), 1u);
    EXPECT_TRUE(native::needsPaint(window));
}

TEST_F(CurveEditor, ReadOutWhileDragging) {
    open(100, 100);
    deliver(u"");
    press(0, 99);
    native::updateWindow(window);
    gfx::Canvas canvas(100, 100);
    LoggingPainter painter(canvas);
    editor->paint(painter);
    ASSERT_FALSE(painter.texts.empty());
    EXPECT_EQ(painter.texts.back().text, L"-5.0,-5.0");
    EXPECT_EQ(painter.texts.back().x, 0);
    EXPECT_EQ(painter.texts.back().y, 0);
    EXPECT_EQ(painter.texts.back().align, 0u);

    move(10, 89);
    LoggingPainter after(canvas);
    editor->paint(after);
    EXPECT_EQ(after.texts.back().text, L"-5.0,-4.0");

    releaseButton(10, 89);
    EXPECT_EQ(editor->dragIndex, -1);
    EXPECT_EQ(platform::getCapture(), nullptr);
    EXPECT_TRUE(native::needsPaint(window));
    LoggingPainter released(canvas);
    editor->paint(released);
    EXPECT_EQ(released.texts.size(), 10u) << "only the labels";
}

TEST_F(CurveEditor, ReleaseWithoutHitDoesNothing) {
    open(100, 100);
    deliver(u"");
    native::updateWindow(window);
    press(25, 25);
    releaseButton(25, 25);
    EXPECT_FALSE(native::needsPaint(window));
    EXPECT_TRUE(host.pinValues.empty());
}

TEST_F(CurveEditor, OwnSendIsNotReadBackButOtherChangesAre) {
    open(200, 200);
    deliver(u"");
    // A host that hands the value straight back as a pin change.
    host.onPinValue = [this](const PinValueSent& sent) {
        raw::editor::setPin(ui, kCurveEditorTextPin, 0, sent.byteCount, sent.text.data());
        raw::editor::notifyPin(ui, kCurveEditorTextPin, 0);
    };
    press(100, 100);
    move(101, 100);
    // Half a grid unit: written as 0.1 V, kept at full precision.
    EXPECT_EQ(editor->points[5].x, 50.5f);
    EXPECT_EQ(lastSent(), identityWith(5, u"(0.1,0.0)"));
    host.onPinValue = nullptr;

    // A change from elsewhere during the drag replaces the points; the drag goes on from there.
    deliver(identityWith(5, u"(0.5,0.0)"));
    EXPECT_EQ(editor->points[5].x, 55.0f);
    move(102, 100);
    EXPECT_EQ(editor->points[5].x, 55.5f);
}

TEST_F(CurveEditor, PointsThatCannotBePlacedAreNeitherDrawnNorHit) {
    open(100, 100);
    deliver(u"(-5,-5)(-4,-4)(-3,-3)(-2,-2)(-1,-1)(nan,0)(1,1)(2,2)(3,3)(4,4)(inf,5)");
    gfx::Canvas canvas(100, 100);
    LoggingPainter painter(canvas);
    editor->paint(painter);
    // The grid's diagonal shows where the curve's segments 4-5 and 5-6 would have been.
    EXPECT_EQ(canvas.pixel(47, 53), kGrid);
    EXPECT_EQ(canvas.pixel(53, 47), kGrid);
    EXPECT_EQ(canvas.pixel(35, 65), kCurve);
    EXPECT_EQ(canvas.pixel(75, 25), kCurve);
    EXPECT_EQ(canvas.pixel(95, 5), kGrid) << "segment 9-10 is gone too";
    press(50, 50);
    EXPECT_EQ(editor->dragIndex, -1);
    press(97, 0);
    EXPECT_EQ(editor->dragIndex, -1);
    // A neighbour that cannot be placed sets no bound: point 6 may go as far left as the panel edge.
    press(60, 40);
    ASSERT_EQ(editor->dragIndex, 6);
    move(0, 40);
    EXPECT_EQ(editor->points[6].x, 0.0f);
}

TEST_F(CurveEditor, HugeCoordinatesDrawFarOutside) {
    open(100, 100);
    deliver(u"(-5,-5)(-4,-4)(-3,-3)(-2,-2)(-1,-1)(1e30,-1e30)(1,1)(2,2)(3,3)(4,4)(5,5)");
    const gfx::Canvas& c = paintWindow();
    EXPECT_EQ(c.pixel(35, 65), kCurve);
}

TEST_F(CurveEditor, EmptyPanelIgnoresDragSteps) {
    open(100, 100);
    deliver(u"");
    press(50, 50);
    ASSERT_EQ(editor->dragIndex, 5);
    raw::graphics::arrange(graphics, 0, 0, 0, 100);
    move(60, 40);
    EXPECT_EQ(editor->points[5].x, 50.0f);
    EXPECT_EQ(editor->points[5].y, 50.0f);
    EXPECT_TRUE(host.pinValues.empty());
}

TEST_F(CurveEditor, PinChangesWithoutWindowStillReadThePoints) {
    deliver(u"(1,2)");
    EXPECT_EQ(editor->points[0].x, 60.0f);
    EXPECT_EQ(editor->points[0].y, 30.0f);
    EXPECT_EQ(editor->points[1].x, 0.0f);
}

} // namespace
