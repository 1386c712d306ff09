// Plugin-side interfaces, in the order of their operations. The host reaches every operation by
// its position in the table, so the order below is part of the contract and must never change.
//
// Threads. The library starts no threads and takes no locks; it runs on the host's threads, and the
// tag in front of each operation (here and in every header that declares or calls a table) names one:
//   [processing thread]  the host's audio thread, which runs a processing module: open, assignPinBuffer
//                        and processBlock, and the module's calls back into IMpProcessingHost. One
//                        thread at a time per module object.
//   [editor thread]      the host's UI thread, which owns the editor's window: every editor operation,
//                        its window messages, its pin callbacks and its calls into the editor services.
//   [load time]          static initialisation while the library loads, before MP_GetFactory can run.
//   [any thread]         whichever thread the host chooses, but never two calls on one object at once:
//                        reference counts are plain integers.
//
// References. A pointer stored through an out-parameter (void** object) carries one reference that
// belongs to the caller, who releases it exactly once; where an operation differs, it says so. A
// pointer passed in is borrowed for the call: the callee neither keeps nor releases it unless the
// operation says it does. Memory passed as bytes (pin values, events, text) belongs to whoever passes
// it and is valid during the call only.
#pragma once

#include <cstdint>

#include "factory/abi.h"
#include "factory/host_event.h"
#include "factory/interface_id.h"
#include "factory/result_codes.h"

namespace gmpi {

class IMpUnknown {
public:
    // [any thread] Sets *object to null, then, when iid is implemented, to that interface with one
    // reference added for the caller, who releases it. *object stays null on kResultUnsupported.
    virtual int32_t MP_CALL queryInterface(const InterfaceId& iid, void** object) = 0;
    // [any thread] Adds one reference, which the caller releases; returns the new count.
    virtual int32_t MP_CALL addRef() = 0;
    // [any thread] Gives up one of the caller's references; returns the new count, or 0 after the
    // object deleted itself (the caller must not touch it again).
    virtual int32_t MP_CALL release() = 0;
};

class IMpFactory : public IMpUnknown {
public:
    // [any thread] Creates a module of (id, kind) and hands it host at once (the module takes what it
    // needs from host through queryInterface; host itself is borrowed). On success *object holds the
    // module's one reference, owned by the caller, who releases it. On kResultFailed *object may still
    // hold the new module (its attachHost failed): the caller releases that one too. On
    // kResultUnsupported *object is null.
    virtual int32_t MP_CALL createInstance(const wchar_t* id, int32_t kind, IMpUnknown* host,
                                           void** object) = 0;
    // [any thread] Writes the SDK version and the 27-character build text with its terminator into the
    // caller's buffer (28 wide characters); keeps neither.
    virtual int32_t MP_CALL querySdkInformation(int32_t* sdkVersion, int32_t ignored, wchar_t* text) = 0;
};

class IMpFactory2 : public IMpFactory {
public:
    // [any thread] Creates a module only; the host hands itself over later through the module's
    // attachHost. On success *object holds the module's one reference, owned by the caller, who
    // releases it; on failure *object is null.
    virtual int32_t MP_CALL createInstance2(const wchar_t* id, int32_t kind, void** object) = 0;
};

class IMpPlugin : public IMpUnknown {
public:
    // [processing thread] Prepares the module after attachHost, before the first processBlock.
    virtual int32_t MP_CALL open() = 0;
    // [processing thread] Gives an audio pin its block buffer, or withdraws it with null. The buffer
    // stays the host's: the module keeps the pointer until the next assignPinBuffer for that pin or
    // its own deletion, so it must hold at least the samples of every later processBlock.
    virtual int32_t MP_CALL assignPinBuffer(int32_t pinId, float* buffer) = 0;
    // [processing thread] Processes one block, handling the events at their timestamps. The event list
    // stays the host's: it is read during the call only, never written and not kept.
    virtual int32_t MP_CALL processBlock(int32_t sampleFrames, const HostEvent* events) = 0;
    // [any thread] Passes a host message; the modules of this library answer 0 and do not act on it.
    virtual int32_t MP_CALL deliverMessage(int32_t a, int32_t b, int32_t c) = 0;
};

class IMpPlugin2 : public IMpUnknown {
public:
    // [any thread, before open] Hands the module its host, which is borrowed: the module asks it for
    // IMpProcessingHost and keeps the reference that query added, releasing it when it is deleted.
    virtual int32_t MP_CALL attachHost(IMpUnknown* host) = 0;
    // The four operations of IMpPlugin, with the same threads and the same contracts.
    virtual int32_t MP_CALL open() = 0;
    virtual int32_t MP_CALL assignPinBuffer(int32_t pinId, float* buffer) = 0;
    virtual int32_t MP_CALL processBlock(int32_t sampleFrames, const HostEvent* events) = 0;
    virtual int32_t MP_CALL deliverMessage(int32_t a, int32_t b, int32_t c) = 0;
};

} // namespace gmpi

// The legacy initialisation face: no identifier, not offered by queryInterface. The factory's
// createInstance finds it by a run-time type query and hands the host over through it.
class IoldSchoolInitialisation {
public:
    // [any thread, inside createInstance] The attachHost of IMpPlugin2 for a processing module, of
    // the editor base for an editor (gui/mp_gui_base.h), each keeping what that one keeps.
    virtual int32_t MP_CALL attachHost(gmpi::IMpUnknown* host) = 0;
};
