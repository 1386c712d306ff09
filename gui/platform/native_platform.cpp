// The window-system operations without a window system: window records with parent, user data,
// position and a software canvas each; classes; capture; invalidation; and messages delivered by
// calling the window procedure directly, as the system does for sent messages.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/platform/native_window_system.h"

namespace platform {

namespace {

struct NativeWindow {
    std::wstring className;
    InstanceHandle instance;
    WindowProcedure procedure;
    NativeWindow* parent;
    uint32_t style;
    uint32_t exStyle;
    int x;
    int y;
    int width;
    int height;
    intptr_t userData = 0;
    bool invalid = true;
    bool destroying = false;
    gfx::Canvas canvas;
    std::unique_ptr<gfx::SoftwarePainter> painter;
};

struct RegisteredClass {
    std::wstring name;
    WindowClassInfo info;
};

struct WindowSystem {
    std::vector<NativeWindow*> windows;
    std::map<std::pair<std::wstring, InstanceHandle>, RegisteredClass> classes;
    WindowHandle capture = nullptr;
    bool quit = false;
    int quitCode = 0;
    uint16_t nextAtom = 0xC000;
};

WindowSystem& windowSystem() {
    static WindowSystem instance;
    return instance;
}

NativeWindow* live(WindowHandle handle) {
    auto& windows = windowSystem().windows;
    const auto it = std::find(windows.begin(), windows.end(), static_cast<NativeWindow*>(handle));
    return it == windows.end() ? nullptr : *it;
}

char libraryMarker;
char arrowCursorMarker;
char hostInstanceMarker;

const wchar_t* const kHostWindowClass = L"NativeHostWindow";

LResult MP_CALL hostWindowProc(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
    return defWindowProc(window, message, wParam, lParam);
}

} // namespace

InstanceHandle libraryInstance() {
    return &libraryMarker;
}

CursorHandle loadCursor(InstanceHandle instance, int cursorId) {
    return instance == nullptr && cursorId == kIdcArrow ? &arrowCursorMarker : nullptr;
}

uint16_t registerClassEx(const WindowClassInfo& info) {
    if (info.size != sizeof(WindowClassInfo) || info.className == nullptr || info.procedure == nullptr)
        return 0;
    auto& classes = windowSystem().classes;
    const auto key = std::make_pair(std::wstring(info.className), info.instance);
    if (classes.count(key) != 0)
        return 0;
    RegisteredClass& entry = classes[key];
    entry.name = info.className;
    entry.info = info;
    entry.info.className = entry.name.c_str();
    return windowSystem().nextAtom++;
}

bool unregisterClass(const wchar_t* className, InstanceHandle instance) {
    if (className == nullptr)
        return false;
    auto& classes = windowSystem().classes;
    const auto it = classes.find(std::make_pair(std::wstring(className), instance));
    if (it == classes.end())
        return false;
    // A class with windows stays registered.
    for (const NativeWindow* window : windowSystem().windows) {
        if (window->className == it->first.first && window->instance == instance)
            return false;
    }
    classes.erase(it);
    return true;
}

WindowHandle createWindowEx(uint32_t exStyle, const wchar_t* className, const wchar_t* /*title*/,
                            uint32_t style, int x, int y, int width, int height, WindowHandle parent,
                            void* /*menu*/, InstanceHandle instance, void* /*parameter*/) {
    if (className == nullptr)
        return nullptr;
    const auto found = windowSystem().classes.find(std::make_pair(std::wstring(className), instance));
    if (found == windowSystem().classes.end())
        return nullptr;
    NativeWindow* parentWindow = nullptr;
    if (parent != nullptr) {
        parentWindow = live(parent);
        if (parentWindow == nullptr)
            return nullptr;
    }
    // A child window needs a parent.
    if ((style & kWsChild) != 0 && parentWindow == nullptr)
        return nullptr;

    auto* window = new NativeWindow{found->second.name,
                                    instance,
                                    found->second.info.procedure,
                                    parentWindow,
                                    style,
                                    exStyle,
                                    x,
                                    y,
                                    std::max(width, 0),
                                    std::max(height, 0),
                                    0,
                                    true,
                                    false,
                                    gfx::Canvas(),
                                    nullptr};
    window->canvas.resize(window->width, window->height, gfx::rgb(0, 0, 0));
    window->painter = std::make_unique<gfx::SoftwarePainter>(window->canvas);
    windowSystem().windows.push_back(window);
    // Messages sent during creation reach the procedure before the caller could set any user data.
    if (window->procedure(window, kWmCreate, 0, 0) == -1) {
        destroyWindow(window);
        return nullptr;
    }
    return window;
}

bool destroyWindow(WindowHandle handle) {
    NativeWindow* window = live(handle);
    if (window == nullptr || window->destroying)
        return false;
    window->destroying = true;
    window->procedure(window, kWmDestroy, 0, 0);
    // Children go with their parent, after it was told.
    std::vector<NativeWindow*> children;
    for (NativeWindow* other : windowSystem().windows) {
        if (other->parent == window)
            children.push_back(other);
    }
    for (NativeWindow* child : children)
        destroyWindow(child);
    if (windowSystem().capture == handle)
        windowSystem().capture = nullptr;
    auto& windows = windowSystem().windows;
    windows.erase(std::find(windows.begin(), windows.end(), window));
    delete window;
    return true;
}

intptr_t setWindowUserData(WindowHandle handle, intptr_t value) {
    NativeWindow* window = live(handle);
    if (window == nullptr)
        return 0;
    const intptr_t previous = window->userData;
    window->userData = value;
    return previous;
}

intptr_t getWindowUserData(WindowHandle handle) {
    const NativeWindow* window = live(handle);
    return window != nullptr ? window->userData : 0;
}

LResult defWindowProc(WindowHandle window, uint32_t message, WParam /*wParam*/, LParam /*lParam*/) {
    switch (message) {
    case kWmClose:
        destroyWindow(window);
        return 0;
    case kWmPaint: {
        PaintRecord record;
        beginPaint(window, &record);
        endPaint(window, &record);
        return 0;
    }
    default:
        return 0;
    }
}

WindowHandle getParent(WindowHandle handle) {
    const NativeWindow* window = live(handle);
    return window != nullptr ? window->parent : nullptr;
}

void postQuitMessage(int exitCode) {
    windowSystem().quit = true;
    windowSystem().quitCode = exitCode;
}

DeviceContext beginPaint(WindowHandle handle, PaintRecord* /*record*/) {
    NativeWindow* window = live(handle);
    if (window == nullptr)
        return nullptr;
    window->invalid = false;
    // Each paint starts from the default device context state.
    window->painter->resetState();
    return window->painter.get();
}

void endPaint(WindowHandle /*window*/, const PaintRecord* /*record*/) {}

WindowHandle getCapture() {
    return windowSystem().capture;
}

WindowHandle setCapture(WindowHandle handle) {
    const WindowHandle previous = windowSystem().capture;
    if (live(handle) != nullptr)
        windowSystem().capture = handle;
    return previous;
}

bool releaseCapture() {
    windowSystem().capture = nullptr;
    return true;
}

bool invalidateRect(WindowHandle handle, const gfx::Rect* /*rect*/, bool /*erase*/) {
    NativeWindow* window = live(handle);
    if (window == nullptr)
        return false;
    window->invalid = true;
    return true;
}

bool ptInRect(const gfx::Rect& rect, gfx::Point point) {
    return point.x >= rect.left && point.x < rect.right && point.y >= rect.top && point.y < rect.bottom;
}

namespace native {

WindowHandle createHostWindow(int width, int height) {
    if (!isClassRegistered(kHostWindowClass, &hostInstanceMarker)) {
        WindowClassInfo info{};
        info.size = sizeof(info);
        info.procedure = &hostWindowProc;
        info.instance = &hostInstanceMarker;
        info.className = kHostWindowClass;
        registerClassEx(info);
    }
    return createWindowEx(0, kHostWindowClass, L"", kWsPopup | kWsVisible, 0, 0, width, height, nullptr,
                          nullptr, &hostInstanceMarker, nullptr);
}

LResult sendMessage(WindowHandle handle, uint32_t message, WParam wParam, LParam lParam) {
    NativeWindow* window = live(handle);
    return window != nullptr ? window->procedure(handle, message, wParam, lParam) : 0;
}

bool isWindow(WindowHandle window) {
    return live(window) != nullptr;
}

int liveWindowCount() {
    return static_cast<int>(windowSystem().windows.size());
}

bool isClassRegistered(const wchar_t* className, InstanceHandle instance) {
    return className != nullptr &&
           windowSystem().classes.count(std::make_pair(std::wstring(className), instance)) != 0;
}

bool windowPlacement(WindowHandle handle, WindowPlacement* placement) {
    const NativeWindow* window = live(handle);
    if (window == nullptr)
        return false;
    *placement = WindowPlacement{window->x,      window->y,     window->width,  window->height,
                                 window->parent, window->style, window->exStyle};
    return true;
}

bool needsPaint(WindowHandle handle) {
    const NativeWindow* window = live(handle);
    return window != nullptr && window->invalid;
}

bool updateWindow(WindowHandle handle) {
    if (!needsPaint(handle))
        return false;
    sendMessage(handle, kWmPaint, 0, 0);
    return true;
}

const gfx::Canvas* windowCanvas(WindowHandle handle) {
    const NativeWindow* window = live(handle);
    return window != nullptr ? &window->canvas : nullptr;
}

const gfx::SoftwarePainter* windowPainter(WindowHandle handle) {
    const NativeWindow* window = live(handle);
    return window != nullptr ? window->painter.get() : nullptr;
}

bool quitPosted(int* exitCode) {
    if (exitCode != nullptr)
        *exitCode = windowSystem().quitCode;
    return windowSystem().quit;
}

void resetQuit() {
    windowSystem().quit = false;
    windowSystem().quitCode = 0;
}

} // namespace native
} // namespace platform

namespace {

void* tableCreateHostWindow(int32_t width, int32_t height) {
    return platform::native::createHostWindow(width, height);
}

int32_t tableDestroyWindow(void* window) {
    return platform::destroyWindow(window) ? 1 : 0;
}

intptr_t tableSendMessage(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return platform::native::sendMessage(window, message, wParam, lParam);
}

int32_t tableReadPixels(void* window, int32_t* width, int32_t* height, const uint8_t** rgb) {
    const gfx::Canvas* canvas = platform::native::windowCanvas(window);
    if (canvas == nullptr)
        return 0;
    *width = canvas->width();
    *height = canvas->height();
    *rgb = canvas->rgbBytes().data();
    return 1;
}

} // namespace

MP_EXPORT const NativeWindowSystemTable* MP_GetNativeWindowSystem() {
    static const NativeWindowSystemTable table = {1, &tableCreateHostWindow, &tableDestroyWindow,
                                                  &tableSendMessage, &tableReadPixels};
    return &table;
}
