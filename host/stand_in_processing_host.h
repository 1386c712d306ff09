// A stand-in for the host application's processing side: the services a processing module calls
// back, with a log of every call so tests and tools can see what a host would see.
//
// Threads and references: the contracts of dsp/processing_host.h (legend in
// factory/plugin_interfaces.h). Tests and tools drive a module and its stand-in from one thread, which
// plays the processing thread; nothing here is guarded. The stand-in's count is only kept, so a test
// can see what a module took and gave back: the object belongs to whoever constructed it and release
// never deletes it. Shared-memory blocks belong to the pool and outlive the modules that use them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dsp/processing_host.h"
#include "factory/pin_text.h"

namespace mphost {

// Named blocks of memory shared by every module that asks for the same name. Blocks outlive their
// users: they are freed only with the pool, as a host keeps them for the whole session.
class SharedMemoryPool {
public:
    // Returns the block for name, creating it filled with `fill` bytes when new. A request for more
    // bytes than an existing block holds is refused with null.
    void* obtain(const std::wstring& name, int32_t byteSize, bool* isNew);
    // The block of that name, or null.
    void* find(const std::wstring& name) const;
    std::size_t blockCount() const { return blocks.size(); }
    // Byte value a new block is filled with (a host's fresh memory is unspecified).
    unsigned char fill = 0;

private:
    std::map<std::wstring, std::vector<double>> blocks; // double: suitably aligned storage
};

struct HostCall {
    enum Kind {
        kQueryInterface,
        kAddRef,
        kRelease,
        kSetOutputPinValue,
        kSendPinStreaming,
        kRequestSleep,
        kQueryBlockSize,
        kQueryInstanceHandle,
        kObtainSharedMemory,
        kUnusedSlot,
    };
    Kind kind = kQueryInterface;
    int32_t timestamp = 0;
    int32_t pinId = 0;
    int32_t value = 0; // streaming flag, byte size or slot number
    std::wstring name; // shared-memory name
    PinText text;      // output pin value
    float sampleRate = 0.0f;
};

// One host object per module instance, as a host hands each module its own.
class ProcessingHost : public gmpi::IMpProcessingHost {
public:
    explicit ProcessingHost(SharedMemoryPool& pool, int32_t instanceHandle = 0, int32_t blockSize = 64);
    virtual ~ProcessingHost() = default;

    int32_t MP_CALL queryInterface(const gmpi::InterfaceId& iid, void** object) override;
    int32_t MP_CALL addRef() override;
    int32_t MP_CALL release() override;
    int32_t MP_CALL setOutputPinValue(int32_t timestamp, int32_t pinId, int32_t byteSize,
                                      const void* data) override;
    int32_t MP_CALL sendPinStreaming(int32_t timestamp, int32_t pinId, int32_t isStreaming) override;
    int32_t MP_CALL requestSleep() override;
    int32_t MP_CALL unusedSlot4() override { return unused(4); }
    int32_t MP_CALL queryBlockSize(int32_t* blockSize) override;
    int32_t MP_CALL unusedSlot6() override { return unused(6); }
    int32_t MP_CALL queryInstanceHandle(int32_t* handle) override;
    int32_t MP_CALL unusedSlot8() override { return unused(8); }
    int32_t MP_CALL unusedSlot9() override { return unused(9); }
    int32_t MP_CALL unusedSlot10() override { return unused(10); }
    int32_t MP_CALL unusedSlot11() override { return unused(11); }
    int32_t MP_CALL unusedSlot12() override { return unused(12); }
    int32_t MP_CALL unusedSlot13() override { return unused(13); }
    int32_t MP_CALL obtainSharedMemory(const wchar_t* name, void** memory, float sampleRate, int32_t byteSize,
                                       int32_t* needsInitialising) override;

    // Settings a test or tool may change at any time.
    int32_t instanceHandle;
    int32_t blockSize;
    bool refuseProcessingHost = false; // queryInterface answers no identifier but IMpUnknown
    bool refuseSharedMemory = false;   // obtainSharedMemory stores null
    bool logging = true;

    // What the modules did.
    std::vector<HostCall> log;
    int32_t referenceCount() const { return refCount; }
    int32_t sleepRequests = 0;

    // Calls of one kind, in order.
    std::vector<HostCall> calls(HostCall::Kind kind) const;
    void clearLog() { log.clear(); }

private:
    int32_t unused(int32_t slot);
    void record(HostCall call);

    SharedMemoryPool& pool;
    int32_t refCount = 1;
};

} // namespace mphost
