// The editor's native child window: the host sizes, places, opens and closes it through
// IMpGraphicsWinGdi; its messages reach the editor's paint and mouse handlers. Threads and references:
// the legend of factory/plugin_interfaces.h; the window's messages arrive on the editor thread.
#pragma once

#include <cstdint>

#include "gui/mp_gui_base.h"
#include "gui/platform/platform.h"

// A size as measure reports it.
struct MpSize {
    int32_t width;
    int32_t height;
};

namespace gmpi {

class IMpGraphicsWinGdi : public IMpUnknown {
public:
    // [editor thread] Writes the size the editor wants for a proposed size into the caller's record.
    virtual int32_t MP_CALL measure(int32_t proposedWidth, int32_t proposedHeight, MpSize* size) = 0;
    // [editor thread] Stores the window's place; an open window is neither moved nor resized.
    virtual int32_t MP_CALL arrange(int32_t top, int32_t bottom, int32_t left, int32_t right) = 0;
    // [editor thread] Creates the editor's child window of parent (the host's window, borrowed) at the
    // stored place and stores its handle in *window. The window belongs to the editor: closeWindow or
    // the editor's last release destroys it; when the host destroys it (or its parent) first, the
    // editor forgets it. A second call while the window is open stores the same window.
    virtual int32_t MP_CALL openWindow(platform::WindowHandle parent, platform::WindowHandle* window) = 0;
    // [editor thread] Destroys the editor's window, if one is open.
    virtual int32_t MP_CALL closeWindow() = 0;
};

} // namespace gmpi

// The window's place, in the host's order of the fields.
struct MpWindowRect {
    int32_t top;
    int32_t bottom;
    int32_t left;
    int32_t right;
};

// The editor base with a native child window: sizing, the window and its reference count.
class MpGuiWindowsGfxBase : public MpGuiBase, public gmpi::IMpGraphicsWinGdi {
public:
    static constexpr const wchar_t* kWindowClassName = L"DefaultMpWClass";

    MpGuiWindowsGfxBase() = default;

    // [any thread] IMpGraphicsWinGdi first, then the editor interface's rule; each answer adds a
    // reference for the caller.
    int32_t MP_CALL queryInterface(const gmpi::InterfaceId& iid, void** object) final;
    // [any thread] One count for every face of the editor. Neither can throw: destructors do not.
    int32_t MP_CALL addRef() noexcept final { return ++refCount; }
    // [editor thread when a window is open, else any thread] Deletes the editor at 0, closing its
    // window first.
    int32_t MP_CALL release() noexcept final;
    // [any thread, inside createInstance] Asks for IEditorHost, then IWindowHost, and keeps both,
    // unreleased, for the editor's lifetime; kResultFailed when one is missing.
    int32_t attachHostServices(gmpi::IMpUnknown* hostObject) override;

    // The window operations, each run through gmpi::guardedCall. measure: each value clamped into
    // 15..100.
    int32_t MP_CALL measure(int32_t proposedWidth, int32_t proposedHeight, MpSize* size) final;
    int32_t MP_CALL arrange(int32_t top, int32_t bottom, int32_t left, int32_t right) final;
    int32_t MP_CALL openWindow(platform::WindowHandle parent, platform::WindowHandle* window) final;
    int32_t MP_CALL closeWindow() final;

    // A window still open is closed here: a host that releases the editor without closeWindow must
    // not leave a window whose messages would reach a destroyed object.
    ~MpGuiWindowsGfxBase() override;

    virtual platform::LResult windowProc(platform::WindowHandle window, uint32_t message,
                                         platform::WParam wParam, platform::LParam lParam);
    virtual void getWindowClassInfo(platform::WindowClassInfo& info);
    virtual void getWindowStyles(uint32_t* style, uint32_t* exStyle);
    virtual int32_t registerWindowClass();
    virtual void unregisterWindowClass();
    virtual int32_t handlePaint(platform::DeviceContext dc);
    virtual int32_t handleLeftButtonDown(int32_t flags, int32_t x, int32_t y);
    virtual int32_t handleLeftButtonUp(int32_t flags, int32_t x, int32_t y);
    virtual int32_t handleMouseMove(int32_t flags, int32_t x, int32_t y);
    virtual int32_t handleTimer();

    // [editor thread] The one window procedure of the class: routes a message to the editor stored in
    // the window's user data, or to default processing while there is none. The user data holds no
    // reference: the editor clears it before the window outlives it. The system calls it, so nothing
    // may unwind out of it: a message whose handling throws is answered 0.
    static platform::LResult MP_CALL sharedWindowProc(platform::WindowHandle window, uint32_t message,
                                                      platform::WParam wParam, platform::LParam lParam);

    // Editor windows of the whole library that are open now.
    static int32_t openWindowCount;

    bool isMouseCaptured() const;
    void captureMouse();
    void releaseMouse();
    // Queues a repaint of the whole window, when there is one.
    void invalidate();

    int32_t referenceCount() const { return refCount; }

    platform::WindowHandle windowHandle = nullptr;
    gmpi::IWindowHost* windowHost = nullptr; // the host's, held without a reference
    MpWindowRect windowRect{0, 0, 0, 0};

private:
    int32_t openChildWindow(platform::WindowHandle parent, platform::WindowHandle* window);
    int32_t closeChildWindow();

    int32_t refCount = 1;
};

// The window editor base that also keeps the host's style service.
class DvGuiWindowsGfxBase : public MpGuiWindowsGfxBase {
public:
    // [any thread, inside createInstance] Asks for IEditorHost, IWindowHost, then IStyleHost, and keeps
    // all three, unreleased, for the editor's lifetime; kResultFailed when one is missing.
    int32_t attachHostServices(gmpi::IMpUnknown* hostObject) override;

    gmpi::IStyleHost* styleHost = nullptr; // the host's, held without a reference
};
