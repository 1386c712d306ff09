#include "gui/gfx_base.h"

#include <cstdint>
#include <cstring>

#include "factory/guarded_call.h"
#include "factory/reference_count.h"

int32_t MpGuiWindowsGfxBase::openWindowCount = 0;

namespace {

int32_t clampSize(int32_t value) {
    if (value > 100)
        return 100;
    if (value < 15)
        return 15;
    return value;
}

// The distance between two edges as a window size: 0 when they are reversed, and no overflow for edges
// far apart (a host may place the window anywhere).
int32_t edgeDistance(int32_t from, int32_t to) {
    const int64_t distance = static_cast<int64_t>(to) - from;
    if (distance < 0)
        return 0;
    return distance > INT32_MAX ? INT32_MAX : static_cast<int32_t>(distance);
}

} // namespace

int32_t MpGuiWindowsGfxBase::queryInterface(const gmpi::InterfaceId& iid, void** object) {
    return gmpi::guardedCall([&] {
        *object = nullptr;
        if (iid == gmpi::kIidGraphicsWinGdi) {
            *object = static_cast<gmpi::IMpGraphicsWinGdi*>(this);
            addRef();
            return gmpi::kResultOk;
        }
        return MpGuiBase::queryInterface(iid, object);
    });
}

int32_t MpGuiWindowsGfxBase::release() noexcept {
    return releaseReference(this, refCount);
}

int32_t MpGuiWindowsGfxBase::attachHostServices(gmpi::IMpUnknown* hostObject) {
    int32_t result = gmpi::kResultFailed;
    host = queryHostService(hostObject, gmpi::kIidEditorHost, &result);
    if (host == nullptr)
        return gmpi::kResultFailed;
    windowHost = static_cast<gmpi::IWindowHost*>(queryHostService(hostObject, gmpi::kIidWindowHost, &result));
    return windowHost != nullptr ? result : gmpi::kResultFailed;
}

int32_t DvGuiWindowsGfxBase::attachHostServices(gmpi::IMpUnknown* hostObject) {
    int32_t result = MpGuiWindowsGfxBase::attachHostServices(hostObject);
    if (result != gmpi::kResultOk)
        return result;
    styleHost = static_cast<gmpi::IStyleHost*>(queryHostService(hostObject, gmpi::kIidStyleHost, &result));
    return styleHost != nullptr ? result : gmpi::kResultFailed;
}

int32_t MpGuiWindowsGfxBase::measure(int32_t proposedWidth, int32_t proposedHeight, MpSize* size) {
    return gmpi::guardedCall([&] {
        size->width = clampSize(proposedWidth);
        size->height = clampSize(proposedHeight);
        return gmpi::kResultOk;
    });
}

int32_t MpGuiWindowsGfxBase::arrange(int32_t top, int32_t bottom, int32_t left, int32_t right) {
    return gmpi::guardedCall([&] {
        windowRect = MpWindowRect{top, bottom, left, right};
        return gmpi::kResultOk;
    });
}

int32_t MpGuiWindowsGfxBase::openWindow(platform::WindowHandle parent, platform::WindowHandle* window) {
    return gmpi::guardedCall([&] { return openChildWindow(parent, window); });
}

int32_t MpGuiWindowsGfxBase::openChildWindow(platform::WindowHandle parent, platform::WindowHandle* window) {
    if (windowHandle != nullptr) {
        // Already open: a second window would keep pointing at this object after its release.
        *window = windowHandle;
        return gmpi::kResultOk;
    }
    *window = nullptr;
    if (openWindowCount == 0)
        registerWindowClass();
    uint32_t style = 0;
    uint32_t exStyle = 0;
    getWindowStyles(&style, &exStyle);
    // The window counts as open only once it exists: a creation that fails, or throws, leaves the
    // count as it was, so the class is unregistered when the last real window closes.
    windowHandle = platform::createWindowEx(exStyle, kWindowClassName, L"", style, windowRect.left,
                                            windowRect.top, edgeDistance(windowRect.left, windowRect.right),
                                            edgeDistance(windowRect.top, windowRect.bottom), parent, nullptr,
                                            platform::libraryInstance(), nullptr);
    *window = windowHandle;
    if (windowHandle == nullptr) {
        if (openWindowCount == 0)
            unregisterWindowClass();
        return gmpi::kResultOk;
    }
    ++openWindowCount;
    // From here on the window's messages reach this object.
    platform::setWindowUserData(windowHandle, reinterpret_cast<intptr_t>(this));
    return gmpi::kResultOk;
}

int32_t MpGuiWindowsGfxBase::closeWindow() {
    return gmpi::guardedCall([&] { return closeChildWindow(); });
}

int32_t MpGuiWindowsGfxBase::closeChildWindow() {
    if (windowHandle == nullptr) {
        // A window destroyed from outside could not take the class with it while it still existed.
        if (openWindowCount == 0)
            unregisterWindowClass();
        return gmpi::kResultOk;
    }
    const platform::WindowHandle handle = windowHandle;
    // The window's WM_DESTROY forgets it and counts it closed; do so here when that did not happen.
    platform::destroyWindow(handle);
    if (windowHandle == handle) {
        windowHandle = nullptr;
        --openWindowCount;
    }
    if (openWindowCount == 0)
        unregisterWindowClass();
    return gmpi::kResultOk;
}

