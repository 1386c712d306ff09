#include "lv2_test_host.h"

#include <lv2/atom/util.h>
#include <lv2/patch/patch.h>

#include <cstring>

#include "lv2/module_defaults.h"

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

namespace lv2test {

using namespace waveshapers_lv2;

UridMap::UridMap() {
    mapFeature.handle = this;
    mapFeature.map = &UridMap::callback;
    mapEntry.URI = LV2_URID__map;
    mapEntry.data = &mapFeature;
    featureList[0] = &mapEntry;
    featureList[1] = nullptr;
}

LV2_URID UridMap::map(const std::string& uri) {
    auto found = urids.find(uri);
    if (found != urids.end())
        return found->second;
    const LV2_URID urid = static_cast<LV2_URID>(urids.size() + 1);
    urids[uri] = urid;
    return urid;
}

LV2_URID UridMap::callback(LV2_URID_Map_Handle handle, const char* uri) {
    return static_cast<UridMap*>(handle)->map(uri);
}

TestPlugin::TestPlugin(const char* uri, UridMap& map)
    : uris(map), patchSetUrid(map.map(LV2_PATCH__Set)), patchGetUrid(map.map(LV2_PATCH__Get)),
      propertyUrid(map.map(LV2_PATCH__property)), valueUrid(map.map(LV2_PATCH__value)),
      formulaUrid(map.map(kFormulaParameterUri)), stringUrid(map.map(LV2_ATOM__String)),
      sequenceUrid(map.map(LV2_ATOM__Sequence)) {
    for (uint32_t i = 0; lv2_descriptor(i) != nullptr; ++i) {
        if (std::strcmp(lv2_descriptor(i)->URI, uri) == 0)
            descriptor = lv2_descriptor(i);
    }
    if (descriptor == nullptr)
        return;
    pluginKind = std::strstr(uri, "#curve") != nullptr ? PluginKind::kCurve : PluginKind::kFormula;
    channelCount = std::strstr(uri, "stereo") != nullptr ? 2 : 1;
    handle = descriptor->instantiate(descriptor, 48000.0, "/tmp", map.features());
    if (handle == nullptr)
        return;
    inputs.assign(static_cast<std::size_t>(channelCount), std::vector<float>(kMaxFrames, 0.0f));
    outputs.assign(static_cast<std::size_t>(channelCount), std::vector<float>(kMaxFrames, 0.0f));
    controls[kPortDrive] = kDriveDefaultDb;
    controls[kPortLevel] = kLevelDefaultDb;
    controls[kPortMix] = kMixDefault;
    controls[kPortOversampling] = 1.0f;
    for (uint32_t p = 0; p < kCommonPortCount; ++p)
        descriptor->connect_port(handle, p, &controls[p]);
    if (pluginKind == PluginKind::kCurve) {
        for (int i = 0; i < kCurvePoints; ++i) {
            controls[kPortX0 + i] = kDefaultPointX[i];
            controls[kPortY0 + i] = kDefaultPointY[i];
            descriptor->connect_port(handle, kPortX0 + static_cast<uint32_t>(i), &controls[kPortX0 + i]);
            descriptor->connect_port(handle, kPortY0 + static_cast<uint32_t>(i), &controls[kPortY0 + i]);
        }
    } else {
        descriptor->connect_port(handle, kPortControl, controlSequence);
        descriptor->connect_port(handle, kPortNotify, notifyBuffer);
    }
    for (int c = 0; c < channelCount; ++c) {
        descriptor->connect_port(handle, audioInPort(pluginKind, c),
                                 inputs[static_cast<std::size_t>(c)].data());
        descriptor->connect_port(handle, audioOutPort(pluginKind, channelCount, c),
                                 outputs[static_cast<std::size_t>(c)].data());
    }
    lv2_atom_forge_init(&forge, map.feature());
    startSequence();
    descriptor->activate(handle);
}

TestPlugin::~TestPlugin() {
    if (handle != nullptr) {
        descriptor->deactivate != nullptr ? descriptor->deactivate(handle) : void();
        descriptor->cleanup(handle);
    }
}

void TestPlugin::startSequence() {
    lv2_atom_forge_set_buffer(&forge, controlSequence, sizeof(controlSequence));
    lv2_atom_forge_sequence_head(&forge, &sequence, 0);
}

void TestPlugin::patchSet(int64_t frame, const std::string& text) {
    LV2_Atom_Forge_Frame object;
    lv2_atom_forge_frame_time(&forge, frame);
    lv2_atom_forge_object(&forge, &object, 0, patchSetUrid);
    lv2_atom_forge_key(&forge, propertyUrid);
    lv2_atom_forge_urid(&forge, formulaUrid);
    lv2_atom_forge_key(&forge, valueUrid);
    lv2_atom_forge_string(&forge, text.data(), static_cast<uint32_t>(text.size()));
    lv2_atom_forge_pop(&forge, &object);
}

void TestPlugin::patchGet(int64_t frame) {
    LV2_Atom_Forge_Frame object;
    lv2_atom_forge_frame_time(&forge, frame);
    lv2_atom_forge_object(&forge, &object, 0, patchGetUrid);
    lv2_atom_forge_key(&forge, propertyUrid);
    lv2_atom_forge_urid(&forge, formulaUrid);
    lv2_atom_forge_pop(&forge, &object);
}

void TestPlugin::rawEvent(int64_t frame, LV2_URID type, const void* body, uint32_t size) {
    lv2_atom_forge_frame_time(&forge, frame);
    lv2_atom_forge_atom(&forge, size, type);
    lv2_atom_forge_write(&forge, body, size);
    lv2_atom_forge_pad(&forge, size);
}

void TestPlugin::run(uint32_t frames, uint32_t notifyCapacity) {
    auto* notify = reinterpret_cast<LV2_Atom*>(notifyBuffer);
    notify->size = notifyCapacity;
    notify->type = 0;
    descriptor->run(handle, frames);
    startSequence();
}

std::vector<std::string> TestPlugin::notifiedFormulas() const {
    std::vector<std::string> found;
    const auto* seq = reinterpret_cast<const LV2_Atom_Sequence*>(notifyBuffer);
    if (pluginKind != PluginKind::kFormula || seq->atom.type != sequenceUrid)
        return found;
    LV2_ATOM_SEQUENCE_FOREACH(seq, event) {
        const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&event->body);
        if (object->body.otype != patchSetUrid)
            continue;
        const LV2_Atom* property = nullptr;
        const LV2_Atom* value = nullptr;
        lv2_atom_object_get(object, propertyUrid, &property, valueUrid, &value, 0);
        if (property == nullptr || value == nullptr || value->type != stringUrid ||
            reinterpret_cast<const LV2_Atom_URID*>(property)->body != formulaUrid)
            continue;
        found.emplace_back(static_cast<const char*>(LV2_ATOM_BODY_CONST(value)));
    }
    return found;
}

