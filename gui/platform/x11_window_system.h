// What the X11 window system offers beyond the system operations, for a plugin UI that embeds the
// library's windows in a host's window: the host's window as a parent, the X window id of a library
// window, and the event loop step the host's idle callback runs. No X type appears here: window ids
// travel as the unsigned long that X uses for them.
//
// Threads: everything, the system operations of platform.h included, runs on the one thread that
// owns the windows (the editor thread). The library's windows share one connection to the X server
// named by DISPLAY, opened with the first window and closed with the last.
#pragma once

#include "gui/platform/platform.h"

namespace platform {
namespace x11 {

// A window of another client (the host's), given by its X window id, as a handle that can parent
// the library's windows. It receives no messages; destroyWindow forgets the handle and leaves the X
// window alone. Null for id 0 or when no connection to the X server can be opened.
WindowHandle adoptForeignWindow(unsigned long windowId);

// The X window id behind a handle; 0 for a dead handle.
unsigned long windowId(WindowHandle window);

// Names the window (WM_NAME), so that tools can find it among the host's windows.
void setWindowTitle(WindowHandle window, const char* title);

// Handles every event that has arrived for the library's windows (exposure, mouse buttons and
// motion, size changes, destruction from outside) as the matching window messages, then sends
// WM_PAINT to each window with a pending repaint. Returns the number of X events handled.
int dispatchEvents();

// Whether a connection to the X server is open now (while any window or adopted handle lives).
bool connected();

} // namespace x11
} // namespace platform