MpGuiWindowsGfxBase::~MpGuiWindowsGfxBase() {
    if (windowHandle == nullptr)
        return;
    // Detach first: the messages of the destruction get default processing, not this half-gone object.
    platform::setWindowUserData(windowHandle, 0);
    platform::destroyWindow(windowHandle);
    windowHandle = nullptr;
    if (--openWindowCount == 0)
        MpGuiWindowsGfxBase::unregisterWindowClass();
}

platform::LResult MpGuiWindowsGfxBase::sharedWindowProc(platform::WindowHandle window, uint32_t message,
                                                        platform::WParam wParam, platform::LParam lParam) {
    return gmpi::guardedCall(
        [&] {
            auto* editor = reinterpret_cast<MpGuiWindowsGfxBase*>(platform::getWindowUserData(window));
            if (editor == nullptr)
                return platform::defWindowProc(window, message, wParam, lParam);
            return editor->windowProc(window, message, wParam, lParam);
        },
        platform::LResult{0});
}

platform::LResult MpGuiWindowsGfxBase::windowProc(platform::WindowHandle window, uint32_t message,
                                                  platform::WParam wParam, platform::LParam lParam) {
    const auto flags = static_cast<int32_t>(wParam);
    switch (message) {
    case platform::kWmPaint: {
        platform::PaintRecord record;
        std::memset(&record, 0, sizeof(record));
        const platform::DeviceContext dc = platform::beginPaint(window, &record);
        handlePaint(dc);
        platform::endPaint(window, &record);
        return 1;
    }
    case platform::kWmLButtonDown:
        handleLeftButtonDown(flags, platform::mouseX(lParam), platform::mouseY(lParam));
        return 1;
    case platform::kWmLButtonUp:
        handleLeftButtonUp(flags, platform::mouseX(lParam), platform::mouseY(lParam));
        return 1;
    case platform::kWmMouseMove:
        handleMouseMove(flags, platform::mouseX(lParam), platform::mouseY(lParam));
        return 1;
    case platform::kWmTimer:
        handleTimer();
        return 1;
    case platform::kWmClose:
        platform::destroyWindow(window);
        return 1;
    case platform::kWmDestroy:
        if (window == windowHandle) {
            // Destroyed from outside (closed, or its parent destroyed): forget it, so that no later
            // call reaches a dead or reused handle and the open-window count stays true.
            platform::setWindowUserData(window, 0);
            windowHandle = nullptr;
            --openWindowCount;
        }
        if (platform::getParent(window) == nullptr)
            platform::postQuitMessage(0);
        return 1;
    default:
        return platform::defWindowProc(window, message, wParam, lParam);
    }
}

void MpGuiWindowsGfxBase::getWindowClassInfo(platform::WindowClassInfo& info) {
    info.style = platform::kCsHRedraw | platform::kCsVRedraw;
    info.procedure = &MpGuiWindowsGfxBase::sharedWindowProc;
    info.instance = platform::libraryInstance();
    info.cursor = platform::loadCursor(nullptr, platform::kIdcArrow);
    info.className = kWindowClassName;
}

void MpGuiWindowsGfxBase::getWindowStyles(uint32_t* style, uint32_t* /*exStyle*/) {
    *style = platform::kWsChild | platform::kWsVisible;
}

int32_t MpGuiWindowsGfxBase::registerWindowClass() {
    platform::WindowClassInfo info;
    std::memset(&info, 0, sizeof(info));
    info.size = sizeof(info);
    getWindowClassInfo(info);
    platform::registerClassEx(info);
    return 0;
}

void MpGuiWindowsGfxBase::unregisterWindowClass() {
    platform::unregisterClass(kWindowClassName, platform::libraryInstance());
}

bool MpGuiWindowsGfxBase::isMouseCaptured() const {
    return windowHandle != nullptr && platform::getCapture() == windowHandle;
}

void MpGuiWindowsGfxBase::captureMouse() {
    platform::setCapture(windowHandle);
}

void MpGuiWindowsGfxBase::releaseMouse() {
    platform::releaseCapture();
}

void MpGuiWindowsGfxBase::invalidate() {
    if (windowHandle != nullptr)
        platform::invalidateRect(windowHandle, nullptr, true);
}

int32_t MpGuiWindowsGfxBase::handlePaint(platform::DeviceContext) {
    return 0;
}
int32_t MpGuiWindowsGfxBase::handleLeftButtonDown(int32_t, int32_t, int32_t) {
    return 0;
}
int32_t MpGuiWindowsGfxBase::handleLeftButtonUp(int32_t, int32_t, int32_t) {
    return 0;
}
int32_t MpGuiWindowsGfxBase::handleMouseMove(int32_t, int32_t, int32_t) {
    return 0;
}
int32_t MpGuiWindowsGfxBase::handleTimer() {
    return 0;
}
