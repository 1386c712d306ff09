// The curve editor's LV2 UI as a host loads it: the shared object from the bundle folder opened with
// dlopen, its descriptor found by name, instantiated inside a window of this test's own X
// connection (the host's), driven by port events and the idle interface, and dragged with real
// pointer input (xdotool). What the UI writes to the plugin is recorded at the write function. The
// panel on the screen is compared with the editor module's own painting of the same curve text.
// Runs under Xvfb (CTest starts it with xvfb-run).
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <lv2/ui/ui.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "curve/curve_text.h"
#include "curve_editor/waveshaper_gui.h"
#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "gui/software_canvas.h"
#include "host/raw_calls.h"
#include "host/stand_in_editor_host.h"
#include "lv2/ports.h"
#include "tests/support/x11_pixels.h"

namespace {

namespace ports = waveshapers_lv2;
using namespace mphost;

constexpr int kPanel = 100;

struct Written {
    uint32_t port;
    uint32_t size;
    uint32_t format;
    float value;
};

void recordWrite(LV2UI_Controller controller, uint32_t port, uint32_t size, uint32_t format,
                 const void* buffer) {
    float value = 0.0f;
    if (size == sizeof(float))
        std::memcpy(&value, buffer, sizeof(value));
    static_cast<std::vector<Written>*>(controller)->push_back({port, size, format, value});
}

struct Resized {
    int calls = 0;
    int width = 0;
    int height = 0;
};

int recordResize(LV2UI_Feature_Handle handle, int width, int height) {
    auto* resized = static_cast<Resized*>(handle);
    ++resized->calls;
    resized->width = width;
    resized->height = height;
    return 0;
}

// The library's one copy of the UI, opened once for the whole program as a host opens it.
class UiLibrary {
public:
    UiLibrary() {
        handle = dlopen(WAVESHAPERS_UI_PATH, RTLD_NOW | RTLD_LOCAL);
        if (handle != nullptr)
            entry = reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(handle, "lv2ui_descriptor"));
    }
    ~UiLibrary() {
        if (handle != nullptr)
            dlclose(handle);
    }
    const LV2UI_Descriptor* descriptor(uint32_t index) const {
        return entry != nullptr ? entry(index) : nullptr;
    }

private:
    void* handle = nullptr;
    LV2UI_DescriptorFunction entry = nullptr;
};

const UiLibrary& uiLibrary() {
    static UiLibrary library;
    return library;
}

// The curve text of 11 points in volts, as the UI builds it from the controls.
PinText curveText(const float (&x)[11], const float (&y)[11]) {
    CurvePoint points[kCurvePointCount];
    for (int i = 0; i < kCurvePointCount; ++i)
        points[i] = voltsToGrid(x[i], y[i]);
    return formatCurveText(points);
}

// The editor module's own painting of a curve text on a software device context of the panel's size.
std::vector<uint8_t> editorPainting(const PinText& text) {
    EditorHost host;
    void* factory = nullptr;
    MpFactory::instance()->queryInterface(gmpi::kIidFactory2, &factory);
    void* object = nullptr;
    raw::createInstance(factory, kCurveWaveshaperId, kEditorModule, host.unknown(), &object);
    void* graphics = nullptr;
    raw::queryInterface(object, gmpi::kIidGraphicsWinGdi, &graphics);
    raw::graphics::arrange(graphics, 0, kPanel, 0, kPanel);
    raw::release(graphics);
    raw::editor::setPin(object, kCurveEditorTextPin, 0, pinTextByteSize(text), text.data());
    raw::editor::notifyPin(object, kCurveEditorTextPin, 0);
    gfx::Canvas canvas(kPanel, kPanel, gfx::rgb(0, 0, 0));
    gfx::SoftwarePainter painter(canvas);
    dynamic_cast<waveshaperGui*>(static_cast<gmpi::IMpUserInterface*>(object))->paint(painter);
    raw::release(object);
    return canvas.rgbBytes();
}

