// The curve editor on the X11 window system, as a plugin UI embeds it: a window of another X client
// (this test's own connection plays the host) adopted as the parent, the editor opened in it through
// its window face, real pointer input from the server's test extension (xdotool), and the window's
// pixels read back from the server. Runs under Xvfb (CTest starts it with xvfb-run).
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "curve_editor/waveshaper_gui.h"
#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "gui/platform/x11_window_system.h"
#include "gui/software_canvas.h"
#include "host/raw_calls.h"
#include "host/stand_in_editor_host.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/x11_pixels.h"

namespace {

using namespace mphost;
namespace x11 = platform::x11;
using guitest::identityWith;

const PinText kIdentity =
    u"(-5.0,-5.0)(-4.0,-4.0)(-3.0,-3.0)(-2.0,-2.0)(-1.0,-1.0)(0.0,0.0)(1.0,1.0)(2.0,2.0)"
    u"(3.0,3.0)(4.0,4.0)(5.0,5.0)";

// Where the host window and the editor inside it sit on the screen.
constexpr int kHostX = 100;
constexpr int kHostY = 80;
constexpr int kEditorX = 20;
constexpr int kEditorY = 10;
constexpr int kPanel = 100;

struct Rgb {
    int r;
    int g;
    int b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// The pixels of an X window as Rgb values.
std::vector<Rgb> windowPixels(Display* display, Window window, int x, int y, int width, int height) {
    const std::vector<uint8_t> rgb = x11_pixels::windowRgb(display, window, x, y, width, height);
    std::vector<Rgb> pixels;
    for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
        pixels.push_back({rgb[i], rgb[i + 1], rgb[i + 2]});
    return pixels;
}

class X11Editor : public ::testing::Test {
protected:
    void SetUp() override {
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "no X server: run under xvfb-run";
        hostWindow = XCreateSimpleWindow(display, DefaultRootWindow(display), kHostX, kHostY, 300, 200, 0, 0,
                                         WhitePixel(display, DefaultScreen(display)));
        XMapWindow(display, hostWindow);
        XSync(display, False);

        void* factory = nullptr;
        ASSERT_EQ(MpFactory::instance()->queryInterface(gmpi::kIidFactory2, &factory), gmpi::kResultOk);
        void* object = nullptr;
        ASSERT_EQ(raw::createInstance(factory, kCurveWaveshaperId, kEditorModule, host.unknown(), &object),
                  gmpi::kResultOk);
        ui = object;
        ASSERT_EQ(raw::queryInterface(ui, gmpi::kIidGraphicsWinGdi, &graphics), gmpi::kResultOk);
        raw::release(graphics);
        editor = dynamic_cast<waveshaperGui*>(static_cast<gmpi::IMpUserInterface*>(ui));
        ASSERT_NE(editor, nullptr);

        parent = x11::adoptForeignWindow(hostWindow);
        ASSERT_NE(parent, nullptr);
        raw::graphics::arrange(graphics, kEditorY, kEditorY + kPanel, kEditorX, kEditorX + kPanel);
        raw::graphics::openWindow(graphics, parent, &window);
        ASSERT_NE(window, nullptr);
        editorWindow = x11::windowId(window);
        ASSERT_NE(editorWindow, 0UL);
        deliver(kIdentity);
        ASSERT_TRUE(pumpUntil([&] { return paintedLikeTheEditor(); })) << "the panel never showed";
    }

    void TearDown() override {
        if (ui != nullptr) {
            raw::graphics::closeWindow(graphics);
            EXPECT_EQ(raw::release(ui), 0);
        }
        if (parent != nullptr)
            platform::destroyWindow(parent);
        EXPECT_FALSE(x11::connected()) << "the connection goes with the last window";
        if (display != nullptr) {
            if (hostWindow != 0)
                XDestroyWindow(display, hostWindow);
            XCloseDisplay(display);
        }
    }

    void deliver(const PinText& text) {
        raw::editor::setPin(ui, kCurveEditorTextPin, 0, static_cast<int32_t>(text.size() * 2), text.data());
        raw::editor::notifyPin(ui, kCurveEditorTextPin, 0);
    }

    // Runs the library's event loop step, as a host's idle callback does, until the condition holds.
    bool pumpUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            x11::dispatchEvents();
            if (done())
                return true;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    void pumpFor(std::chrono::milliseconds span) {
        const auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end) {
            x11::dispatchEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // Real pointer input through the server's test extension, relative to the editor window.
    void pointer(const std::string& actions) {
        const std::string command = "xdotool " + actions;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    std::string at(int x, int y) const {
        return "mousemove --sync --window " + std::to_string(editorWindow) + " " + std::to_string(x) + " " +
               std::to_string(y) + " ";
    }

    // The window's pixels as the server holds them.
    std::vector<Rgb> screenPixels(int width, int height) {
        return windowPixels(display, editorWindow, 0, 0, width, height);
    }

    // The panel as the editor paints it on a software device context of its size.
    std::vector<Rgb> editorPainting(int width = kPanel, int height = kPanel) {
        gfx::Canvas canvas(width, height, gfx::rgb(0, 0, 0));
        gfx::SoftwarePainter painter(canvas);
        editor->paint(painter);
        std::vector<Rgb> pixels;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const gfx::Colour c = canvas.pixel(x, y);
                pixels.push_back({gfx::redOf(c), gfx::greenOf(c), gfx::blueOf(c)});
            }
        }
        return pixels;
    }

