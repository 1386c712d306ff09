// Calls into the library's objects the way a host written in C does: through the table of function
// pointers at the start of each object, by slot number, with the object as first argument. Nothing
// here uses the library's own class declarations. Each call has the thread and reference contract of
// the operation in its slot: factory/plugin_interfaces.h, gui/mp_gui_base.h and gui/gfx_base.h.
#pragma once

#include <cstdint>

#include "factory/abi.h"
#include "factory/host_event.h"
#include "factory/interface_id.h"
#include "factory/result_codes.h"

namespace mphost {
namespace raw {

template <typename Fn> Fn slot(void* object, int index) {
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<Fn>(table[index]);
}

// IMpUnknown: slots 0 to 2 of every table.
inline int32_t queryInterface(void* object, const gmpi::InterfaceId& iid, void** out) {
    return slot<int32_t(MP_CALL*)(void*, const gmpi::InterfaceId*, void**)>(object, 0)(object, &iid, out);
}
inline int32_t addRef(void* object) {
    return slot<int32_t(MP_CALL*)(void*)>(object, 1)(object);
}
inline int32_t release(void* object) {
    return slot<int32_t(MP_CALL*)(void*)>(object, 2)(object);
}

// IMpFactory and IMpFactory2.
inline int32_t createInstance(void* factory, const wchar_t* id, int32_t kind, void* host, void** out) {
    return slot<int32_t(MP_CALL*)(void*, const wchar_t*, int32_t, void*, void**)>(factory, 3)(
        factory, id, kind, host, out);
}
inline int32_t querySdkInformation(void* factory, int32_t* version, int32_t ignored, wchar_t* text) {
    return slot<int32_t(MP_CALL*)(void*, int32_t*, int32_t, wchar_t*)>(factory, 4)(factory, version, ignored,
                                                                                   text);
}
inline int32_t createInstance2(void* factory, const wchar_t* id, int32_t kind, void** out) {
    return slot<int32_t(MP_CALL*)(void*, const wchar_t*, int32_t, void**)>(factory, 5)(factory, id, kind,
                                                                                       out);
}

// IMpPlugin (the primary face of a processing module).
namespace plugin {
inline int32_t open(void* p) {
    return slot<int32_t(MP_CALL*)(void*)>(p, 3)(p);
}
inline int32_t assignPinBuffer(void* p, int32_t pinId, float* buffer) {
    return slot<int32_t(MP_CALL*)(void*, int32_t, float*)>(p, 4)(p, pinId, buffer);
}
inline int32_t processBlock(void* p, int32_t sampleFrames, const gmpi::HostEvent* events) {
    return slot<int32_t(MP_CALL*)(void*, int32_t, const gmpi::HostEvent*)>(p, 5)(p, sampleFrames, events);
}
inline int32_t deliverMessage(void* p, int32_t a, int32_t b, int32_t c) {
    return slot<int32_t(MP_CALL*)(void*, int32_t, int32_t, int32_t)>(p, 6)(p, a, b, c);
}
} // namespace plugin

// IMpPlugin2: attachHost in front of the same four operations.
namespace plugin2 {
inline int32_t attachHost(void* p, void* host) {
    return slot<int32_t(MP_CALL*)(void*, void*)>(p, 3)(p, host);
}
inline int32_t open(void* p) {
    return slot<int32_t(MP_CALL*)(void*)>(p, 4)(p);
}
inline int32_t assignPinBuffer(void* p, int32_t pinId, float* buffer) {
    return slot<int32_t(MP_CALL*)(void*, int32_t, float*)>(p, 5)(p, pinId, buffer);
}
inline int32_t processBlock(void* p, int32_t sampleFrames, const gmpi::HostEvent* events) {
    return slot<int32_t(MP_CALL*)(void*, int32_t, const gmpi::HostEvent*)>(p, 6)(p, sampleFrames, events);
}
inline int32_t deliverMessage(void* p, int32_t a, int32_t b, int32_t c) {
    return slot<int32_t(MP_CALL*)(void*, int32_t, int32_t, int32_t)>(p, 7)(p, a, b, c);
}
} // namespace plugin2

// IMpUserInterface (first-generation editor).
namespace editor {
inline int32_t initialize(void* e) {
    return slot<int32_t(MP_CALL*)(void*)>(e, 3)(e);
}
inline int32_t setPin(void* e, int32_t pinIndex, int32_t voice, int32_t byteCount, const void* data) {
    return slot<int32_t(MP_CALL*)(void*, int32_t, int32_t, int32_t, const void*)>(e, 4)(e, pinIndex, voice,
                                                                                        byteCount, data);
}
inline int32_t notifyPin(void* e, int32_t pinIndex, int32_t voice) {
    return slot<int32_t(MP_CALL*)(void*, int32_t, int32_t)>(e, 5)(e, pinIndex, voice);
}
inline int32_t reservedA(void* e, int32_t a, int32_t b, int32_t c) {
    return slot<int32_t(MP_CALL*)(void*, int32_t, int32_t, int32_t)>(e, 6)(e, a, b, c);
}
inline int32_t reservedB(void* e) {
    return slot<int32_t(MP_CALL*)(void*)>(e, 7)(e);
}
inline int32_t reservedC(void* e, int32_t a) {
    return slot<int32_t(MP_CALL*)(void*, int32_t)>(e, 8)(e, a);
}
} // namespace editor

// IMpUserInterface2 (second-generation editor).
namespace editor2 {
inline int32_t attachHost(void* e, void* host) {
    return slot<int32_t(MP_CALL*)(void*, void*)>(e, 3)(e, host);
}
inline int32_t initialize(void* e) {
    return slot<int32_t(MP_CALL*)(void*)>(e, 4)(e);
}
inline int32_t setPin(void* e, int32_t pinIndex, int32_t voice, int32_t byteCount, const void* data) {
    return slot<int32_t(MP_CALL*)(void*, int32_t, int32_t, int32_t, const void*)>(e, 5)(e, pinIndex, voice,
                                                                                        byteCount, data);
}
inline int32_t reservedA(void* e, int32_t a, int32_t b, int32_t c) {
    return slot<int32_t(MP_CALL*)(void*, int32_t, int32_t, int32_t)>(e, 6)(e, a, b, c);
}
inline int32_t reservedB(void* e, int32_t a, int32_t b, int32_t c) {
    return slot<int32_t(MP_CALL*)(void*, int32_t, int32_t, int32_t)>(e, 7)(e, a, b, c);
}
inline int32_t reservedC(void* e, int32_t a) {
    return slot<int32_t(MP_CALL*)(void*, int32_t)>(e, 8)(e, a);
}
inline int32_t reservedD(void* e, int32_t a, int32_t b, int32_t c) {
    return slot<int32_t(MP_CALL*)(void*, int32_t, int32_t, int32_t)>(e, 9)(e, a, b, c);
}
} // namespace editor2

// IMpGraphicsWinGdi (an editor's native window face). Window handles are pointer-sized.
struct Size {
    int32_t width;
    int32_t height;
};
namespace graphics {
inline int32_t measure(void* g, int32_t a, int32_t b, Size* out) {
    return slot<int32_t(MP_CALL*)(void*, int32_t, int32_t, Size*)>(g, 3)(g, a, b, out);
}
inline int32_t arrange(void* g, int32_t top, int32_t bottom, int32_t left, int32_t right) {
    return slot<int32_t(MP_CALL*)(void*, int32_t, int32_t, int32_t, int32_t)>(g, 4)(g, top, bottom, left,
                                                                                    right);
}
inline int32_t openWindow(void* g, void* parent, void** window) {
    return slot<int32_t(MP_CALL*)(void*, void*, void**)>(g, 5)(g, parent, window);
}
inline int32_t closeWindow(void* g) {
    return slot<int32_t(MP_CALL*)(void*)>(g, 6)(g);
}
} // namespace graphics

} // namespace raw
} // namespace mphost
