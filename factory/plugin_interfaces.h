// Plugin-side interfaces, in the order of their operations. The host reaches every operation by
// its position in the table, so the order below is part of the contract and must never change.
#pragma once

#include <cstdint>

#include "factory/abi.h"
#include "factory/host_event.h"
#include "factory/interface_id.h"
#include "factory/result_codes.h"

namespace gmpi {

class IMpUnknown {
public:
    // Sets *object to null, then to the interface for iid (adding a reference) when implemented.
    virtual int32_t MP_CALL queryInterface(const InterfaceId& iid, void** object) = 0;
    // Adds one reference; returns the new count.
    virtual int32_t MP_CALL addRef() = 0;
    // Removes one reference; returns the new count, or 0 after the object deleted itself.
    virtual int32_t MP_CALL release() = 0;
};

class IMpFactory : public IMpUnknown {
public:
    // Creates a module of (id, kind) and hands it the host at once.
    virtual int32_t MP_CALL createInstance(const wchar_t* id, int32_t kind, IMpUnknown* host,
                                           void** object) = 0;
    // Writes the SDK version and the 27-character build text with its terminator.
    virtual int32_t MP_CALL querySdkInformation(int32_t* sdkVersion, int32_t ignored, wchar_t* text) = 0;
};

class IMpFactory2 : public IMpFactory {
public:
    // Creates a module only; the host hands itself over later through the module's attachHost.
    virtual int32_t MP_CALL createInstance2(const wchar_t* id, int32_t kind, void** object) = 0;
};

class IMpPlugin : public IMpUnknown {
public:
    // [processing thread] Prepares the module after attachHost.
    virtual int32_t MP_CALL open() = 0;
    // [processing thread] Gives an audio pin its block buffer.
    virtual int32_t MP_CALL assignPinBuffer(int32_t pinId, float* buffer) = 0;
    // [audio thread] Processes one block, handling the events at their timestamps.
    virtual int32_t MP_CALL processBlock(int32_t sampleFrames, const HostEvent* events) = 0;
    // Passes a host message; the modules of this library do not act on it.
    virtual int32_t MP_CALL deliverMessage(int32_t a, int32_t b, int32_t c) = 0;
};

class IMpPlugin2 : public IMpUnknown {
public:
    // Hands the module its host; the module asks it for the processing-host interface.
    virtual int32_t MP_CALL attachHost(IMpUnknown* host) = 0;
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
    virtual int32_t MP_CALL attachHost(gmpi::IMpUnknown* host) = 0;
};
