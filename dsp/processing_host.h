// What the host offers a processing module. The host's table has fourteen operations after the
// three of IMpUnknown; the library calls six of them and the others keep their places.
//
// Threads and references as in the legend of factory/plugin_interfaces.h. The module calls every
// operation below on the processing thread, from its open or its block loop. It holds one reference
// to this interface (from attachHost's query) and releases it when it is deleted.
#pragma once

#include <cstdint>

#include "factory/plugin_interfaces.h"

namespace gmpi {

class IMpProcessingHost : public IMpUnknown {
public:
    // [processing thread, in processBlock] Reports an output pin's value: byteSize = 2 x characters, no
    // terminator. data is the module's, valid during the call only: the host copies what it keeps.
    virtual int32_t MP_CALL setOutputPinValue(int32_t timestamp, int32_t pinId, int32_t byteSize,
                                              const void* data) = 0;
    // [processing thread, in processBlock] Reports an output pin's streaming state; isStreaming is 0
    // or 1.
    virtual int32_t MP_CALL sendPinStreaming(int32_t timestamp, int32_t pinId, int32_t isStreaming) = 0;
    // [processing thread, in processBlock] Asks the host to suspend the module until an input changes.
    virtual int32_t MP_CALL requestSleep() = 0;
    // The unusedSlot entries are never called: they hold the places of host operations the library
    // does not use.
    virtual int32_t MP_CALL unusedSlot4() = 0;
    // [processing thread, in processBlock] Writes the number of samples of one host block into the
    // module's integer.
    virtual int32_t MP_CALL queryBlockSize(int32_t* blockSize) = 0;
    virtual int32_t MP_CALL unusedSlot6() = 0;
    // [processing thread, in open] Writes an integer identifying the module instance into the
    // module's integer.
    virtual int32_t MP_CALL queryInstanceHandle(int32_t* handle) = 0;
    virtual int32_t MP_CALL unusedSlot8() = 0;
    virtual int32_t MP_CALL unusedSlot9() = 0;
    virtual int32_t MP_CALL unusedSlot10() = 0;
    virtual int32_t MP_CALL unusedSlot11() = 0;
    virtual int32_t MP_CALL unusedSlot12() = 0;
    virtual int32_t MP_CALL unusedSlot13() = 0;
    // [processing thread, in open] Stores in *memory a block of at least byteSize bytes, the same for
    // every caller passing the same name; *needsInitialising is non-zero when the block is new. The
    // block is the host's and is not reference counted: the module keeps the pointer while it lives
    // and never frees it. name is the module's, valid during the call only.
    virtual int32_t MP_CALL obtainSharedMemory(const wchar_t* name, void** memory, float sampleRate,
                                               int32_t byteSize, int32_t* needsInitialising) = 0;
};

} // namespace gmpi
