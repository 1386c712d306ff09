// The native window base on the portable window system: sizing, window and class bookkeeping, and the
// message dispatch.
#include <gtest/gtest.h>

#include <vector>

#include "curve_editor/waveshaper_gui.h"
#include "gui/gfx_base.h"
#include "gui/platform/native_window_system.h"
#include "host/raw_calls.h"
#include "host/stand_in_editor_host.h"
#include "tests/gui/gui_test_support.h"

namespace {

using namespace mphost;
namespace native = platform::native;
using guitest::Call;
using guitest::graphicsFace;
using guitest::RecordingEditor;

bool classRegistered() {
    return native::isClassRegistered(L"DefaultMpWClass", platform::libraryInstance());
}

class WindowBase : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(MpGuiWindowsGfxBase::openWindowCount, 0);
        parent = native::createHostWindow(400, 300);
        ASSERT_NE(parent, nullptr);
        native::resetQuit();
    }
    void TearDown() override {
        platform::destroyWindow(parent);
        EXPECT_EQ(MpGuiWindowsGfxBase::openWindowCount, 0);
        EXPECT_FALSE(classRegistered());
    }
    platform::WindowHandle open(MpGuiWindowsGfxBase& editor) {
        platform::WindowHandle window = nullptr;
        EXPECT_EQ(raw::graphics::openWindow(graphicsFace(editor), parent, &window), gmpi::kResultOk);
        return window;
    }

    platform::WindowHandle parent = nullptr;
};

TEST_F(WindowBase, MeasureClampsEachValueIntoTheRange) {
    RecordingEditor base;
    waveshaperGui curve;
    const struct {
        int32_t a, b, width, height;
    } cases[] = {{5, 500, 15, 100},
                 {50, 60, 50, 60},
                 {15, 100, 15, 100},
                 {14, 101, 15, 100},
                 {-7, 0, 15, 15},
                 {100, 15, 100, 15},
                 {INT32_MIN, INT32_MAX, 15, 100}};
    for (const auto& c : cases) {
        for (MpGuiWindowsGfxBase* editor :
             {static_cast<MpGuiWindowsGfxBase*>(&base), static_cast<MpGuiWindowsGfxBase*>(&curve)}) {
            raw::Size size{-1, -1};
            EXPECT_EQ(raw::graphics::measure(graphicsFace(*editor), c.a, c.b, &size), gmpi::kResultOk);
            EXPECT_EQ(size.width, c.width) << c.a;
            EXPECT_EQ(size.height, c.height) << c.b;
        }
    }
}

TEST_F(WindowBase, OpenWindowCreatesAChildAtTheArrangedPlace) {
    RecordingEditor editor;
    EXPECT_EQ(raw::graphics::arrange(graphicsFace(editor), 10, 110, 20, 220), gmpi::kResultOk);
    const platform::WindowHandle window = open(editor);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window, editor.windowHandle);
    native::WindowPlacement placement{};
    ASSERT_TRUE(native::windowPlacement(window, &placement));
    EXPECT_EQ(placement.x, 20);
    EXPECT_EQ(placement.y, 10);
    EXPECT_EQ(placement.width, 200);
    EXPECT_EQ(placement.height, 100);
    EXPECT_EQ(placement.parent, parent);
    EXPECT_EQ(placement.style, 0x50000000u);
    EXPECT_EQ(placement.exStyle, 0u);
    // The window creation message came before the user data: default processing, not the editor.
    EXPECT_TRUE(editor.messages.empty());

    // arrange on an open window stores the place but does not move it.
    raw::graphics::arrange(graphicsFace(editor), 0, 50, 0, 50);
    ASSERT_TRUE(native::windowPlacement(window, &placement));
    EXPECT_EQ(placement.width, 200);
    EXPECT_EQ(editor.windowRect.bottom, 50);

    EXPECT_EQ(raw::graphics::closeWindow(graphicsFace(editor)), gmpi::kResultOk);
    EXPECT_FALSE(native::isWindow(window));
    EXPECT_EQ(editor.windowHandle, nullptr);
    // Reopened with the stored place.
    const platform::WindowHandle again = open(editor);
    ASSERT_TRUE(native::windowPlacement(again, &placement));
    EXPECT_EQ(placement.width, 50);
    raw::graphics::closeWindow(graphicsFace(editor));
}

TEST_F(WindowBase, ClassLivesFromTheFirstOpenWindowToTheLastClose) {
    RecordingEditor first;
    RecordingEditor second;
    EXPECT_FALSE(classRegistered());
    open(first);
    EXPECT_TRUE(classRegistered());
    EXPECT_EQ(MpGuiWindowsGfxBase::openWindowCount, 1);
    open(second);
    EXPECT_EQ(MpGuiWindowsGfxBase::openWindowCount, 2);
    raw::graphics::closeWindow(graphicsFace(first));
    EXPECT_TRUE(classRegistered());
    EXPECT_EQ(MpGuiWindowsGfxBase::openWindowCount, 1);
    // Closing again without a window changes nothing.
    EXPECT_EQ(raw::graphics::closeWindow(graphicsFace(first)), gmpi::kResultOk);
    EXPECT_EQ(MpGuiWindowsGfxBase::openWindowCount, 1);
    raw::graphics::closeWindow(graphicsFace(second));
    EXPECT_FALSE(classRegistered());
}

TEST_F(WindowBase, FailedCreationLeavesNoWindowAndNoCount) {
    RecordingEditor editor;
    platform::WindowHandle window = reinterpret_cast<platform::WindowHandle>(1);
    // A child window without a parent cannot be created.
    EXPECT_EQ(raw::graphics::openWindow(graphicsFace(editor), nullptr, &window), gmpi::kResultOk);
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(editor.windowHandle, nullptr);
    EXPECT_EQ(MpGuiWindowsGfxBase::openWindowCount, 0);
    EXPECT_FALSE(classRegistered());
}

