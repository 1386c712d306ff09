// The LV2 entry point: four descriptors, one per plugin, forwarding to Plugin. The binary exports
// lv2_descriptor and nothing else.
#include <cstdint>
#include <cstring>

#include <lv2/core/lv2.h>
#include <lv2/state/state.h>

#include "lv2/plugin.h"
#include "lv2/ports.h"

namespace waveshapers_lv2 {

namespace {

Plugin* self(LV2_Handle handle) {
    return static_cast<Plugin*>(handle);
}

template <PluginKind kind, int channels>
LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features) {
    try {
        return Plugin::create(kind, channels, rate, features);
    } catch (...) {
        // Out of memory: no instance, as the host is told by a null handle.
        return nullptr;
    }
}

void connectPort(LV2_Handle handle, uint32_t port, void* data) {
    self(handle)->connectPort(port, data);
}

void activate(LV2_Handle handle) {
    self(handle)->activate();
}

void run(LV2_Handle handle, uint32_t frames) {
    self(handle)->run(frames);
}

void cleanup(LV2_Handle handle) {
    delete self(handle);
}

LV2_State_Status save(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state, uint32_t,
                      const LV2_Feature* const*) {
    return self(handle)->save(store, state);
}

LV2_State_Status restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve, LV2_State_Handle state,
                         uint32_t, const LV2_Feature* const*) {
    return self(handle)->restore(retrieve, state);
}

const LV2_State_Interface kStateInterface = {save, restore};

const void* curveExtensionData(const char*) {
    return nullptr;
}

const void* formulaExtensionData(const char* uri) {
    return std::strcmp(uri, LV2_STATE__interface) == 0 ? &kStateInterface : nullptr;
}

const LV2_Descriptor kDescriptors[] = {
    {WAVESHAPERS_LV2_CURVE_MONO_URI, instantiate<PluginKind::kCurve, 1>, connectPort, activate, run, nullptr,
     cleanup, curveExtensionData},
    {WAVESHAPERS_LV2_CURVE_STEREO_URI, instantiate<PluginKind::kCurve, 2>, connectPort, activate, run,
     nullptr, cleanup, curveExtensionData},
    {WAVESHAPERS_LV2_FORMULA_MONO_URI, instantiate<PluginKind::kFormula, 1>, connectPort, activate, run,
     nullptr, cleanup, formulaExtensionData},
    {WAVESHAPERS_LV2_FORMULA_STEREO_URI, instantiate<PluginKind::kFormula, 2>, connectPort, activate, run,
     nullptr, cleanup, formulaExtensionData},
};

} // namespace

} // namespace waveshapers_lv2

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    using waveshapers_lv2::kDescriptors;
    return index < sizeof(kDescriptors) / sizeof(kDescriptors[0]) ? &kDescriptors[index] : nullptr;
}
