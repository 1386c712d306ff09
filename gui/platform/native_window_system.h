// What the portable window system offers beyond the system operations, for tests and the command-line
// host: host-side windows, sending messages, painting and reading a window's pixels. Only the native
// build provides these.
#pragma once

#include <cstdint>
#include <vector>

#include "gui/platform/platform.h"
#include "gui/software_canvas.h"

namespace platform {
namespace native {

// A top-level window of the given client size that processes every message by default; it stands in
// for the host's editor panel as the parent of editor windows.
WindowHandle createHostWindow(int width, int height);

// Calls the window's procedure at once, as the system does for a sent message. 0 for a dead handle.
LResult sendMessage(WindowHandle window, uint32_t message, WParam wParam, LParam lParam);

bool isWindow(WindowHandle window);
int liveWindowCount();
bool isClassRegistered(const wchar_t* className, InstanceHandle instance);

struct WindowPlacement {
    int x;
    int y;
    int width;
    int height;
    WindowHandle parent;
    uint32_t style;
    uint32_t exStyle;
};
bool windowPlacement(WindowHandle window, WindowPlacement* placement);

// True while a repaint is pending (after creation or invalidateRect, until the next beginPaint).
bool needsPaint(WindowHandle window);
// Sends WM_PAINT when a repaint is pending; returns whether it did.
bool updateWindow(WindowHandle window);

// The window's pixels (client size, rows from the top, red-green-blue bytes); null for a dead handle.
const gfx::Canvas* windowCanvas(WindowHandle window);
// The device context state of the window's paints, e.g. to check that a paint deleted its objects.
const gfx::SoftwarePainter* windowPainter(WindowHandle window);

// The quit message posted by postQuitMessage, if any since the last reset.
bool quitPosted(int* exitCode);
void resetQuit();

} // namespace native
} // namespace platform

// A host program that loads the native library reaches the window system through this table, found
// by the C name MP_GetNativeWindowSystem: windows live inside the library, as the editor's do.
struct NativeWindowSystemTable {
    int32_t version; // 1
    void* (*createHostWindow)(int32_t width, int32_t height);
    int32_t (*destroyWindow)(void* window);
    intptr_t (*sendMessage)(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
    // Client size and red-green-blue bytes (rows from the top) of the window; 0 for a dead handle.
    int32_t (*readPixels)(void* window, int32_t* width, int32_t* height, const uint8_t** rgb);
};
using GetNativeWindowSystemFunction = const NativeWindowSystemTable* (*)();
MP_EXPORT const NativeWindowSystemTable* MP_GetNativeWindowSystem();