TEST_F(WindowBase, MessagesReachTheHandlers) {
    RecordingEditor editor;
    raw::graphics::arrange(graphicsFace(editor), 0, 50, 0, 60);
    const platform::WindowHandle window = open(editor);
    platform::setCapture(window);
    EXPECT_TRUE(editor.isMouseCaptured());
    const struct {
        uint32_t message;
        platform::WParam wParam;
        platform::LParam lParam;
        Call expected;
    } cases[] = {
        {platform::kWmPaint, 0, 0, {"paint", 1, 0, 0}},
        {platform::kWmLButtonDown, 1, platform::makeMouseLParam(-5, 7), {"down", 1, -5, 7}},
        {platform::kWmMouseMove, 9, platform::makeMouseLParam(-32768, -1), {"move", 9, -32768, -1}},
        {platform::kWmLButtonUp, 0, platform::makeMouseLParam(32767, -300), {"up", 0, 32767, -300}},
        {platform::kWmTimer, 1, 0, {"timer", 0, 0, 0}},
    };
    for (const auto& c : cases) {
        editor.calls.clear();
        EXPECT_EQ(native::sendMessage(window, c.message, c.wParam, c.lParam), 1);
        ASSERT_EQ(editor.calls.size(), 1u) << c.expected.handler;
        EXPECT_STREQ(editor.calls[0].handler, c.expected.handler);
        EXPECT_EQ(editor.calls[0].flags, c.expected.flags);
        EXPECT_EQ(editor.calls[0].x, c.expected.x);
        EXPECT_EQ(editor.calls[0].y, c.expected.y);
    }
    // Anything else gets default processing and its result.
    editor.calls.clear();
    EXPECT_EQ(native::sendMessage(window, 0x0400, 0, 0), 0);
    EXPECT_TRUE(editor.calls.empty());
    platform::releaseCapture();
    EXPECT_FALSE(editor.isMouseCaptured());
    raw::graphics::closeWindow(graphicsFace(editor));
}

TEST_F(WindowBase, CloseMessageDestroysTheWindowAndTheEditorForgetsIt) {
    RecordingEditor editor;
    const platform::WindowHandle window = open(editor);
    EXPECT_EQ(native::sendMessage(window, platform::kWmClose, 0, 0), 1);
    EXPECT_FALSE(native::isWindow(window));
    EXPECT_EQ(editor.messages.back(), platform::kWmDestroy);
    EXPECT_FALSE(native::quitPosted(nullptr)) << "a child window posts no quit";
    // No handle of a dead window is kept, and it no longer counts as open.
    EXPECT_EQ(editor.windowHandle, nullptr);
    EXPECT_EQ(MpGuiWindowsGfxBase::openWindowCount, 0);
    EXPECT_EQ(raw::graphics::closeWindow(graphicsFace(editor)), gmpi::kResultOk);
    EXPECT_EQ(MpGuiWindowsGfxBase::openWindowCount, 0);
    // The next window opens and closes as usual, and the class goes with it.
    open(editor);
    EXPECT_EQ(MpGuiWindowsGfxBase::openWindowCount, 1);
    raw::graphics::closeWindow(graphicsFace(editor));
}

TEST_F(WindowBase, DestroyingAWindowWithoutParentPostsQuit) {
    RecordingEditor editor;
    editor.topLevel = true;
    platform::WindowHandle window = nullptr;
    raw::graphics::openWindow(graphicsFace(editor), nullptr, &window);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(platform::getParent(window), nullptr);
    raw::graphics::closeWindow(graphicsFace(editor));
    int code = -1;
    EXPECT_TRUE(native::quitPosted(&code));
    EXPECT_EQ(code, 0);
    native::resetQuit();
}

TEST_F(WindowBase, ReleasingAnEditorWithAnOpenWindowClosesIt) {
    EditorHost host;
    auto* editor = new waveshaperGui();
    editor->attachHost(host.unknown());
    raw::graphics::arrange(graphicsFace(*editor), 0, 100, 0, 100);
    const platform::WindowHandle window = open(*editor);
    ASSERT_TRUE(native::isWindow(window));
    EXPECT_EQ(raw::release(static_cast<gmpi::IMpUserInterface*>(editor)), 0);
    EXPECT_FALSE(native::isWindow(window));
    EXPECT_EQ(MpGuiWindowsGfxBase::openWindowCount, 0);
    EXPECT_FALSE(classRegistered());
}

TEST_F(WindowBase, ReferenceCountIsSharedByBothFaces) {
    auto* editor = new waveshaperGui();
    void* graphics = nullptr;
    ASSERT_EQ(raw::queryInterface(static_cast<gmpi::IMpUserInterface*>(editor), gmpi::kIidGraphicsWinGdi,
                                  &graphics),
              gmpi::kResultOk);
    EXPECT_EQ(graphics, graphicsFace(*editor));
    EXPECT_EQ(raw::addRef(graphics), 3);
    void* ui = nullptr;
    ASSERT_EQ(raw::queryInterface(graphics, gmpi::kIidUserInterface, &ui), gmpi::kResultOk);
    EXPECT_EQ(ui, static_cast<gmpi::IMpUserInterface*>(editor));
    EXPECT_EQ(raw::release(ui), 3);
    EXPECT_EQ(raw::release(graphics), 2);
    EXPECT_EQ(raw::release(graphics), 1);
    EXPECT_EQ(raw::release(ui), 0);
}

} // namespace