std::string TestPlugin::formula() {
    for (auto& in : inputs)
        in[0] = 0.0f;
    patchGet(0);
    run(1);
    const std::vector<std::string> formulas = notifiedFormulas();
    return formulas.empty() ? "(no answer)" : formulas.back();
}

namespace {

using Stored = std::map<LV2_URID, std::pair<LV2_URID, std::string>>;

LV2_State_Status storeValue(LV2_State_Handle handle, uint32_t key, const void* value, size_t size,
                            uint32_t type, uint32_t) {
    (*static_cast<Stored*>(handle))[key] = {type, std::string(static_cast<const char*>(value), size)};
    return LV2_STATE_SUCCESS;
}

const void* retrieveValue(LV2_State_Handle handle, uint32_t key, size_t* size, uint32_t* type,
                          uint32_t* flags) {
    const Stored& stored = *static_cast<const Stored*>(handle);
    auto found = stored.find(key);
    if (found == stored.end())
        return nullptr;
    *size = found->second.second.size();
    *type = found->second.first;
    *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    return found->second.second.data();
}

} // namespace

LV2_State_Status TestPlugin::save(Stored* stored) {
    const auto* state =
        static_cast<const LV2_State_Interface*>(descriptor->extension_data(LV2_STATE__interface));
    if (state == nullptr)
        return LV2_STATE_ERR_NO_FEATURE;
    return state->save(handle, storeValue, stored, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, nullptr);
}

LV2_State_Status TestPlugin::restore(const Stored& stored) {
    const auto* state =
        static_cast<const LV2_State_Interface*>(descriptor->extension_data(LV2_STATE__interface));
    if (state == nullptr)
        return LV2_STATE_ERR_NO_FEATURE;
    return state->restore(handle, retrieveValue, const_cast<Stored*>(&stored), 0, nullptr);
}

} // namespace lv2test
