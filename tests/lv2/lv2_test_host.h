// A minimal LV2 host for the plugin's unit tests: it finds the plugins through lv2_descriptor as a
// host does after loading the binary, maps URIs, connects every port to buffers of its own and builds
// the atom sequences of the control port.
#pragma once

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "lv2/ports.h"

namespace lv2test {

class UridMap {
public:
    UridMap();
    LV2_URID map(const std::string& uri);
    LV2_URID_Map* feature() { return &mapFeature; }
    const LV2_Feature* const* features() const { return featureList; }

private:
    static LV2_URID callback(LV2_URID_Map_Handle handle, const char* uri);
    std::map<std::string, LV2_URID> urids;
    LV2_URID_Map mapFeature;
    LV2_Feature mapEntry;
    const LV2_Feature* featureList[2];
};

class TestPlugin {
public:
    static constexpr uint32_t kMaxFrames = 4096;

    // Instantiates `uri` at 48 kHz with the map, connects every port and activates it.
    TestPlugin(const char* uri, UridMap& map);
    ~TestPlugin();
    TestPlugin(const TestPlugin&) = delete;
    TestPlugin& operator=(const TestPlugin&) = delete;

    bool ok() const { return handle != nullptr; }
    waveshapers_lv2::PluginKind kind() const { return pluginKind; }
    int channels() const { return channelCount; }

    float& control(uint32_t port) { return controls[port]; }
    std::vector<float>& input(int channel) { return inputs[static_cast<std::size_t>(channel)]; }
    std::vector<float>& output(int channel) { return outputs[static_cast<std::size_t>(channel)]; }

    // Events for the next run, in frame order.
    void patchSet(int64_t frame, const std::string& text);
    void patchGet(int64_t frame);
    // Any atom as an event body: type and body bytes.
    void rawEvent(int64_t frame, LV2_URID type, const void* body, uint32_t size);
    // The control port's whole buffer, for messages the forge would not make; `size` becomes the
    // sequence's size.
    unsigned char* controlBuffer() { return controlSequence; }
    void setControlSize(uint32_t size) { reinterpret_cast<LV2_Atom*>(controlSequence)->size = size; }

    // Runs `frames` frames and clears the control sequence; the notify port gets `notifyCapacity`.
    void run(uint32_t frames, uint32_t notifyCapacity = sizeof(notifyBuffer) - sizeof(LV2_Atom));
    // The formulas of the patch:Set messages the last run sent on the notify port, in order.
    std::vector<std::string> notifiedFormulas() const;
    // Asks with patch:Get and returns the answer (runs the plugin for one frame of silence).
    std::string formula();

    LV2_State_Status save(std::map<LV2_URID, std::pair<LV2_URID, std::string>>* stored);
    LV2_State_Status restore(const std::map<LV2_URID, std::pair<LV2_URID, std::string>>& stored);

    UridMap& uris;

private:
    // Mapped once: mapping builds a std::string, which would count as an allocation of run's caller.
    LV2_URID patchSetUrid, patchGetUrid, propertyUrid, valueUrid, formulaUrid, stringUrid, sequenceUrid;
    void startSequence();

    const LV2_Descriptor* descriptor = nullptr;
    LV2_Handle handle = nullptr;
    waveshapers_lv2::PluginKind pluginKind = waveshapers_lv2::PluginKind::kCurve;
    int channelCount = 1;
    float controls[64] = {};
    std::vector<std::vector<float>> inputs;
    std::vector<std::vector<float>> outputs;
    alignas(8) unsigned char controlSequence[65536] = {};
    alignas(8) unsigned char notifyBuffer[65536] = {};
    LV2_Atom_Forge forge;
    LV2_Atom_Forge_Frame sequence;
};

} // namespace lv2test
