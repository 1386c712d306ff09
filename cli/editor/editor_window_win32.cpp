// The Windows build's window system is the system's own: the host panel is a real top-level window at
// the screen's corner, the editor paints its real child window with the drawing interface, and the
// pixels are read back from the window as the screen shows them.
#include <windows.h>

#include <cstdint>
#include <string>

#include "cli/common/cli_error.h"
#include "cli/editor/editor_window.h"
#include "cli/modules/module_library.h"

namespace shaperhost {

namespace {

const wchar_t* const kHostPanelClass = L"ShaperhostHostPanel";

} // namespace

EditorWindowSystem::EditorWindowSystem(const ModuleLibrary&) {
    WNDCLASSEXW panelClass{};
    panelClass.cbSize = sizeof(panelClass);
    panelClass.lpfnWndProc = DefWindowProcW;
    panelClass.hInstance = GetModuleHandleW(nullptr);
    panelClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    panelClass.lpszClassName = kHostPanelClass;
    if (RegisterClassExW(&panelClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw failure("cannot register the host panel's window class (error " +
                      std::to_string(GetLastError()) + ")");
}

void* EditorWindowSystem::createHostWindow(int width, int height) const {
    // Only what the screen shows can be read back, so the panel sits at the corner, above the rest.
    if (width > GetSystemMetrics(SM_CXSCREEN) || height > GetSystemMetrics(SM_CYSCREEN))
        throw failure("the panel (" + std::to_string(width) + "x" + std::to_string(height) +
                      ") is larger than the screen (" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" +
                      std::to_string(GetSystemMetrics(SM_CYSCREEN)) + ")");
    HWND panel =
        CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kHostPanelClass, L"", WS_POPUP | WS_VISIBLE, 0, 0,
                        width, height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (panel == nullptr)
        throw failure("cannot create the host panel window (error " + std::to_string(GetLastError()) + ")");
    return panel;
}

void EditorWindowSystem::destroyWindow(void* window) const {
    if (window != nullptr)
        DestroyWindow(static_cast<HWND>(window));
}

void EditorWindowSystem::sendMouse(void* window, uint32_t message, int x, int y, bool buttonDown) const {
    SendMessageW(static_cast<HWND>(window), message, buttonDown ? MK_LBUTTON : 0,
                 static_cast<LPARAM>(static_cast<uint32_t>(static_cast<uint16_t>(x)) |
                                     (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16)));
}

Image EditorWindowSystem::paint(void* window) const {
    HWND handle = static_cast<HWND>(window);
    if (!IsWindow(handle))
        throw failure("the editor window is gone");
    RedrawWindow(handle, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    GdiFlush();
    RECT client{};
    GetClientRect(handle, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (width <= 0 || height <= 0)
        throw failure("the editor window has no area to read");

    // A 32-bit top-down section: each pixel is blue, green, red and an unused byte.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC memory = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (memory == nullptr || section == nullptr || bits == nullptr) {
        if (section != nullptr)
            DeleteObject(section);
        if (memory != nullptr)
            DeleteDC(memory);
        throw failure("cannot make a bitmap to read the editor window into");
    }
    HGDIOBJ previous = SelectObject(memory, section);
    HDC screen = GetDC(handle);
    const BOOL copied = BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    ReleaseDC(handle, screen);
    GdiFlush();

    Image image;
    image.width = width;
    image.height = height;
    image.rgb.resize(static_cast<std::size_t>(width) * height * 3);
    const auto* source = static_cast<const uint8_t*>(bits);
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) {
        image.rgb[i * 3 + 0] = source[i * 4 + 2];
        image.rgb[i * 3 + 1] = source[i * 4 + 1];
        image.rgb[i * 3 + 2] = source[i * 4 + 0];
    }
    SelectObject(memory, previous);
    DeleteObject(section);
    DeleteDC(memory);
    if (!copied)
        throw failure("cannot read the editor window's pixels (error " + std::to_string(GetLastError()) +
                      ")");
    return image;
}

} // namespace shaperhost
