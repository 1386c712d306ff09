// The window-system operations without a window system: window records with parent, user data,
// position and a software canvas each; classes; capture; invalidation; and messages delivered by
// calling the window procedure directly, as the system does for sent messages.
#include <algorithm>
#include <memory>
#include <vector>

#include "gui/platform/native_window_system.h"
#include "gui/platform/window_records.h"

namespace platform {

namespace {

// A window of this build: the common record and the position its creator gave.
struct NativeWindow : records::WindowRecord {
    int x = 0;
    int y = 0;
};

NativeWindow* live(WindowHandle handle) {
    return static_cast<NativeWindow*>(records::recordOf(handle));
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

WindowHandle createWindowEx(uint32_t exStyle, const wchar_t* className, const wchar_t* /*title*/,
                            uint32_t style, int x, int y, int width, int height, WindowHandle parent,
                            void* /*menu*/, InstanceHandle instance, void* /*parameter*/) {
    const records::RegisteredClass* found = records::findClass(className, instance);
    if (found == nullptr)
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

    auto* window = new NativeWindow;
    records::initialise(*window, *found, instance, parentWindow, style, exStyle, width, height);
    window->x = x;
    window->y = y;
    records::registry().windows.push_back(window);
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
    for (records::WindowRecord* child : records::childrenOf(window))
        destroyWindow(child);
    records::forget(window);
    return true;
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
    return static_cast<int>(records::registry().windows.size());
}

bool isClassRegistered(const wchar_t* className, InstanceHandle instance) {
    return records::findClass(className, instance) != nullptr;
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
        *exitCode = records::registry().quitCode;
    return records::registry().quit;
}

void resetQuit() {
    records::registry().quit = false;
    records::registry().quitCode = 0;
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
