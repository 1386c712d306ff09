// Editor calls around the window's life, through the native window-system layer: values before the
// window opens and after it closed, a second open, the parent destroyed first, the window closed by
// its own message, and hosts that offer no editor services.
#include <gtest/gtest.h>

#include "factory/interface_id.h"
#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "factory/pin_text.h"
#include "factory/result_codes.h"
#include "gui/platform/native_window_system.h"
#include "host/raw_calls.h"
#include "host/stand_in_editor_host.h"
#include "reliability/rig.h"
#include "support/alloc_counter.h"

namespace {

namespace raw = mphost::raw;
namespace native = platform::native;

const PinText kIdentityCurve = u"(-5.0,-5.0)(-4.0,-4.0)(-3.0,-3.0)(-2.0,-2.0)(-1.0,-1.0)(0.0,0.0)"
                               u"(1.0,1.0)(2.0,2.0)(3.0,3.0)(4.0,4.0)(5.0,5.0)";
const PinText kHalfCurve = u"(-5.0,-2.5)(-4.0,-2.0)(-3.0,-1.5)(-2.0,-1.0)(-1.0,-0.5)(0.0,0.0)"
                           u"(1.0,0.5)(2.0,1.0)(3.0,1.5)(4.0,2.0)(5.0,2.5)";

class HostileEditorHost : public ::testing::Test {
protected:
    void SetUp() override {
        windowsBefore = native::liveWindowCount();
        if (MpFactory::instance()->createInstance(kCurveWaveshaperId, kEditorModule, host.unknown(),
                                                  &editor) != gmpi::kResultOk ||
            editor == nullptr)
            GTEST_SKIP() << "editor not registered in this build";
        ASSERT_EQ(raw::queryInterface(editor, gmpi::kIidGraphicsWinGdi, &graphics), gmpi::kResultOk);
        raw::release(graphics); // the editor's own reference keeps the face alive
        parent = native::createHostWindow(200, 200);
        raw::graphics::arrange(graphics, 0, 100, 0, 100);
    }
    void TearDown() override {
        if (editor != nullptr) {
            EXPECT_EQ(raw::release(editor), 0);
        }
        if (parent != nullptr)
            platform::destroyWindow(parent);
        EXPECT_EQ(native::liveWindowCount(), windowsBefore);
    }
    void sendText(const PinText& text) {
        raw::editor::setPin(editor, kCurveEditorTextPin, 0, pinTextByteSize(text), text.data());
        raw::editor::notifyPin(editor, kCurveEditorTextPin, 0);
    }
    void mouse(platform::WindowHandle window) {
        native::sendMessage(window, platform::kWmLButtonDown, 1, platform::makeMouseLParam(50, 50));
        native::sendMessage(window, platform::kWmMouseMove, 1, platform::makeMouseLParam(60, 40));
        native::sendMessage(window, platform::kWmLButtonUp, 0, platform::makeMouseLParam(60, 40));
        native::sendMessage(window, platform::kWmPaint, 0, 0);
    }