class CurveUiInHost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(uiLibrary().descriptor(0), nullptr)
            << "cannot load " << WAVESHAPERS_UI_PATH << ": " << dlerror();
        descriptor = uiLibrary().descriptor(0);
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "no X server: run under xvfb-run";
        hostWindow = XCreateSimpleWindow(display, DefaultRootWindow(display), 60, 40, 240, 180, 0, 0,
                                         WhitePixel(display, DefaultScreen(display)));
        XMapWindow(display, hostWindow);
        XSync(display, False);
        idle = static_cast<const LV2UI_Idle_Interface*>(descriptor->extension_data(LV2_UI__idleInterface));
        ASSERT_NE(idle, nullptr);
    }

    void TearDown() override {
        if (ui != nullptr)
            descriptor->cleanup(ui);
        if (hostWindow != 0)
            XDestroyWindow(display, hostWindow);
        if (display != nullptr)
            XCloseDisplay(display);
    }

    LV2UI_Handle instantiate(const char* pluginUri, bool withParent = true) {
        parentFeature = {LV2_UI__parent, reinterpret_cast<void*>(static_cast<uintptr_t>(hostWindow))};
        resizeData = {&resized, &recordResize};
        resizeFeature = {LV2_UI__resize, &resizeData};
        idleFeature = {LV2_UI__idleInterface, nullptr};
        const LV2_Feature* features[] = {&idleFeature, &resizeFeature, withParent ? &parentFeature : nullptr,
                                         nullptr};
        widget = nullptr;
        return descriptor->instantiate(descriptor, pluginUri, "/nonexistent/waveshapers.lv2/", &recordWrite,
                                       &written, &widget, features);
    }

    void open() {
        ui = instantiate(ports::kCurveMonoUri);
        ASSERT_NE(ui, nullptr);
        editorWindow = static_cast<Window>(reinterpret_cast<uintptr_t>(widget));
        ASSERT_NE(editorWindow, 0UL);
    }

    void setControl(uint32_t port, float value) {
        descriptor->port_event(ui, port, sizeof(value), 0, &value);
    }

    bool idleUntil(const std::function<bool()>& done, int seconds = 10) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        for (;;) {
            idleResult = descriptor != nullptr && ui != nullptr ? idle->idle(ui) : 0;
            if (done())
                return true;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    std::vector<uint8_t> screenPixels() {
        return x11_pixels::windowRgb(display, editorWindow, 0, 0, kPanel, kPanel);
    }

    bool shows(const PinText& text) {
        const std::vector<uint8_t> expected = editorPainting(text);
        return idleUntil([&] { return screenPixels() == expected; });
    }

    void drag(int fromX, int fromY, int toX, int toY) {
        const std::string w = " --window " + std::to_string(editorWindow) + " ";
        const std::string command = "xdotool mousemove --sync" + w + std::to_string(fromX) + " " +
                                    std::to_string(fromY) + " mousedown 1 mousemove --sync" + w +
                                    std::to_string((fromX + toX) / 2) + " " +
                                    std::to_string((fromY + toY) / 2) + " mousemove --sync" + w +
                                    std::to_string(toX) + " " + std::to_string(toY) + " mouseup 1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    const LV2UI_Descriptor* descriptor = nullptr;
    const LV2UI_Idle_Interface* idle = nullptr;
    Display* display = nullptr;
    Window hostWindow = 0;
    LV2_Feature parentFeature{};
    LV2_Feature resizeFeature{};
    LV2_Feature idleFeature{};
    LV2UI_Resize resizeData{};
    Resized resized;
    std::vector<Written> written;
    LV2UI_Widget widget = nullptr;
    LV2UI_Handle ui = nullptr;
    Window editorWindow = 0;
    int idleResult = 0;
};

const float kIdentityVolts[11] = {-5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5};

TEST(CurveUiLibrary, ExportsTheDescriptorFunctionAndNothingElse) {
    const std::string command = std::string("nm -D --defined-only ") + WAVESHAPERS_UI_PATH;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof(line), pipe) != nullptr) {
        std::string text(line);
        const std::size_t space = text.find_last_of(' ');
        names.push_back(text.substr(space + 1, text.find_last_not_of("\r\n") - space));
    }
    ASSERT_EQ(pclose(pipe), 0);
    EXPECT_EQ(names, std::vector<std::string>{"lv2ui_descriptor"});
}

TEST(CurveUiLibrary, OneDescriptorForTheCurveUiWithTheIdleInterface) {
    const LV2UI_Descriptor* d = uiLibrary().descriptor(0);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->URI, "http://waveshapers.example/lv2#curve-ui");
    EXPECT_EQ(uiLibrary().descriptor(1), nullptr);
    EXPECT_NE(d->extension_data(LV2_UI__idleInterface), nullptr);
    EXPECT_EQ(d->extension_data(LV2_UI__showInterface), nullptr);
    EXPECT_EQ(d->extension_data("http://example.org/unknown"), nullptr);
}

TEST_F(CurveUiInHost, OnlyTheCurvePluginsWithAParentWindowGetTheEditor) {
    EXPECT_EQ(instantiate(ports::kFormulaMonoUri), nullptr);
    EXPECT_EQ(instantiate("http://example.org/other"), nullptr);
    EXPECT_EQ(instantiate(ports::kCurveStereoUri, false), nullptr);
    LV2UI_Handle stereo = instantiate(ports::kCurveStereoUri);
    EXPECT_NE(stereo, nullptr);
    if (stereo != nullptr)
        descriptor->cleanup(stereo);
}

