// The window-system operations on X11 (Xlib). Each library window is a real X window with a software
// canvas: the editor paints into the canvas with the drawing rules of the software device context,
// and endPaint puts the canvas on the screen, so a panel looks the same pixel for pixel here as in
// the window-system-free build. X events become the window messages the editors handle: Expose a
// pending repaint (WM_PAINT), button 1 WM_LBUTTONDOWN and WM_LBUTTONUP, motion WM_MOUSEMOVE,
// DestroyNotify WM_DESTROY. The server's implicit grab between a press and its release keeps
// delivering motion and the release to the pressed window, which is what capture means here.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "gui/platform/window_records.h"
#include "gui/platform/x11_window_system.h"
#include "gui/software_canvas.h"

namespace platform {

namespace {

// The mouse-message flag for a held left button.
constexpr WParam kLeftButtonFlag = 0x0001;

constexpr long kEventMask =
    ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask;

// Where the 8 bits of a colour channel go in a pixel value of a true-colour visual.
struct Channel {
    int shift = 0;
    int bits = 0;
};

Channel channelOf(unsigned long mask) {
    Channel channel;
    if (mask == 0)
        return channel;
    while (((mask >> channel.shift) & 1UL) == 0)
        ++channel.shift;
    while (channel.shift + channel.bits < 64 && ((mask >> (channel.shift + channel.bits)) & 1UL) != 0)
        ++channel.bits;
    return channel;
}

unsigned long channelValue(int value, Channel channel) {
    const auto v = static_cast<unsigned long>(value);
    const unsigned long scaled = channel.bits >= 8 ? v << (channel.bits - 8) : v >> (8 - channel.bits);
    return scaled << channel.shift;
}

// A library window (or an adopted one of another client, which has no procedure): the common record
// and the X window behind it.
struct X11Window : records::WindowRecord {
    Window id = 0;
    Visual* visual = nullptr;
    int depth = 0;
    Channel red;
    Channel green;
    Channel blue;
    GC gc = nullptr;
    XImage* image = nullptr;
};

// The connection and its error trapping; windows, classes and capture are in the common registry.
struct WindowSystem {
    Display* display = nullptr;
    // While events are dispatched the connection stays open, even when the last window goes.
    bool dispatching = false;
    // Error trapping: nesting depth, the handler found at the outermost trap, errors seen.
    int trapDepth = 0;
    XErrorHandler previousHandler = nullptr;
    unsigned long errors = 0;
};

WindowSystem& windowSystem() {
    static WindowSystem instance;
    return instance;
}

X11Window* live(WindowHandle handle) {
    return static_cast<X11Window*>(records::recordOf(handle));
}

X11Window* byId(Window id) {
    for (records::WindowRecord* record : records::registry().windows) {
        auto* window = static_cast<X11Window*>(record);
        if (window->id == id && window->procedure != nullptr)
            return window;
    }
    return nullptr;
}

// Errors of the library's own connection are counted, not fatal: a host may destroy its window, and
// with it the library's child, before the library's next request reaches the server. Errors of any
// other connection go to the handler that was installed before.
int onXError(Display* display, XErrorEvent* event) {
    WindowSystem& system = windowSystem();
    if (display == system.display) {
        ++system.errors;
        return 0;
    }
    return system.previousHandler != nullptr ? system.previousHandler(display, event) : 0;
}

// Installs the library's error handler for the duration of a window-system operation and puts the
// host's back afterwards, once the server has answered every request made in between.
class ErrorTrap {
public:
    ErrorTrap() {
        WindowSystem& system = windowSystem();
        if (system.trapDepth++ == 0)
            system.previousHandler = XSetErrorHandler(&onXError);
    }
    ~ErrorTrap() {
        WindowSystem& system = windowSystem();
        if (system.display != nullptr)
            XSync(system.display, False);
        if (--system.trapDepth == 0)
            XSetErrorHandler(system.previousHandler);
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;
};

Display* connection() {
    WindowSystem& system = windowSystem();
    if (system.display == nullptr)
        system.display = XOpenDisplay(nullptr);
    return system.display;
}

void closeConnectionIfUnused() {
    WindowSystem& system = windowSystem();
    if (system.display == nullptr || !records::registry().windows.empty() || system.dispatching ||
        system.trapDepth != 0)
        return;
    {
        // The answers to the last requests, errors included, are read while the trap is set.
        const ErrorTrap trap;
    }
    XCloseDisplay(system.display);
    system.display = nullptr;
}

// The size and visual of a window of the server; false when it does not exist (any more).
bool queryWindow(Window id, XWindowAttributes* attributes) {
    WindowSystem& system = windowSystem();
    const unsigned long errorsBefore = system.errors;
    const ErrorTrap trap;
    const Status status = XGetWindowAttributes(system.display, id, attributes);
    XSync(system.display, False);
    return status != 0 && system.errors == errorsBefore;
}

void releaseServerObjects(X11Window* window) {
    Display* display = windowSystem().display;
    if (window->image != nullptr) {
        XDestroyImage(window->image);
        window->image = nullptr;
    }
    if (window->gc != nullptr) {
        XFreeGC(display, window->gc);
        window->gc = nullptr;
    }
}

// Tells the window it is going, takes its children with it, and forgets it. goneOnServer: the
// server destroyed the window already (its own or an ancestor's destruction by another client).
bool destroyRecord(X11Window* window, bool goneOnServer) {
    if (window->destroying)
        return false;
    window->destroying = true;
    if (window->procedure != nullptr)
        window->procedure(window, kWmDestroy, 0, 0);
    // The server destroys a window's subwindows with it, and an adopted window's children are the
    // library's, which go first so that they are not left in a host window about to disappear.
    for (records::WindowRecord* child : records::childrenOf(window)) {
        if (live(child) != nullptr)
            destroyRecord(static_cast<X11Window*>(child), goneOnServer || window->procedure != nullptr);
    }
    {
        const ErrorTrap trap;
        releaseServerObjects(window);
        if (!goneOnServer && window->procedure != nullptr)
            XDestroyWindow(windowSystem().display, window->id);
    }
    records::forget(window);
    closeConnectionIfUnused();
    return true;
}

void resizeRecord(X11Window* window, int width, int height) {
    if (width == window->width && height == window->height)
        return;
    window->width = width;
    window->height = height;
    window->canvas.resize(width, height, gfx::rgb(0, 0, 0));
    if (window->image != nullptr) {
        XDestroyImage(window->image);
        window->image = nullptr;
    }
    window->invalid = true;
}

// The canvas on the screen, converted to the window's pixel format.
void showCanvas(X11Window* window) {
    const int width = window->canvas.width();
    const int height = window->canvas.height();
    if (width <= 0 || height <= 0)
        return;
    Display* display = windowSystem().display;
    if (window->image == nullptr) {
        window->image =
            XCreateImage(display, window->visual, static_cast<unsigned>(window->depth), ZPixmap, 0, nullptr,
                         static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
        if (window->image == nullptr)
            return;
        // XDestroyImage frees the pixels with free().
        window->image->data =
            static_cast<char*>(std::malloc(static_cast<std::size_t>(window->image->bytes_per_line) * height));
        if (window->image->data == nullptr) {
            XDestroyImage(window->image);
            window->image = nullptr;
            return;
        }
    }
    const std::vector<uint8_t>& rgb = window->canvas.rgbBytes();
    std::size_t at = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x, at += 3) {
            const unsigned long pixel = channelValue(rgb[at], window->red) |
                                        channelValue(rgb[at + 1], window->green) |
                                        channelValue(rgb[at + 2], window->blue);
            XPutPixel(window->image, x, y, pixel);
        }
    }
    const ErrorTrap trap;
    XPutImage(display, window->id, window->gc, window->image, 0, 0, 0, 0, static_cast<unsigned>(width),
              static_cast<unsigned>(height));
}

void handleEvent(const XEvent& event) {
    X11Window* window = byId(event.xany.window);
    if (window == nullptr)
        return;
    switch (event.type) {
    case Expose:
        window->invalid = true;
        break;
    case ButtonPress:
        if (event.xbutton.button == Button1)
            window->procedure(window, kWmLButtonDown, kLeftButtonFlag,
                              makeMouseLParam(event.xbutton.x, event.xbutton.y));
        break;
    case ButtonRelease:
        if (event.xbutton.button == Button1)
            window->procedure(window, kWmLButtonUp, 0, makeMouseLParam(event.xbutton.x, event.xbutton.y));
        break;
    case MotionNotify:
        window->procedure(window, kWmMouseMove,
                          (event.xmotion.state & Button1Mask) != 0 ? kLeftButtonFlag : 0,
                          makeMouseLParam(event.xmotion.x, event.xmotion.y));
        break;
    case ConfigureNotify:
        resizeRecord(window, event.xconfigure.width, event.xconfigure.height);
        break;
    case DestroyNotify:
        if (event.xdestroywindow.window == window->id)
            destroyRecord(window, true);
        break;
    default:
        break;
    }
}

} // namespace

InstanceHandle libraryInstance() {
    static char libraryMarker;
    return &libraryMarker;
}

CursorHandle loadCursor(InstanceHandle /*instance*/, int /*cursorId*/) {
    // X windows show their parent's cursor unless given one: the host's arrow.
    return nullptr;
}

WindowHandle createWindowEx(uint32_t exStyle, const wchar_t* className, const wchar_t* title, uint32_t style,
                            int x, int y, int width, int height, WindowHandle parent, void* /*menu*/,
                            InstanceHandle instance, void* /*parameter*/) {
    const records::RegisteredClass* found = records::findClass(className, instance);
    if (found == nullptr)
        return nullptr;
    X11Window* parentWindow = nullptr;
    if (parent != nullptr) {
        parentWindow = live(parent);
        if (parentWindow == nullptr)
            return nullptr;
    }
    if ((style & kWsChild) != 0 && parentWindow == nullptr)
        return nullptr;
    Display* display = connection();
    if (display == nullptr)
        return nullptr;

    // The window takes its parent's visual and depth, as X requires of a window that copies them.
    const Window parentId = parentWindow != nullptr ? parentWindow->id : DefaultRootWindow(display);
    XWindowAttributes parentAttributes;
    if (!queryWindow(parentId, &parentAttributes) ||
        (parentAttributes.visual->c_class != TrueColor && parentAttributes.visual->c_class != DirectColor)) {
        closeConnectionIfUnused();
        return nullptr;
    }

    auto* window = new X11Window;
    records::initialise(*window, *found, instance, parentWindow, style, exStyle, width, height);
    window->visual = parentAttributes.visual;
    window->depth = parentAttributes.depth;
    window->red = channelOf(window->visual->red_mask);
    window->green = channelOf(window->visual->green_mask);
    window->blue = channelOf(window->visual->blue_mask);
    {
        const ErrorTrap trap;
        XSetWindowAttributes attributes;
        attributes.background_pixel = 0;
        attributes.border_pixel = 0;
        attributes.event_mask = kEventMask;
        // X has no empty windows: a window of width or height 0 is 1 pixel there.
        window->id = XCreateWindow(display, parentId, x, y, static_cast<unsigned>(std::max(width, 1)),
                                   static_cast<unsigned>(std::max(height, 1)), 0, window->depth, InputOutput,
                                   window->visual, CWBackPixel | CWBorderPixel | CWEventMask, &attributes);
        window->gc = XCreateGC(display, window->id, 0, nullptr);
        if (title != nullptr && *title != L'\0') {
            std::string name;
            for (const wchar_t* c = title; *c != L'\0'; ++c)
                name += *c < 0x80 ? static_cast<char>(*c) : '?';
            XStoreName(display, window->id, name.c_str());
        }
        if ((style & kWsVisible) != 0)
            XMapWindow(display, window->id);
    }
    records::registry().windows.push_back(window);
    if (window->procedure(window, kWmCreate, 0, 0) == -1) {
        destroyWindow(window);
        return nullptr;
    }
    return window;
}

bool destroyWindow(WindowHandle handle) {
    X11Window* window = live(handle);
    return window != nullptr && destroyRecord(window, false);
}

DeviceContext beginPaint(WindowHandle handle, PaintRecord* /*record*/) {
    X11Window* window = live(handle);
    if (window == nullptr || window->procedure == nullptr)
        return nullptr;
    window->invalid = false;
    // Each paint starts from the default device context state.
    window->painter->resetState();
    return window->painter.get();
}

void endPaint(WindowHandle handle, const PaintRecord* /*record*/) {
    X11Window* window = live(handle);
    if (window != nullptr && window->procedure != nullptr)
        showCanvas(window);
}

namespace x11 {

WindowHandle adoptForeignWindow(unsigned long windowId) {
    if (windowId == 0)
        return nullptr;
    Display* display = connection();
    if (display == nullptr)
        return nullptr;
    XWindowAttributes attributes;
    if (!queryWindow(windowId, &attributes)) {
        closeConnectionIfUnused();
        return nullptr;
    }
    auto* window = new X11Window;
    window->id = windowId;
    window->visual = attributes.visual;
    window->depth = attributes.depth;
    window->width = attributes.width;
    window->height = attributes.height;
    window->invalid = false;
    records::registry().windows.push_back(window);
    return window;
}

unsigned long windowId(WindowHandle handle) {
    const X11Window* window = live(handle);
    return window != nullptr ? window->id : 0;
}

void setWindowTitle(WindowHandle handle, const char* title) {
    const X11Window* window = live(handle);
    if (window == nullptr || title == nullptr)
        return;
    const ErrorTrap trap;
    XStoreName(windowSystem().display, window->id, title);
}

int dispatchEvents() {
    WindowSystem& system = windowSystem();
    if (system.display == nullptr)
        return 0;
    int handled = 0;
    system.dispatching = true;
    {
        const ErrorTrap trap;
        while (XPending(system.display) > 0) {
            XEvent event;
            XNextEvent(system.display, &event);
            handleEvent(event);
            ++handled;
        }
        // Repaints come after the input, as the system sends WM_PAINT only when no other message waits.
        const std::vector<records::WindowRecord*> windows = records::registry().windows;
        for (records::WindowRecord* window : windows) {
            if (live(window) != nullptr && window->procedure != nullptr && window->invalid)
                window->procedure(window, kWmPaint, 0, 0);
        }
    }
    system.dispatching = false;
    closeConnectionIfUnused();
    return handled;
}

bool connected() {
    return windowSystem().display != nullptr;
}

} // namespace x11
} // namespace platform
