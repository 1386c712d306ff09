// The window-system operations on the real Windows user-interface and drawing interfaces.
#include "gui/platform/platform.h"

#include <windows.h>

#include <cstring>

namespace platform {

static_assert(sizeof(PaintRecord) >= sizeof(PAINTSTRUCT), "room for the paint record");
static_assert(sizeof(WindowClassInfo) == sizeof(WNDCLASSEXW), "the class record has the system's layout");
static_assert(sizeof(gfx::FontInfo) == sizeof(LOGFONTW), "the font record has the system's layout");

namespace {

HWND hwnd(WindowHandle window) {
    return static_cast<HWND>(window);
}
HDC hdc(DeviceContext dc) {
    return static_cast<HDC>(dc);
}

} // namespace

InstanceHandle libraryInstance() {
    // From an address inside this library, without adding a reference: the library's instance even
    // when the host program loaded it.
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&libraryInstance), &module);
    return module;
}

CursorHandle loadCursor(InstanceHandle instance, int cursorId) {
    return LoadCursorW(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEW(cursorId));
}

uint16_t registerClassEx(const WindowClassInfo& info) {
    WNDCLASSEXW record;
    std::memset(&record, 0, sizeof(record));
    record.cbSize = info.size;
    record.style = info.style;
    record.lpfnWndProc = reinterpret_cast<WNDPROC>(info.procedure);
    record.cbClsExtra = info.classExtra;
    record.cbWndExtra = info.windowExtra;
    record.hInstance = static_cast<HINSTANCE>(info.instance);
    record.hIcon = static_cast<HICON>(info.icon);
    record.hCursor = static_cast<HCURSOR>(info.cursor);
    record.hbrBackground = static_cast<HBRUSH>(info.background);
    record.lpszMenuName = info.menuName;
    record.lpszClassName = info.className;
    record.hIconSm = static_cast<HICON>(info.smallIcon);
    return RegisterClassExW(&record);
}

bool unregisterClass(const wchar_t* className, InstanceHandle instance) {
    return UnregisterClassW(className, static_cast<HINSTANCE>(instance)) != FALSE;
}

WindowHandle createWindowEx(uint32_t exStyle, const wchar_t* className, const wchar_t* title, uint32_t style,
                            int x, int y, int width, int height, WindowHandle parent, void* menu,
                            InstanceHandle instance, void* parameter) {
    return CreateWindowExW(exStyle, className, title, style, x, y, width, height, hwnd(parent),
                           static_cast<HMENU>(menu), static_cast<HINSTANCE>(instance), parameter);
}

bool destroyWindow(WindowHandle window) {
    return DestroyWindow(hwnd(window)) != FALSE;
}

intptr_t setWindowUserData(WindowHandle window, intptr_t value) {
#if defined(_WIN64)
    return SetWindowLongPtrW(hwnd(window), GWLP_USERDATA, value);
#else
    return SetWindowLongW(hwnd(window), GWLP_USERDATA, static_cast<LONG>(value));
#endif
}

intptr_t getWindowUserData(WindowHandle window) {
#if defined(_WIN64)
    return GetWindowLongPtrW(hwnd(window), GWLP_USERDATA);
#else
    return GetWindowLongW(hwnd(window), GWLP_USERDATA);
#endif
}

LResult defWindowProc(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
    return DefWindowProcW(hwnd(window), message, wParam, lParam);
}

WindowHandle getParent(WindowHandle window) {
    return GetParent(hwnd(window));
}

void postQuitMessage(int exitCode) {
    PostQuitMessage(exitCode);
}

DeviceContext beginPaint(WindowHandle window, PaintRecord* record) {
    return BeginPaint(hwnd(window), reinterpret_cast<PAINTSTRUCT*>(record->bytes));
}

void endPaint(WindowHandle window, const PaintRecord* record) {
    EndPaint(hwnd(window), reinterpret_cast<const PAINTSTRUCT*>(record->bytes));
}

WindowHandle getCapture() {
    return GetCapture();
}
WindowHandle setCapture(WindowHandle window) {
    return SetCapture(hwnd(window));
}
bool releaseCapture() {
    return ReleaseCapture() != FALSE;
}

bool invalidateRect(WindowHandle window, const gfx::Rect* rect, bool erase) {
    RECT area;
    if (rect != nullptr)
        area = RECT{rect->left, rect->top, rect->right, rect->bottom};
    return InvalidateRect(hwnd(window), rect != nullptr ? &area : nullptr, erase ? TRUE : FALSE) != FALSE;
}

bool ptInRect(const gfx::Rect& rect, gfx::Point point) {
    const RECT area{rect.left, rect.top, rect.right, rect.bottom};
    return PtInRect(&area, POINT{point.x, point.y}) != FALSE;
}

gfx::GdiObject DcPainter::createSolidBrush(gfx::Colour colour) {
    return CreateSolidBrush(colour);
}

gfx::GdiObject DcPainter::createPen(int style, int width, gfx::Colour colour) {
    return CreatePen(style, width, colour);
}

gfx::GdiObject DcPainter::createFontIndirect(const gfx::FontInfo& font) {
    LOGFONTW record;
    std::memset(&record, 0, sizeof(record));
    record.lfHeight = font.height;
    record.lfWidth = font.width;
    record.lfEscapement = font.escapement;
    record.lfOrientation = font.orientation;
    record.lfWeight = font.weight;
    record.lfItalic = font.italic;
    record.lfUnderline = font.underline;
    record.lfStrikeOut = font.strikeOut;
    record.lfCharSet = font.charSet;
    record.lfOutPrecision = font.outPrecision;
    record.lfClipPrecision = font.clipPrecision;
    record.lfQuality = font.quality;
    record.lfPitchAndFamily = font.pitchAndFamily;
    std::memcpy(record.lfFaceName, font.faceName, sizeof(record.lfFaceName));
    return CreateFontIndirectW(&record);
}

gfx::GdiObject DcPainter::selectObject(gfx::GdiObject object) {
    return SelectObject(hdc(dc), static_cast<HGDIOBJ>(object));
}

bool DcPainter::deleteObject(gfx::GdiObject object) {
    return DeleteObject(static_cast<HGDIOBJ>(object)) != FALSE;
}

void DcPainter::fillRect(const gfx::Rect& rect, gfx::GdiObject brush) {
    const RECT area{rect.left, rect.top, rect.right, rect.bottom};
    FillRect(hdc(dc), &area, static_cast<HBRUSH>(brush));
}

void DcPainter::moveTo(int32_t x, int32_t y) {
    MoveToEx(hdc(dc), x, y, nullptr);
}
void DcPainter::lineTo(int32_t x, int32_t y) {
    LineTo(hdc(dc), x, y);
}

void DcPainter::polyline(const gfx::Point* points, int count) {
    static_assert(sizeof(gfx::Point) == sizeof(POINT), "points have the system's layout");
    Polyline(hdc(dc), reinterpret_cast<const POINT*>(points), count);
}

gfx::Colour DcPainter::setTextColor(gfx::Colour colour) {
    return SetTextColor(hdc(dc), colour);
}
int DcPainter::setBkMode(int mode) {
    return SetBkMode(hdc(dc), mode);
}
uint32_t DcPainter::setTextAlign(uint32_t align) {
    return SetTextAlign(hdc(dc), align);
}

void DcPainter::textOut(int32_t x, int32_t y, const wchar_t* text, int count) {
    TextOutW(hdc(dc), x, y, text, count);
}

} // namespace platform