    bool paintedLikeTheEditor() { return screenPixels(kPanel, kPanel) == editorPainting(); }

    Rgb screenPixel(int x, int y) { return screenPixels(x + 1, y + 1).back(); }

    std::string lastSent() const {
        if (host.pinValues.empty())
            return std::string();
        return std::string(host.pinValues.back().text.begin(), host.pinValues.back().text.end());
    }

    Display* display = nullptr;
    Window hostWindow = 0;
    EditorHost host;
    void* ui = nullptr;
    void* graphics = nullptr;
    waveshaperGui* editor = nullptr;
    platform::WindowHandle parent = nullptr;
    platform::WindowHandle window = nullptr;
    Window editorWindow = 0;
};

std::string ascii(const PinText& text) {
    return std::string(text.begin(), text.end());
}

TEST_F(X11Editor, TheEditorIsAChildOfTheHostWindowAtItsPlaceShowingItsPanel) {
    Window root = 0;
    Window parentOfEditor = 0;
    Window* children = nullptr;
    unsigned count = 0;
    ASSERT_NE(XQueryTree(display, editorWindow, &root, &parentOfEditor, &children, &count), 0);
    if (children != nullptr)
        XFree(children);
    EXPECT_EQ(parentOfEditor, hostWindow);
    XWindowAttributes attributes;
    ASSERT_NE(XGetWindowAttributes(display, editorWindow, &attributes), 0);
    EXPECT_EQ(attributes.x, kEditorX);
    EXPECT_EQ(attributes.y, kEditorY);
    EXPECT_EQ(attributes.width, kPanel);
    EXPECT_EQ(attributes.height, kPanel);
    EXPECT_EQ(attributes.map_state, IsViewable);
    // Colours as the panel defines them, read through the server's pixel format: the black ground,
    // the dark green axis, the bright green identity curve.
    EXPECT_EQ(screenPixel(1, 1), (Rgb{0, 0, 0}));
    EXPECT_EQ(screenPixel(20, 50), (Rgb{0, 100, 0}));
    EXPECT_EQ(screenPixel(30, 70), (Rgb{0, 255, 0}));
}

TEST_F(X11Editor, ARealDragMovesThePointUnderThePressAndSendsTheWholeCurve) {
    // Point 5 (0 V, 0 V) sits at the panel's centre; 20 pixels up in a 100-pixel panel are 2 V.
    pointer(at(50, 50) + "mousedown 1 " + at(50, 40) + at(50, 30) + "mouseup 1");
    ASSERT_TRUE(pumpUntil([&] { return !editor->isMouseCaptured() && host.pinValues.size() >= 2; }));
    EXPECT_EQ(lastSent(), ascii(identityWith(5, u"(0.0,2.0)")));
    EXPECT_EQ(editor->dragIndex, -1);
    EXPECT_TRUE(pumpUntil([&] { return paintedLikeTheEditor(); })) << "the moved point is on the screen";
    EXPECT_EQ(screenPixel(50, 30), (Rgb{0, 255, 0}));
}

TEST_F(X11Editor, MotionAndReleaseOutsideTheWindowStillReachTheDraggedPoint) {
    // The press grabs the pointer: a move far above the panel still reaches the editor and pins
    // point 7 (2 V) at the top edge, +5 V; the release out there ends the drag.
    pointer(at(70, 30) + "mousedown 1 " + at(70, -60) + "mouseup 1");
    ASSERT_TRUE(pumpUntil([&] { return !editor->isMouseCaptured() && !host.pinValues.empty(); }));
    EXPECT_EQ(lastSent(), ascii(identityWith(7, u"(2.0,5.0)")));
    // Without a press nothing moves.
    const std::size_t sent = host.pinValues.size();
    pointer(at(10, 90) + at(40, 40));
    pumpFor(std::chrono::milliseconds(300));
    EXPECT_EQ(host.pinValues.size(), sent);
}

TEST_F(X11Editor, WhatTheServerClearedIsPaintedAgain) {
    XClearArea(display, editorWindow, 0, 0, 0, 0, True);
    XSync(display, False);
    EXPECT_EQ(screenPixel(30, 70), (Rgb{0, 0, 0})) << "cleared to the window's black background";
    EXPECT_TRUE(pumpUntil([&] { return paintedLikeTheEditor(); }));
}

TEST_F(X11Editor, ANewTextFromTheHostIsShownAtTheNextStep) {
    deliver(identityWith(5, u"(0.0,3.0)"));
    EXPECT_TRUE(pumpUntil([&] { return paintedLikeTheEditor(); }));
    EXPECT_EQ(screenPixel(50, 20), (Rgb{0, 255, 0})) << "point 5 at +3 V";
}

TEST_F(X11Editor, AWindowMadeLargerByTheHostKeepsThePanelAndShowsBlackBeyondIt) {
    XResizeWindow(display, editorWindow, 160, 130);
    XSync(display, False);
    // The panel keeps its arranged size; the markers at its edge reach a few pixels past it, as they
    // would in any window larger than the panel, and the rest is the black ground.
    ASSERT_TRUE(pumpUntil([&] { return screenPixels(160, 130) == editorPainting(160, 130); }));
    const std::vector<Rgb> pixels = screenPixels(160, 130);
    for (int y = 0; y < 130; ++y) {
        for (int x = 0; x < 160; ++x) {
            if (x > kPanel + 5 || y > kPanel + 5) {
                ASSERT_EQ(pixels[static_cast<std::size_t>(y) * 160 + x], (Rgb{0, 0, 0})) << x << "," << y;
            }
        }
    }
}

TEST_F(X11Editor, AHostThatDestroysItsWindowFirstTakesTheEditorWindowAlong) {
    XDestroyWindow(display, hostWindow);
    hostWindow = 0;
    XSync(display, False);
    ASSERT_TRUE(pumpUntil([&] { return editor->windowHandle == nullptr; }));
    EXPECT_EQ(MpGuiWindowsGfxBase::openWindowCount, 0);
    // The UI's own cleanup afterwards finds nothing left to destroy, and makes no request that fails
    // fatally for a window that is gone.
    EXPECT_EQ(raw::graphics::closeWindow(graphics), gmpi::kResultOk);
    EXPECT_TRUE(platform::destroyWindow(parent));
    parent = nullptr;
    EXPECT_FALSE(x11::connected());
}

TEST_F(X11Editor, ClosingTheEditorRemovesItsWindowFromTheServer) {
    raw::graphics::closeWindow(graphics);
    XSync(display, False);
    Window root = 0;
    Window above = 0;
    Window* children = nullptr;
    unsigned count = 0;
    ASSERT_NE(XQueryTree(display, hostWindow, &root, &above, &children, &count), 0);
    if (children != nullptr)
        XFree(children);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(x11::connected()) << "the adopted host window still holds the connection";
}

// A window-base editor that paints three bands in colours with every channel distinct.
class BandsEditor : public DvGuiWindowsGfxBase {
public:
    int32_t handlePaint(platform::DeviceContext dc) override {
        platform::DcPainter painter(dc);
        const gfx::Colour colours[3] = {gfx::rgb(200, 30, 90), gfx::rgb(10, 220, 130), gfx::rgb(70, 0, 255)};
        for (int band = 0; band < 3; ++band) {
            const gfx::GdiObject brush = painter.createSolidBrush(colours[band]);
            painter.fillRect(gfx::Rect{band * 10, 0, band * 10 + 10, 10}, brush);
            painter.deleteObject(brush);
        }
        return 0;
    }
};

TEST_F(X11Editor, EveryColourChannelReachesTheScreenInItsPlace) {
    auto* bands = new BandsEditor;
    ASSERT_EQ(bands->attachHost(host.unknown()), gmpi::kResultOk);
    bands->arrange(120, 130, 0, 30);
    platform::WindowHandle bandsWindow = nullptr;
    bands->openWindow(parent, &bandsWindow);
    ASSERT_NE(bandsWindow, nullptr);
    const Window id = x11::windowId(bandsWindow);
    auto pixelAt = [&](int x) {
        const std::vector<Rgb> pixels = windowPixels(display, id, x, 5, 1, 1);
        return pixels.empty() ? Rgb{-1, -1, -1} : pixels[0];
    };
    EXPECT_TRUE(pumpUntil([&] { return pixelAt(25) == Rgb{70, 0, 255}; }));
    EXPECT_EQ(pixelAt(5), (Rgb{200, 30, 90}));
    EXPECT_EQ(pixelAt(15), (Rgb{10, 220, 130}));
    EXPECT_EQ(bands->release(), 0);
}

TEST(X11WindowSystem, AdoptingNoWindowOrOneThatDoesNotExistGivesNoHandle) {
    EXPECT_EQ(x11::adoptForeignWindow(0), nullptr);
    // An id no client has created: the server's error is trapped, not fatal.
    EXPECT_EQ(x11::adoptForeignWindow(0x1fffffffUL), nullptr);
    EXPECT_FALSE(x11::connected());
    EXPECT_EQ(x11::dispatchEvents(), 0);
}

TEST(X11WindowSystem, WithoutAServerNoWindowIsMade) {
    const char* saved = std::getenv("DISPLAY");
    const std::string display = saved != nullptr ? saved : "";
    setenv("DISPLAY", "unix:65000", 1);
    const platform::WindowHandle handle = x11::adoptForeignWindow(1);
    if (saved != nullptr)
        setenv("DISPLAY", display.c_str(), 1);
    else
        unsetenv("DISPLAY");
    EXPECT_EQ(handle, nullptr);
    EXPECT_FALSE(x11::connected());
}

} // namespace
