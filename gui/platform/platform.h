// The window-system operations the editor bases use, with the names, values and semantics of the
// system's user-interface and drawing interfaces. Implemented on the real interfaces for Windows
// (win32_platform.cpp), by window records with a software canvas elsewhere (native_platform.cpp), and
// by real X11 windows showing a software canvas (x11_platform.cpp, for the curve plugins' LV2 UI).
#pragma once

#include <cstdint>

#include "factory/abi.h"
#include "gui/painter.h"

namespace platform {

// Handles are pointer-sized, as the system's are.
using WindowHandle = void*;
using DeviceContext = void*;
using InstanceHandle = void*;
using CursorHandle = void*;
using WParam = uintptr_t;
using LParam = intptr_t;
using LResult = intptr_t;
// [editor thread] Called by the window system with the messages of a window of the class, on the
// thread that created the window (factory/plugin_interfaces.h names it).
using WindowProcedure = LResult(MP_CALL*)(WindowHandle window, uint32_t message, WParam wParam,
                                          LParam lParam);

constexpr uint32_t kWmCreate = 0x0001;
constexpr uint32_t kWmDestroy = 0x0002;
constexpr uint32_t kWmPaint = 0x000F;
constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kWmTimer = 0x0113;
constexpr uint32_t kWmMouseMove = 0x0200;
constexpr uint32_t kWmLButtonDown = 0x0201;
constexpr uint32_t kWmLButtonUp = 0x0202;

constexpr uint32_t kCsVRedraw = 0x0001;
constexpr uint32_t kCsHRedraw = 0x0002;
constexpr uint32_t kWsChild = 0x40000000;
constexpr uint32_t kWsVisible = 0x10000000;
constexpr uint32_t kWsPopup = 0x80000000;
constexpr int kIdcArrow = 32512;

// The window-class record with the field order of the system's wide-character extended class record.
struct WindowClassInfo {
    uint32_t size;
    uint32_t style;
    WindowProcedure procedure;
    int32_t classExtra;
    int32_t windowExtra;
    InstanceHandle instance;
    void* icon;
    CursorHandle cursor;
    void* background;
    const wchar_t* menuName;
    const wchar_t* className;
    void* smallIcon;
};

// Storage for the system's paint record between beginPaint and endPaint.
struct PaintRecord {
    alignas(void*) unsigned char bytes[80];
};

// Mouse coordinates as a mouse message carries them: x in the low and y in the high 16 bits.
constexpr LParam makeMouseLParam(int x, int y) {
    return static_cast<LParam>(static_cast<uint32_t>(static_cast<uint16_t>(x)) |
                               (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16));
}
// Each half taken as a signed 16-bit number, so positions left of or above the window are negative.
constexpr int32_t mouseX(LParam lParam) {
    return static_cast<int16_t>(static_cast<uint32_t>(lParam) & 0xFFFF);
}
constexpr int32_t mouseY(LParam lParam) {
    return static_cast<int16_t>((static_cast<uint32_t>(lParam) >> 16) & 0xFFFF);
}

// The library's own instance (not the host's).
InstanceHandle libraryInstance();
CursorHandle loadCursor(InstanceHandle instance, int cursorId);
uint16_t registerClassEx(const WindowClassInfo& info);
bool unregisterClass(const wchar_t* className, InstanceHandle instance);
WindowHandle createWindowEx(uint32_t exStyle, const wchar_t* className, const wchar_t* title, uint32_t style,
                            int x, int y, int width, int height, WindowHandle parent, void* menu,
                            InstanceHandle instance, void* parameter);
// The window procedure has run for WM_DESTROY before this returns.
bool destroyWindow(WindowHandle window);
// The window's user data (one pointer-sized value, 0 until set); set returns the previous value.
intptr_t setWindowUserData(WindowHandle window, intptr_t value);
intptr_t getWindowUserData(WindowHandle window);
LResult defWindowProc(WindowHandle window, uint32_t message, WParam wParam, LParam lParam);
WindowHandle getParent(WindowHandle window);
void postQuitMessage(int exitCode);
DeviceContext beginPaint(WindowHandle window, PaintRecord* record);
void endPaint(WindowHandle window, const PaintRecord* record);
WindowHandle getCapture();
WindowHandle setCapture(WindowHandle window);
bool releaseCapture();
// rect null: the whole client area.
bool invalidateRect(WindowHandle window, const gfx::Rect* rect, bool erase);
// Left and top edges inside, right and bottom edges outside.
bool ptInRect(const gfx::Rect& rect, gfx::Point point);

// The drawing operations on a device context that beginPaint returned.
class DcPainter : public gfx::Painter {
public:
    explicit DcPainter(DeviceContext dc) : dc(dc) {}

    gfx::GdiObject createSolidBrush(gfx::Colour colour) override;
    gfx::GdiObject createPen(int style, int width, gfx::Colour colour) override;
    gfx::GdiObject createFontIndirect(const gfx::FontInfo& font) override;
    gfx::GdiObject selectObject(gfx::GdiObject object) override;
    bool deleteObject(gfx::GdiObject object) override;
    void fillRect(const gfx::Rect& rect, gfx::GdiObject brush) override;
    void moveTo(int32_t x, int32_t y) override;
    void lineTo(int32_t x, int32_t y) override;
    void polyline(const gfx::Point* points, int count) override;
    gfx::Colour setTextColor(gfx::Colour colour) override;
    int setBkMode(int mode) override;
    uint32_t setTextAlign(uint32_t align) override;
    void textOut(int32_t x, int32_t y, const wchar_t* text, int count) override;

private:
    DeviceContext dc;
};

} // namespace platform
