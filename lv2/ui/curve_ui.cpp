// The curve editor as the X11 UI of the curve plugins. The UI is a host of the editor module: it
// creates the editor through the factory, sizes, places and opens its window inside the host's
// parent window, and hands it the curve text built from the plugin's 22 point controls with setPin
// and notifyPin. Each text the editor sends back (sendPinValue) is read into points, and every point
// control whose value changed is written to the plugin. The host's idle callback runs the window
// system's event step: X events become the editor's paint and mouse messages.
#include <lv2/ui/ui.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "curve/curve_text.h"
#include "factory/abi.h"
#include "factory/interface_id.h"
#include "factory/module_ids.h"
#include "factory/result_codes.h"
#include "gui/platform/x11_window_system.h"
#include "host/raw_calls.h"
#include "host/stand_in_editor_host.h"
#include "lv2/ports.h"

// The library's entry point, linked into the UI from the same source as into the module library.
extern "C" int32_t MP_CALL MP_GetFactory(void** factory);

namespace {

namespace raw = mphost::raw;
namespace ports = waveshapers_lv2;

// The size offered to the editor's measure; the editor answers with the size it draws.
constexpr int32_t kProposedSize = 100;
// WM_NAME of the editor window, by which tools find it among the host's windows.
constexpr const char* kWindowTitle = "waveshapers curve editor";

constexpr uint32_t kPointPorts = 2 * ports::kCurvePoints;

// Port index of point control k: x0..x10, then y0..y10.
constexpr uint32_t pointPort(uint32_t k) {
    return k < ports::kCurvePoints ? ports::kPortX0 + k : ports::kPortY0 + (k - ports::kCurvePoints);
}

class CurveUi {
public:
    CurveUi(LV2UI_Write_Function write, LV2UI_Controller controller, const LV2UI_Resize* resize)
        : write(write), controller(controller), resize(resize) {
        // The identity curve, the point controls' defaults, until the host reports their values.
        for (int i = 0; i < ports::kCurvePoints; ++i) {
            values[i] = static_cast<float>(i - 5);
            values[ports::kCurvePoints + i] = static_cast<float>(i - 5);
        }
    }
    ~CurveUi() {
        if (graphics != nullptr) {
            raw::graphics::closeWindow(graphics);
            raw::release(graphics);
        }
        if (editor != nullptr)
            raw::release(editor);
        if (parent != nullptr)
            platform::destroyWindow(parent);
    }
    CurveUi(const CurveUi&) = delete;
    CurveUi& operator=(const CurveUi&) = delete;

    // Opens the editor in the host's window; false when any step fails.
    bool open(void* parentWindow, LV2UI_Widget* widget) {
        parent = platform::x11::adoptForeignWindow(
            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(parentWindow)));
        if (parent == nullptr)
            return false;
        void* factory = nullptr;
        if (MP_GetFactory(&factory) != gmpi::kResultOk || factory == nullptr)
            return false;
        host.onPinValue = [this](const mphost::PinValueSent& sent) { editorSent(sent); };
        void* object = nullptr;
        const int32_t created =
            raw::createInstance(factory, kCurveWaveshaperId, kEditorModule, host.unknown(), &object);
        editor = object;
        if (created != gmpi::kResultOk || editor == nullptr)
            return false;
        if (raw::queryInterface(editor, gmpi::kIidGraphicsWinGdi, &graphics) != gmpi::kResultOk ||
            graphics == nullptr)
            return false;
        raw::Size size{0, 0};
        raw::graphics::measure(graphics, kProposedSize, kProposedSize, &size);
        raw::graphics::arrange(graphics, 0, size.height, 0, size.width);
        void* opened = nullptr;
        raw::graphics::openWindow(graphics, parent, &opened);
        window = opened;
        if (window == nullptr)
            return false;
        platform::x11::setWindowTitle(window, kWindowTitle);
        deliverCurve();
        if (resize != nullptr)
            resize->ui_resize(resize->handle, size.width, size.height);
        *widget = reinterpret_cast<LV2UI_Widget>(static_cast<uintptr_t>(platform::x11::windowId(window)));
        return true;
    }

    // A value of a point control from the host (at start, after automation, or the echo of the UI's
    // own write). Anything but a float of a point control is ignored.
    void portEvent(uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
        if (format != 0 || size != sizeof(float) || buffer == nullptr)
            return;
        float value = 0.0f;
        std::memcpy(&value, buffer, sizeof(value));
        if (!std::isfinite(value))
            return;
        for (uint32_t k = 0; k < kPointPorts; ++k) {
            if (pointPort(k) != port)
                continue;
            // The echo of what the UI wrote changes nothing, so a drag is not reset by its own echo.
            if (value == values[k])
                return;
            values[k] = value;
            deliverCurve();
            return;
        }
    }

