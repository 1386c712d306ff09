#include "gui/platform/window_records.h"

#include <algorithm>

namespace platform {
namespace records {

Registry& registry() {
    static Registry instance;
    return instance;
}

WindowRecord* recordOf(WindowHandle handle) {
    auto& windows = registry().windows;
    const auto it = std::find(windows.begin(), windows.end(), static_cast<WindowRecord*>(handle));
    return it == windows.end() ? nullptr : *it;
}

const RegisteredClass* findClass(const wchar_t* className, InstanceHandle instance) {
    if (className == nullptr)
        return nullptr;
    const auto& classes = registry().classes;
    const auto found = classes.find(std::make_pair(std::wstring(className), instance));
    return found == classes.end() ? nullptr : &found->second;
}

std::vector<WindowRecord*> childrenOf(const WindowRecord* window) {
    std::vector<WindowRecord*> children;
    for (WindowRecord* other : registry().windows) {
        if (other->parent == window)
            children.push_back(other);
    }
    return children;
}

void initialise(WindowRecord& window, const RegisteredClass& windowClass, InstanceHandle instance,
                WindowRecord* parent, uint32_t style, uint32_t exStyle, int width, int height) {
    window.className = windowClass.name;
    window.instance = instance;
    window.procedure = windowClass.info.procedure;
    window.parent = parent;
    window.style = style;
    window.exStyle = exStyle;
    window.width = std::max(width, 0);
    window.height = std::max(height, 0);
    window.canvas.resize(window.width, window.height, gfx::rgb(0, 0, 0));
    window.painter = std::make_unique<gfx::SoftwarePainter>(window.canvas);
}

void forget(WindowRecord* window) {
    if (registry().capture == window)
        registry().capture = nullptr;
    auto& windows = registry().windows;
    windows.erase(std::find(windows.begin(), windows.end(), window));
    delete window;
}

} // namespace records

using records::registry;

uint16_t registerClassEx(const WindowClassInfo& info) {
    if (info.size != sizeof(WindowClassInfo) || info.className == nullptr || info.procedure == nullptr)
        return 0;
    auto& classes = registry().classes;
    const auto key = std::make_pair(std::wstring(info.className), info.instance);
    if (classes.count(key) != 0)
        return 0;
    records::RegisteredClass& entry = classes[key];
    entry.name = info.className;
    entry.info = info;
    entry.info.className = entry.name.c_str();
    return registry().nextAtom++;
}

bool unregisterClass(const wchar_t* className, InstanceHandle instance) {
    if (className == nullptr)
        return false;
    auto& classes = registry().classes;
    const auto it = classes.find(std::make_pair(std::wstring(className), instance));
    if (it == classes.end())
        return false;
    // A class with windows stays registered.
    for (const records::WindowRecord* window : registry().windows) {
        if (window->className == it->first.first && window->instance == instance)
            return false;
    }
    classes.erase(it);
    return true;
}

intptr_t setWindowUserData(WindowHandle handle, intptr_t value) {
    records::WindowRecord* window = records::recordOf(handle);
    if (window == nullptr)
        return 0;
    const intptr_t previous = window->userData;
    window->userData = value;
    return previous;
}

intptr_t getWindowUserData(WindowHandle handle) {
    const records::WindowRecord* window = records::recordOf(handle);
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
    const records::WindowRecord* window = records::recordOf(handle);
    return window != nullptr ? window->parent : nullptr;
}

void postQuitMessage(int exitCode) {
    registry().quit = true;
    registry().quitCode = exitCode;
}

WindowHandle getCapture() {
    return registry().capture;
}

WindowHandle setCapture(WindowHandle handle) {
    const WindowHandle previous = registry().capture;
    if (records::recordOf(handle) != nullptr)
        registry().capture = handle;
    return previous;
}

bool releaseCapture() {
    registry().capture = nullptr;
    return true;
}

bool invalidateRect(WindowHandle handle, const gfx::Rect* /*rect*/, bool /*erase*/) {
    records::WindowRecord* window = records::recordOf(handle);
    if (window == nullptr)
        return false;
    window->invalid = true;
    return true;
}

bool ptInRect(const gfx::Rect& rect, gfx::Point point) {
    return point.x >= rect.left && point.x < rect.right && point.y >= rect.top && point.y < rect.bottom;
}

} // namespace platform
