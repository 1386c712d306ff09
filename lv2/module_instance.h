// One processing module run the way a host runs it: created by the factory with createInstance2,
// handed a host stand-in with attachHost, opened, given its two audio buffers, then driven with
// processBlock and event lists. Every call goes through the module's table of operations.
#pragma once

#include <cstdint>
#include <vector>

#include "host/stand_in_processing_host.h"

namespace waveshapers_lv2 {

// The library's factory (its IMpFactory2 face), from MP_GetFactory; null when it offers none.
void* moduleFactory();

class ModuleInstance {
public:
    // Creates module `id` with its own host object on `pool` under `instanceHandle` (modules with one
    // handle share one table) and buffers of blockSize samples. ok() tells whether all of it worked.
    ModuleInstance(void* factory, const wchar_t* id, mphost::SharedMemoryPool& pool, int32_t instanceHandle,
                   int32_t blockSize);
    ~ModuleInstance();
    ModuleInstance(const ModuleInstance&) = delete;
    ModuleInstance& operator=(const ModuleInstance&) = delete;

    bool ok() const { return plugin != nullptr; }
    // Pin 1's and pin 2's buffers, blockSize samples each.
    float* input() { return inputBuffer.data(); }
    const float* output() const { return outputBuffer.data(); }
    int32_t blockSize() const { return static_cast<int32_t>(inputBuffer.size()); }

    // [processing thread] Hands the module other buffers for pins 1 and 2 (a host's own, of at least
    // the next block's length; the module only reads the input), or its own again. Allocates nothing.
    void useBuffers(const float* in, float* out);
    void useOwnBuffers();

    // [processing thread] One block of at most blockSize samples. Allocates nothing.
    void processBlock(int32_t sampleFrames, const gmpi::HostEvent* events);
    int32_t sleepRequests() const { return host.sleepRequests; }

private:
    mphost::ProcessingHost host;
    void* plugin = nullptr; // the IMpPlugin2 face
    bool ownBuffers = true;
    std::vector<float> inputBuffer;
    std::vector<float> outputBuffer;
};

} // namespace waveshapers_lv2
