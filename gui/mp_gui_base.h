// The editor interfaces of both generations and their base classes. Threads and references: the
// legend of factory/plugin_interfaces.h; every operation here runs on the editor thread, except
// queryInterface, addRef, release and attachHost, which run wherever the host creates and releases
// the editor.
#pragma once

#include <cstdint>

#include "factory/guarded_call.h"
#include "factory/plugin_interfaces.h"
#include "gui/editor_host.h"
#include "gui/gui_pins.h"

namespace gmpi {

// First-generation editor: receives its host through IoldSchoolInitialisation.
class IMpUserInterface : public IMpUnknown {
public:
    // [editor thread] Called once after the host is attached.
    virtual int32_t MP_CALL initialize() = 0;
    // [editor thread] Stores a pin value, copied from data (the host's, valid during the call only);
    // the editor reacts only to the notifyPin that follows.
    virtual int32_t MP_CALL setPin(int32_t pinIndex, int32_t voice, int32_t byteCount, const void* data) = 0;
    // [editor thread] Runs the pin's change callback.
    virtual int32_t MP_CALL notifyPin(int32_t pinIndex, int32_t voice) = 0;
    // [editor thread] The reserved entries hold places in the table; the editor does nothing in them.
    virtual int32_t MP_CALL reservedA(int32_t a, int32_t b, int32_t c) = 0;
    virtual int32_t MP_CALL reservedB() = 0;
    virtual int32_t MP_CALL reservedC(int32_t a) = 0;
};

// Second-generation editor: receives its host through its own attachHost.
class IMpUserInterface2 : public IMpUnknown {
public:
    // [any thread, before initialize] Asks host (borrowed) for IEditorHost2 and keeps that pointer for
    // the editor's lifetime without releasing it.
    virtual int32_t MP_CALL attachHost(IMpUnknown* host) = 0;
    // [editor thread] Called once after the host is attached.
    virtual int32_t MP_CALL initialize() = 0;
    // [editor thread] Stores a pin value, copied from data (the host's, valid during the call only), and
    // notifies the editor when it changed.
    virtual int32_t MP_CALL setPin(int32_t pinIndex, int32_t voice, int32_t byteCount, const void* data) = 0;
    // [editor thread] The reserved entries hold places in the table; the editor answers kResultFailed.
    virtual int32_t MP_CALL reservedA(int32_t a, int32_t b, int32_t c) = 0;
    virtual int32_t MP_CALL reservedB(int32_t a, int32_t b, int32_t c) = 0;
    virtual int32_t MP_CALL reservedC(int32_t a) = 0;
    virtual int32_t MP_CALL reservedD(int32_t a, int32_t b, int32_t c) = 0;
};

} // namespace gmpi

// Asks the host object for a service; returns the stored pointer (null when missing) and the result.
void* queryHostService(gmpi::IMpUnknown* hostObject, const gmpi::InterfaceId& iid, int32_t* result);

// Every table entry of the editor bases below runs its work through gmpi::guardedCall (a value that
// cannot be stored, a drawing that cannot allocate ends as kResultFailed, never in the host); the
// reserved entries return a constant and cannot throw.

// First-generation base. addRef and release are left to the window base that keeps the count.
class MpGuiBase_base : public gmpi::IMpUserInterface, public IoldSchoolInitialisation, public GuiPinOwner {
public:
    MpGuiBase_base() = default;
    MpGuiBase_base(const MpGuiBase_base&) = delete;
    MpGuiBase_base& operator=(const MpGuiBase_base&) = delete;

    // [any thread] Answers IMpUserInterface, then IMpUnknown, with the object itself and a reference added
    // for the caller.
    int32_t MP_CALL queryInterface(const gmpi::InterfaceId& iid, void** object) override;
    int32_t MP_CALL initialize() noexcept final { return gmpi::kResultOk; }
    // A value that cannot be stored (no memory for it) leaves the pin's value as it was: kResultFailed.
    int32_t MP_CALL setPin(int32_t pinIndex, int32_t voice, int32_t byteCount, const void* data) final;
    int32_t MP_CALL notifyPin(int32_t pinIndex, int32_t voice) final;
    int32_t MP_CALL reservedA(int32_t, int32_t, int32_t) noexcept final { return gmpi::kResultOk; }
    int32_t MP_CALL reservedB() noexcept final { return gmpi::kResultOk; }
    int32_t MP_CALL reservedC(int32_t) noexcept final { return gmpi::kResultOk; }
    virtual ~MpGuiBase_base() = default;

    // [any thread, inside createInstance] Runs attachHostServices; the factory does not create an
    // editor whose services are missing.
    int32_t MP_CALL attachHost(gmpi::IMpUnknown* hostObject) final;
    // Asks for IEditorHost and keeps it, unreleased, for the editor's lifetime; kResultFailed when it
    // is missing. A base that needs more services asks for them too.
    virtual int32_t attachHostServices(gmpi::IMpUnknown* hostObject);

    // [editor thread] Passes the value to the host's IEditorHost unchanged.
    int32_t sendPinValue(int32_t pinIndex, int32_t byteCount, const void* data, int32_t voice) override;
};

// The first-generation editor base as modules derive from it.
class MpGuiBase : public MpGuiBase_base {};

// Second-generation base. addRef and release are left to the concrete editor.
class MpGuiBase2 : public gmpi::IMpUserInterface2, public GuiPinOwner {
public:
    MpGuiBase2() = default;
    MpGuiBase2(const MpGuiBase2&) = delete;
    MpGuiBase2& operator=(const MpGuiBase2&) = delete;

    // [any thread] Answers IMpUserInterface2, then IMpUnknown, with the object itself and a reference added
    // for the caller.
    int32_t MP_CALL queryInterface(const gmpi::InterfaceId& iid, void** object) override;
    // [any thread, before initialize] Asks for IEditorHost2 and keeps it, unreleased, for the editor's
    // lifetime: kResultOk when present, kResultUnsupported otherwise.
    int32_t MP_CALL attachHost(gmpi::IMpUnknown* hostObject) final;
    // [editor thread] The default pass: every pin whose value is the default is notified, in ascending
    // index.
    int32_t MP_CALL initialize() final;
    int32_t MP_CALL setPin(int32_t pinIndex, int32_t voice, int32_t byteCount, const void* data) final;
    int32_t MP_CALL reservedA(int32_t, int32_t, int32_t) noexcept final { return gmpi::kResultFailed; }
    int32_t MP_CALL reservedB(int32_t, int32_t, int32_t) noexcept final { return gmpi::kResultFailed; }
    int32_t MP_CALL reservedC(int32_t) noexcept final { return gmpi::kResultFailed; }
    int32_t MP_CALL reservedD(int32_t, int32_t, int32_t) noexcept final { return gmpi::kResultFailed; }
    virtual ~MpGuiBase2() = default;

    // [editor thread] Passes the value to the host's IEditorHost2 unchanged.
    int32_t sendPinValue(int32_t pinIndex, int32_t byteCount, const void* data, int32_t voice) override;
};