    // Non-zero once the editor window is gone (the host destroyed its parent).
    int idle() {
        platform::x11::dispatchEvents();
        return platform::x11::windowId(window) == 0 ? 1 : 0;
    }

private:
    // The point controls as curve text, handed to the editor as a host hands it a pin value. The text
    // holds each value to 0.1 V, as the plugin's own curve text does.
    void deliverCurve() {
        CurvePoint points[kCurvePointCount];
        for (int i = 0; i < kCurvePointCount; ++i)
            points[i] = voltsToGrid(values[i], values[ports::kCurvePoints + i]);
        const PinText text = formatCurveText(points);
        bool incomplete = false;
        scanCurvePoints(text, delivered, kCurvePointCount, &incomplete);
        raw::editor::setPin(editor, kCurveEditorTextPin, 0, pinTextByteSize(text), text.data());
        raw::editor::notifyPin(editor, kCurveEditorTextPin, 0);
    }

    // A text the editor sent: each point that differs from the text it was given (the one being
    // dragged) becomes writes of its controls. The others keep their controls' values, which may be
    // finer than the text's 0.1 V.
    void editorSent(const mphost::PinValueSent& sent) {
        const PinText text = sent.text;
        // The stand-in keeps a log of every value; a UI open for hours must not.
        host.pinValues.clear();
        if (sent.pinIndex != kCurveEditorTextPin)
            return;
        CurvePoint points[kCurvePointCount];
        bool incomplete = false;
        const int count = scanCurvePoints(text, points, kCurvePointCount, &incomplete);
        for (int i = 0; i < count; ++i) {
            if (points[i].x == delivered[i].x && points[i].y == delivered[i].y)
                continue;
            delivered[i] = points[i];
            double x = 0.0;
            double y = 0.0;
            gridToVolts(points[i], &x, &y);
            writePoint(static_cast<uint32_t>(i), static_cast<float>(x));
            writePoint(static_cast<uint32_t>(ports::kCurvePoints + i), static_cast<float>(y));
        }
    }

    void writePoint(uint32_t k, float value) {
        if (value == values[k])
            return;
        values[k] = value;
        write(controller, pointPort(k), sizeof(float), 0, &value);
    }

    LV2UI_Write_Function write;
    LV2UI_Controller controller;
    const LV2UI_Resize* resize;
    mphost::EditorHost host;
    void* editor = nullptr;
    void* graphics = nullptr;
    platform::WindowHandle parent = nullptr;
    platform::WindowHandle window = nullptr;
    // The point controls in volts as the UI knows them: x0..x10, then y0..y10.
    float values[kPointPorts];
    // The points of the last text handed to the editor, in grid units.
    CurvePoint delivered[kCurvePointCount] = {};
};

const void* feature(const LV2_Feature* const* features, const char* uri) {
    for (const LV2_Feature* const* f = features; f != nullptr && *f != nullptr; ++f) {
        if (std::strcmp((*f)->URI, uri) == 0)
            return (*f)->data;
    }
    return nullptr;
}

// No exception crosses into the host, which is written in C: a failure is a UI that did not open.
LV2UI_Handle instantiate(const LV2UI_Descriptor* /*descriptor*/, const char* pluginUri,
                         const char* /*bundlePath*/, LV2UI_Write_Function writeFunction,
                         LV2UI_Controller controller, LV2UI_Widget* widget,
                         const LV2_Feature* const* features) {
    if (pluginUri == nullptr || writeFunction == nullptr || widget == nullptr ||
        (std::strcmp(pluginUri, ports::kCurveMonoUri) != 0 &&
         std::strcmp(pluginUri, ports::kCurveStereoUri) != 0))
        return nullptr;
    void* parent = const_cast<void*>(feature(features, LV2_UI__parent));
    if (parent == nullptr)
        return nullptr;
    const auto* resize = static_cast<const LV2UI_Resize*>(feature(features, LV2_UI__resize));
    CurveUi* ui = nullptr;
    try {
        ui = new CurveUi(writeFunction, controller, resize);
        if (ui->open(parent, widget))
            return ui;
    } catch (...) {
    }
    delete ui;
    return nullptr;
}

void cleanup(LV2UI_Handle handle) {
    try {
        delete static_cast<CurveUi*>(handle);
    } catch (...) {
    }
}

void portEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
    try {
        static_cast<CurveUi*>(handle)->portEvent(port, size, format, buffer);
    } catch (...) {
    }
}

int idle(LV2UI_Handle handle) {
    try {
        return static_cast<CurveUi*>(handle)->idle();
    } catch (...) {
        return 1;
    }
}

const void* extensionData(const char* uri) {
    static const LV2UI_Idle_Interface idleInterface = {&idle};
    if (uri != nullptr && std::strcmp(uri, LV2_UI__idleInterface) == 0)
        return &idleInterface;
    return nullptr;
}

const LV2UI_Descriptor descriptor = {WAVESHAPERS_LV2_CURVE_UI_URI, &instantiate, &cleanup, &portEvent,
                                     &extensionData};

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
