// A host for reliability runs: creates processing modules through the factory and drives them only
// through their interface tables, as a host written in C would, with audio buffers fenced by guard
// zones and table blocks whose spare bytes are checked after every call. Shared by the tests, the soak
// program and the fuzz targets.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "factory/host_event.h"
#include "factory/interface_id.h"
#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "factory/pin_text.h"
#include "factory/result_codes.h"
#include "host/raw_calls.h"
#include "host/stand_in_processing_host.h"
#include "waveshaper/table_layout.h"

namespace rig {

// The shared-memory name the modules ask for: "DV waveshaper3 %x curve".
inline std::wstring tableName(uint32_t handle) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring hex;
    do {
        hex.insert(hex.begin(), digits[handle & 0xFu]);
        handle >>= 4;
    } while (handle != 0);
    return L"DV waveshaper3 " + hex + L" curve";
}

inline uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline bool sameBits(float a, float b) {
    return bitsOf(a) == bitsOf(b);
}

inline bool isSubnormal(float value) {
    return std::fpclassify(value) == FP_SUBNORMAL;
}

// A sample buffer with guard zones on both sides, filled with a pattern no module writes (a NaN with
// a payload). The module gets the address of the first sample inside.
class GuardedBuffer {
public:
    static constexpr std::size_t kGuard = 64;
    static constexpr uint32_t kGuardBits = 0x7FA5A5A5u;

    explicit GuardedBuffer(std::size_t frames) : frames(frames), storage(frames + 2 * kGuard) {
        float guard;
        const uint32_t bits = kGuardBits;
        std::memcpy(&guard, &bits, sizeof guard);
        for (float& sample : storage)
            sample = guard;
    }
    float* data() { return storage.data() + kGuard; }
    const float* data() const { return storage.data() + kGuard; }
    std::size_t size() const { return frames; }
    bool guardsIntact() const {
        for (std::size_t i = 0; i < kGuard; ++i) {
            if (bitsOf(storage[i]) != kGuardBits || bitsOf(storage[kGuard + frames + i]) != kGuardBits)
                return false;
        }
        return true;
    }

private:
    std::size_t frames;
    std::vector<float> storage;
};

// One processing module object, reached through its IMpPlugin2 table, with its own host stand-in.
class Module {
public:
    Module(const wchar_t* id, mphost::SharedMemoryPool& pool, int32_t handle, int32_t blockSize = 64)
        : host(pool, handle, blockSize), pool(pool), handle(handle) {
        host.logging = false;
        void* unknown = nullptr;
        if (MpFactory::instance()->createInstance2(id, kProcessingModule, &unknown) != gmpi::kResultOk ||
            unknown == nullptr)
            return;
        if (mphost::raw::queryInterface(unknown, gmpi::kIidPlugin2, &plugin) != gmpi::kResultOk)
            plugin = nullptr;
        mphost::raw::release(unknown); // the IMpPlugin2 reference now holds the object
    }
    ~Module() {
        if (plugin != nullptr)
            mphost::raw::release(plugin);
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    bool valid() const { return plugin != nullptr; }

    // attachHost, open, and the two audio buffers when given.
    bool start(float* in, float* out) {
        if (plugin == nullptr)
            return false;
        mphost::raw::plugin2::attachHost(plugin, static_cast<gmpi::IMpUnknown*>(&host));
        mphost::raw::plugin2::open(plugin);
        if (in != nullptr)
            mphost::raw::plugin2::assignPinBuffer(plugin, kWaveshaperAudioInPin, in);
        if (out != nullptr)
            mphost::raw::plugin2::assignPinBuffer(plugin, kWaveshaperAudioOutPin, out);
        return true;
    }
    void assign(int32_t pin, float* buffer) { mphost::raw::plugin2::assignPinBuffer(plugin, pin, buffer); }
    int32_t process(int32_t frames, const gmpi::HostEvent* events) {
        return mphost::raw::plugin2::processBlock(plugin, frames, events);
    }
    // The module's table block as the host holds it, or null before open.
    float* table() const { return static_cast<float*>(pool.find(tableName(static_cast<uint32_t>(handle)))); }

    mphost::ProcessingHost host;
    void* plugin = nullptr;

private:
    mphost::SharedMemoryPool& pool;
    int32_t handle;
};

// The bytes of a table block past its 513 entries: the 514th float and the pool's spare room must keep
// the pool's fill byte, since no module may write there.
inline bool blockTailIntact(const float* table, unsigned char fill) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(table);
    for (int32_t i = kTableEntries * 4; i < kTableBytes; ++i) {
        if (bytes[i] != fill)
            return false;
    }
    return true;
}

inline bool allFinite(const float* table) {
    for (int i = 0; i < kTableEntries; ++i) {
        if (!std::isfinite(table[i]))
            return false;
    }
    return true;
}

// True when value is bit for bit one of the table entries.
inline bool isTableEntry(const float* table, float value) {
    for (int i = 0; i < kTableEntries; ++i) {
        if (sameBits(table[i], value))
            return true;
    }
    return false;
}

// A processed sample is acceptable when finite, or when it is a copy of a table entry (a table holding
// a non-finite entry hands it on unchanged).
inline bool acceptableSample(const float* table, float value) {
    return std::isfinite(value) || (table != nullptr && isTableEntry(table, value));
}

// Small deterministic generator (xorshift64*), so every run of a test sees the same sequence.
class Random {
public:
    explicit Random(uint64_t seed) : state(seed != 0 ? seed : 0x9E3779B97F4A7C15ull) {}
    uint64_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }
    // 0 .. bound-1
    uint32_t below(uint32_t bound) { return bound == 0 ? 0 : static_cast<uint32_t>(next() % bound); }
    bool chance(uint32_t oneIn) { return below(oneIn) == 0; }
    // Uniform in [-1, 1).
    float unit() { return static_cast<float>(static_cast<double>(next() >> 11) * 0x1.0p-52 - 1.0); }
    float anyBits() {
        const uint32_t bits = static_cast<uint32_t>(next());
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    uint64_t state;
};

} // namespace rig