TEST_F(CurveUiInHost, TheEditorOpensInTheParentAtTheSizeItMeasuresAndShowsTheDefaultCurve) {
    open();
    Window root = 0;
    Window parentOfEditor = 0;
    Window* children = nullptr;
    unsigned count = 0;
    ASSERT_NE(XQueryTree(display, editorWindow, &root, &parentOfEditor, &children, &count), 0);
    if (children != nullptr)
        XFree(children);
    EXPECT_EQ(parentOfEditor, hostWindow);
    // The editor draws panels of at most 100 pixels each way; the host is told that size.
    EXPECT_EQ(resized.calls, 1);
    EXPECT_EQ(resized.width, kPanel);
    EXPECT_EQ(resized.height, kPanel);
    XWindowAttributes attributes;
    ASSERT_NE(XGetWindowAttributes(display, editorWindow, &attributes), 0);
    EXPECT_EQ(attributes.width, kPanel);
    EXPECT_EQ(attributes.height, kPanel);
    char* name = nullptr;
    ASSERT_NE(XFetchName(display, editorWindow, &name), 0);
    EXPECT_STREQ(name, "waveshapers curve editor");
    XFree(name);
    EXPECT_TRUE(shows(curveText(kIdentityVolts, kIdentityVolts)));
    EXPECT_EQ(idleResult, 0);
    EXPECT_TRUE(written.empty()) << "opening writes no control";
}

TEST_F(CurveUiInHost, PointControlsFromTheHostReachThePanelAndOtherEventsDoNot) {
    open();
    setControl(ports::kPortY0 + 5, 2.0f);
    setControl(ports::kPortX0 + 3, -2.5f);
    // Not a point control, not a float, a wrong size, not finite: all ignored.
    setControl(ports::kPortDrive, 6.0f);
    const double wide = 4.0;
    descriptor->port_event(ui, ports::kPortY0 + 6, sizeof(wide), 0, &wide);
    descriptor->port_event(ui, ports::kPortY0 + 7, sizeof(float), 12345, &wide);
    setControl(ports::kPortY0 + 8, std::numeric_limits<float>::quiet_NaN());
    setControl(1000, 1.0f);
    float x[11] = {-5, -4, -3, -2.5f, -1, 0, 1, 2, 3, 4, 5};
    float y[11] = {-5, -4, -3, -2, -1, 2, 1, 2, 3, 4, 5};
    EXPECT_TRUE(shows(curveText(x, y)));
    EXPECT_TRUE(written.empty()) << "a value from the host is not written back";
}

TEST_F(CurveUiInHost, ARealDragWritesTheDraggedPointsControlsAndNothingElse) {
    open();
    // A control between the text's 0.1 V steps, on a point the drag does not touch.
    setControl(ports::kPortX0 + 3, -2.97f);
    ASSERT_TRUE(idleUntil([] { return true; }));
    // Point 5 (0 V, 0 V) at the panel's centre, 20 pixels up: +2 V.
    drag(50, 50, 50, 30);
    ASSERT_TRUE(idleUntil([&] { return !written.empty() && written.back().value == 2.0f; }));
    for (const Written& w : written) {
        EXPECT_EQ(w.port, ports::kPortY0 + 5);
        EXPECT_EQ(w.size, sizeof(float));
        EXPECT_EQ(w.format, 0u);
    }
    // The host echoes the written value: nothing is written again and the panel keeps the point.
    const std::size_t writes = written.size();
    setControl(ports::kPortY0 + 5, 2.0f);
    float x[11] = {-5, -4, -3, -2.97f, -1, 0, 1, 2, 3, 4, 5};
    float y[11] = {-5, -4, -3, -2, -1, 2, 1, 2, 3, 4, 5};
    EXPECT_TRUE(shows(curveText(x, y)));
    EXPECT_EQ(written.size(), writes);
}

TEST_F(CurveUiInHost, AHostThatDestroysTheParentFirstIsToldTheUiClosed) {
    open();
    XDestroyWindow(display, hostWindow);
    hostWindow = 0;
    XSync(display, False);
    EXPECT_TRUE(idleUntil([&] { return idleResult != 0; }));
    descriptor->cleanup(ui);
    ui = nullptr;
}

TEST_F(CurveUiInHost, CleanupTakesTheEditorWindowAway) {
    open();
    ASSERT_TRUE(idleUntil([] { return true; }));
    descriptor->cleanup(ui);
    ui = nullptr;
    XSync(display, False);
    Window root = 0;
    Window above = 0;
    Window* children = nullptr;
    unsigned count = 0;
    ASSERT_NE(XQueryTree(display, hostWindow, &root, &above, &children, &count), 0);
    if (children != nullptr)
        XFree(children);
    EXPECT_EQ(count, 0u);
}

} // namespace
