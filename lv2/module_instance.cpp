#include "lv2/module_instance.h"

#include "factory/abi.h"
#include "factory/interface_id.h"
#include "factory/result_codes.h"
#include "host/raw_calls.h"

// The library's entry point, linked into the plugin binary with the module objects.
MP_EXPORT int32_t MP_CALL MP_GetFactory(void** factory);

namespace waveshapers_lv2 {

namespace raw = mphost::raw;

void* moduleFactory() {
    void* unknown = nullptr;
    if (MP_GetFactory(&unknown) != gmpi::kResultOk || unknown == nullptr)
        return nullptr;
    void* second = nullptr;
    const int32_t result = raw::queryInterface(unknown, gmpi::kIidFactory2, &second);
    raw::release(unknown);
    return result == gmpi::kResultOk ? second : nullptr;
}

ModuleInstance::ModuleInstance(void* factory, const wchar_t* id, mphost::SharedMemoryPool& pool,
                               int32_t instanceHandle, int32_t blockSize)
    : host(pool, instanceHandle, blockSize), inputBuffer(static_cast<std::size_t>(blockSize), 0.0f),
      outputBuffer(static_cast<std::size_t>(blockSize), 0.0f) {
    // Only the sleep count is kept: a log would grow on the processing thread.
    host.logging = false;
    if (factory == nullptr)
        return;
    void* object = nullptr;
    if (raw::createInstance2(factory, id, 0, &object) != gmpi::kResultOk || object == nullptr) {
        if (object != nullptr)
            raw::release(object);
        return;
    }
    void* face = nullptr;
    const int32_t result = raw::queryInterface(object, gmpi::kIidPlugin2, &face);
    raw::release(object);
    if (result != gmpi::kResultOk || face == nullptr)
        return;
    if (raw::plugin2::attachHost(face, static_cast<gmpi::IMpUnknown*>(&host)) != gmpi::kResultOk ||
        raw::plugin2::open(face) != gmpi::kResultOk) {
        raw::release(face);
        return;
    }
    raw::plugin2::assignPinBuffer(face, 1, inputBuffer.data());
    raw::plugin2::assignPinBuffer(face, 2, outputBuffer.data());
    plugin = face;
}

ModuleInstance::~ModuleInstance() {
    if (plugin != nullptr)
        raw::release(plugin);
}

void ModuleInstance::useBuffers(const float* in, float* out) {
    // The input pin's buffer is declared writable in the contract, but the module only reads it.
    raw::plugin2::assignPinBuffer(plugin, 1, const_cast<float*>(in));
    raw::plugin2::assignPinBuffer(plugin, 2, out);
    ownBuffers = false;
}

void ModuleInstance::useOwnBuffers() {
    if (ownBuffers)
        return;
    raw::plugin2::assignPinBuffer(plugin, 1, inputBuffer.data());
    raw::plugin2::assignPinBuffer(plugin, 2, outputBuffer.data());
    ownBuffers = true;
}

void ModuleInstance::processBlock(int32_t sampleFrames, const gmpi::HostEvent* events) {
    raw::plugin2::processBlock(plugin, sampleFrames, events);
}

} // namespace waveshapers_lv2