    mphost::EditorHost host;
    void* editor = nullptr;
    void* graphics = nullptr;
    platform::WindowHandle parent = nullptr;
    int windowsBefore = 0;
};

TEST_F(HostileEditorHost, PinValuesBeforeOpenAndAfterClose) {
    sendText(kIdentityCurve);
    sendText(u"garbage)");
    raw::editor::setPin(editor, kCurveEditorTextPin, 0, -4, nullptr);
    raw::editor::setPin(editor, kCurveEditorTextPin, 0, 7, "(1,2)(3");
    raw::editor::notifyPin(editor, kCurveEditorTextPin, 0);
    raw::editor::setPin(editor, 5, 0, 2, u"x");
    raw::editor::notifyPin(editor, -1, 0);

    void* window = nullptr;
    ASSERT_EQ(raw::graphics::openWindow(graphics, parent, &window), gmpi::kResultOk);
    ASSERT_NE(window, nullptr);
    mouse(window);
    EXPECT_EQ(raw::graphics::closeWindow(graphics), gmpi::kResultOk);
    EXPECT_FALSE(native::isWindow(window));

    // After the close: values, sizes and messages to the old handle go nowhere harmful.
    sendText(kHalfCurve);
    raw::graphics::arrange(graphics, 10, 5, 10, 5);
    mouse(window);
    EXPECT_EQ(raw::graphics::closeWindow(graphics), gmpi::kResultOk);
}

TEST_F(HostileEditorHost, SecondOpenGivesTheSameWindow) {
    void* first = nullptr;
    void* second = nullptr;
    raw::graphics::openWindow(graphics, parent, &first);
    raw::graphics::openWindow(graphics, parent, &second);
    EXPECT_EQ(first, second);
    EXPECT_EQ(native::liveWindowCount(), windowsBefore + 2); // the host's parent and one editor window
    // Released while open, then the parent goes: no message may reach the released editor.
    EXPECT_EQ(raw::release(editor), 0);
    editor = nullptr;
    EXPECT_FALSE(native::isWindow(first));
}

TEST_F(HostileEditorHost, ParentDestroyedBeforeCloseWindow) {
    void* window = nullptr;
    raw::graphics::openWindow(graphics, parent, &window);
    platform::destroyWindow(parent);
    parent = nullptr;
    EXPECT_FALSE(native::isWindow(window));
    EXPECT_EQ(raw::graphics::closeWindow(graphics), gmpi::kResultOk);
    // The editor can open again under a new parent.
    parent = native::createHostWindow(200, 200);
    void* again = nullptr;
    raw::graphics::openWindow(graphics, parent, &again);
    EXPECT_TRUE(native::isWindow(again));
    mouse(again);
    raw::graphics::closeWindow(graphics);
    EXPECT_FALSE(native::isClassRegistered(L"DefaultMpWClass", platform::libraryInstance()));
}

TEST_F(HostileEditorHost, WindowClosedByItsOwnMessage) {
    void* window = nullptr;
    raw::graphics::openWindow(graphics, parent, &window);
    native::sendMessage(window, platform::kWmClose, 0, 0);
    EXPECT_FALSE(native::isWindow(window));
    sendText(kHalfCurve);
    EXPECT_EQ(raw::graphics::closeWindow(graphics), gmpi::kResultOk);
    EXPECT_FALSE(native::isClassRegistered(L"DefaultMpWClass", platform::libraryInstance()));
}

TEST_F(HostileEditorHost, ADragStepThatCannotBeSentChangesNothing) {
    sendText(kIdentityCurve);
    void* window = nullptr;
    ASSERT_EQ(raw::graphics::openWindow(graphics, parent, &window), gmpi::kResultOk);
    // Point 5, (0 V, 0 V), sits at the panel's centre; its neighbours are 1 V away on either side.
    native::sendMessage(window, platform::kWmLButtonDown, 1, platform::makeMouseLParam(50, 50));
    host.pinValues.clear();
    {
        alloc::failAllocations(true);
        native::sendMessage(window, platform::kWmMouseMove, 1, platform::makeMouseLParam(60, 40));
        native::sendMessage(window, platform::kWmPaint, 0, 0);
        alloc::failAllocations(false);
    }
    EXPECT_TRUE(host.pinValues.empty());
    // With memory back the drag goes on from where the last sent step left it: point 5 at the centre,
    // moved now by half a volt each way.
    native::sendMessage(window, platform::kWmMouseMove, 1, platform::makeMouseLParam(55, 45));
    ASSERT_EQ(host.pinValues.size(), 1u);
    EXPECT_EQ(host.pinValues[0].text, u"(-5.0,-5.0)(-4.0,-4.0)(-3.0,-3.0)(-2.0,-2.0)(-1.0,-1.0)(0.5,0.5)"
                                      u"(1.0,1.0)(2.0,2.0)(3.0,3.0)(4.0,4.0)(5.0,5.0)");
    native::sendMessage(window, platform::kWmLButtonUp, 0, platform::makeMouseLParam(55, 45));
    // And a text from the host is taken again: the editor sends the half curve's point on the next drag.
    sendText(kHalfCurve);
    host.pinValues.clear();
    native::sendMessage(window, platform::kWmLButtonDown, 1, platform::makeMouseLParam(50, 50));
    native::sendMessage(window, platform::kWmMouseMove, 1, platform::makeMouseLParam(50, 51));
    ASSERT_EQ(host.pinValues.size(), 1u);
    EXPECT_EQ(host.pinValues[0].text.substr(0, 22), u"(-5.0,-2.5)(-4.0,-2.0)");
    native::sendMessage(window, platform::kWmLButtonUp, 0, platform::makeMouseLParam(50, 51));
    EXPECT_EQ(raw::graphics::closeWindow(graphics), gmpi::kResultOk);
}

TEST(HostileEditorHostFactory, EditorWithoutHostOrServicesIsRefused) {
    void* editor = nullptr;
    const int32_t bare =
        MpFactory::instance()->createInstance(kCurveWaveshaperId, kEditorModule, nullptr, &editor);
    if (bare == gmpi::kResultUnsupported)
        GTEST_SKIP() << "editor not registered in this build";
    EXPECT_EQ(bare, gmpi::kResultFailed);
    if (editor != nullptr)
        raw::release(editor);

    mphost::EditorHost host;
    host.offerWindowHost = false;
    editor = nullptr;
    EXPECT_EQ(
        MpFactory::instance()->createInstance(kCurveWaveshaperId, kEditorModule, host.unknown(), &editor),
        gmpi::kResultFailed);
    if (editor != nullptr)
        raw::release(editor);
}

} // namespace
