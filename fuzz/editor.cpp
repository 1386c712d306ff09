// The curve editor under arbitrary hosts and users: sequences of pin values (any bytes, any declared
// size), sizes (arrange, measure), window opening and closing, mouse messages with any coordinates and
// paints, all through the native window-system layer. After each input the editor is closed and
// released and no window may be left behind.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "factory/interface_id.h"
#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "factory/result_codes.h"
#include "gui/platform/native_window_system.h"
#include "host/raw_calls.h"
#include "host/stand_in_editor_host.h"

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "editor fuzz: %s\n", what);
    std::abort();
}

using namespace mphost;
namespace native = platform::native;

const uint32_t kMessages[] = {platform::kWmMouseMove,
                              platform::kWmLButtonDown,
                              platform::kWmLButtonUp,
                              platform::kWmPaint,
                              platform::kWmTimer,
                              platform::kWmClose,
                              0x0100,
                              0x0204,
                              0x020A};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int windowsBefore = native::liveWindowCount();

    EditorHost host;
    void* editor = nullptr;
    if (MpFactory::instance()->createInstance(kCurveWaveshaperId, kEditorModule, host.unknown(), &editor) !=
            gmpi::kResultOk ||
        editor == nullptr)
        return 0; // not registered in this build
    void* graphics = nullptr;
    if (raw::queryInterface(editor, gmpi::kIidGraphicsWinGdi, &graphics) != gmpi::kResultOk)
        fail("the editor has no window face");

    platform::WindowHandle parent = native::createHostWindow(in.ConsumeIntegralInRange<int>(0, 400),
                                                             in.ConsumeIntegralInRange<int>(0, 400));
    platform::WindowHandle window = nullptr;
    int32_t place[4] = {0, 0, 0, 0}; // top, bottom, left, right as last arranged

    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 9)) {
        case 0: {
            // A pin value of exactly the declared size, in its own allocation.
            const int32_t pin = in.ConsumeBool() ? 0 : in.ConsumeIntegral<int32_t>();
            const std::size_t bytes = in.ConsumeIntegralInRange<std::size_t>(0, 1024);
            std::vector<uint8_t> chosen = in.ConsumeBytes<uint8_t>(bytes);
            std::unique_ptr<uint8_t[]> value(new uint8_t[chosen.size() + 1]);
            if (!chosen.empty())
                std::memcpy(value.get(), chosen.data(), chosen.size());
            const int32_t byteCount = in.ConsumeBool() ? static_cast<int32_t>(chosen.size())
                                                       : -in.ConsumeIntegralInRange<int32_t>(0, 4);
            raw::editor::setPin(editor, pin, in.ConsumeIntegral<int32_t>(), byteCount,
                                in.ConsumeBool() ? value.get() : nullptr);
            raw::editor::notifyPin(editor, pin, 0);
            break;
        }
        case 1:
            // Any place: edges far apart or reversed. The window is not resized while open, but the
            // editor may still use the stored place.
            for (int32_t& edge : place)
                edge = in.ConsumeIntegral<int32_t>();
            raw::graphics::arrange(graphics, place[0], place[1], place[2], place[3]);
            break;
        case 2:
            for (int32_t& edge : place)
                edge = in.ConsumeIntegralInRange<int32_t>(-50, 200);
            raw::graphics::arrange(graphics, place[0], place[1], place[2], place[3]);
            break;
        case 3: {
            raw::Size measured{-1, -1};
            raw::graphics::measure(graphics, in.ConsumeIntegral<int32_t>(), in.ConsumeIntegral<int32_t>(),
                                   &measured);
            break;
        }
        case 4: {
            // The stand-in window system keeps a pixel canvas of the window's full size, so a window is
            // opened at a place of at most a few million pixels; larger places are exercised while open.
            const int64_t width = static_cast<int64_t>(place[3]) - place[2];
            const int64_t height = static_cast<int64_t>(place[1]) - place[0];
            if (width > 2048 || height > 2048) {
                place[0] = place[2] = 0;
                place[1] = place[3] = 100;
                raw::graphics::arrange(graphics, place[0], place[1], place[2], place[3]);
            }
            void* opened = nullptr;
            raw::graphics::openWindow(graphics, in.ConsumeBool() ? parent : nullptr, &opened);
            if (opened != nullptr)
                window = opened;
            break;
        }
        case 5:
            raw::graphics::closeWindow(graphics);
            break;
        case 6:
        case 7: {
            // Mouse messages with any coordinates, also outside the window and the panel.
            const uint32_t message =
                in.ConsumeIntegralInRange<uint32_t>(platform::kWmMouseMove, platform::kWmLButtonUp);
            const platform::LParam position =
                in.ConsumeBool() ? platform::makeMouseLParam(in.ConsumeIntegralInRange<int>(-20, 220),
                                                             in.ConsumeIntegralInRange<int>(-20, 220))
                                 : static_cast<platform::LParam>(in.ConsumeIntegral<uint32_t>());
            if (window != nullptr)
                native::sendMessage(window, message, in.ConsumeIntegralInRange<uint32_t>(0, 0x1F), position);
            break;
        }
        case 8:
            if (window != nullptr) {
                native::sendMessage(window, platform::kWmPaint, 0, 0);
                native::updateWindow(window);
            }
            break;
        default:
            if (window != nullptr)
                native::sendMessage(window, in.PickValueInArray(kMessages), in.ConsumeIntegral<uint32_t>(),
                                    static_cast<platform::LParam>(in.ConsumeIntegral<uint32_t>()));
            break;
        }
    }

    // Every text the editor sent must be whole UTF-16 code units.
    for (const PinValueSent& sent : host.pinValues) {
        if (sent.byteCount < 0 || sent.byteCount % 2 != 0 ||
            static_cast<std::size_t>(sent.byteCount) != sent.text.size() * 2)
            fail("the editor sent a malformed pin value");
    }

    raw::graphics::closeWindow(graphics);
    raw::release(graphics);
    raw::release(editor);
    platform::destroyWindow(parent);
    if (native::liveWindowCount() != windowsBefore)
        fail("a window outlived its editor");
    return 0;
}
