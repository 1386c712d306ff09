// Helpers shared by the editor tests on the native window layer and under Wine with real windows.
#pragma once

#include <cstdint>
#include <vector>

#include "factory/pin_text.h"
#include "gui/gfx_base.h"
#include "gui/platform/platform.h"

namespace guitest {

// The identity curve with one point written differently.
inline PinText identityWith(int index, const PinText& point) {
    const char16_t* parts[11] = {u"(-5.0,-5.0)", u"(-4.0,-4.0)", u"(-3.0,-3.0)", u"(-2.0,-2.0)",
                                 u"(-1.0,-1.0)", u"(0.0,0.0)",   u"(1.0,1.0)",   u"(2.0,2.0)",
                                 u"(3.0,3.0)",   u"(4.0,4.0)",   u"(5.0,5.0)"};
    PinText text;
    for (int i = 0; i < 11; ++i)
        text += i == index ? point : PinText(parts[i]);
    return text;
}

struct Call {
    const char* handler;
    int32_t flags;
    int32_t x;
    int32_t y;
};

// A window-base editor that records which handler each message reached, and can open a top-level
// window instead of a child.
class RecordingEditor : public DvGuiWindowsGfxBase {
public:
    int32_t handlePaint(platform::DeviceContext dc) override {
        calls.push_back({"paint", dc != nullptr ? 1 : 0, 0, 0});
        return 0;
    }
    int32_t handleLeftButtonDown(int32_t f, int32_t x, int32_t y) override {
        calls.push_back({"down", f, x, y});
        return 0;
    }
    int32_t handleLeftButtonUp(int32_t f, int32_t x, int32_t y) override {
        calls.push_back({"up", f, x, y});
        return 0;
    }
    int32_t handleMouseMove(int32_t f, int32_t x, int32_t y) override {
        calls.push_back({"move", f, x, y});
        return 0;
    }
    int32_t handleTimer() override {
        calls.push_back({"timer", 0, 0, 0});
        return 0;
    }
    platform::LResult windowProc(platform::WindowHandle w, uint32_t m, platform::WParam wp,
                                 platform::LParam lp) override {
        messages.push_back(m);
        return DvGuiWindowsGfxBase::windowProc(w, m, wp, lp);
    }
    void getWindowStyles(uint32_t* style, uint32_t* exStyle) override {
        if (topLevel)
            *style = platform::kWsPopup | platform::kWsVisible;
        else
            DvGuiWindowsGfxBase::getWindowStyles(style, exStyle);
    }

    std::vector<Call> calls;
    std::vector<uint32_t> messages;
    bool topLevel = false;
};

inline void* graphicsFace(MpGuiWindowsGfxBase& e) {
    return static_cast<gmpi::IMpGraphicsWinGdi*>(&e);
}

} // namespace guitest
