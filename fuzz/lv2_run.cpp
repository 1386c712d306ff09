// The formula plugins' run() under arbitrary control messages: the input (after its first byte) is
// the body of the control port's atom sequence, so events, objects and properties can claim any
// sizes, types, keys and frame times. The sequence lies in a buffer of exactly its size, so a read
// past it is caught by the address sanitizer. The first byte chooses the plugin, the oversampling
// factor, the frames and the notify port's capacity. The URIDs are small numbers, assigned in the
// order the plugin maps its URIs, which the fuzzer finds quickly.
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "lv2/ports.h"

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

namespace {

using namespace waveshapers_lv2;

std::map<std::string, LV2_URID> urids;

LV2_URID mapUri(LV2_URID_Map_Handle, const char* uri) {
    auto found = urids.find(uri);
    if (found != urids.end())
        return found->second;
    const LV2_URID urid = static_cast<LV2_URID>(urids.size() + 1);
    urids[uri] = urid;
    return urid;
}

LV2_URID_Map mapFeature = {nullptr, mapUri};
const LV2_Feature mapEntry = {LV2_URID__map, &mapFeature};
const LV2_Feature* const features[] = {&mapEntry, nullptr};

constexpr uint32_t kMaxFrames = 1100;

// One instance per plugin for the whole run, as a host keeps a plugin across many cycles.
struct Session {
    const LV2_Descriptor* descriptor = nullptr;
    LV2_Handle handle = nullptr;
    int channels = 1;
    float controls[kCommonPortCount] = {0.0f, 0.0f, 100.0f, 1.0f, 0.0f};
    std::vector<float> in[2];
    std::vector<float> out[2];
    alignas(8) unsigned char notify[65536] = {};

    explicit Session(uint32_t index) {
        descriptor = lv2_descriptor(index);
        channels = index == 3 ? 2 : 1;
        handle = descriptor->instantiate(descriptor, 48000.0, "/tmp", features);
        if (handle == nullptr) {
            std::fprintf(stderr, "lv2_run fuzz: no instance\n");
            std::abort();
        }
        for (uint32_t p = 0; p < kCommonPortCount; ++p)
            descriptor->connect_port(handle, p, &controls[p]);
        descriptor->connect_port(handle, kPortNotify, notify);
        for (int c = 0; c < channels; ++c) {
            in[c].assign(kMaxFrames, 0.0f);
            out[c].assign(kMaxFrames, 0.0f);
            for (uint32_t n = 0; n < kMaxFrames; ++n)
                in[c][n] = 0.6f * std::sin(0.01f * static_cast<float>(n) * static_cast<float>(c + 1));
            descriptor->connect_port(handle, audioInPort(PluginKind::kFormula, c), in[c].data());
            descriptor->connect_port(handle, audioOutPort(PluginKind::kFormula, channels, c), out[c].data());
        }
        descriptor->activate(handle);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Session mono(2);
    static Session stereo(3);
    if (size == 0)
        return 0;
    const uint8_t choice = data[0];
    Session& session = (choice & 1) != 0 ? stereo : mono;
    const int factors[4] = {1, 2, 4, 8};
    session.controls[kPortOversampling] = static_cast<float>(factors[(choice >> 1) & 3]);
    // Mostly short runs (fast), sometimes more than one of the plugin's 512-frame chunks.
    const uint32_t frames = (choice & 8) != 0 ? kMaxFrames : 1 + ((choice >> 4) & 7) * 37;
    const uint32_t notifyCapacity = (choice & 0x80) != 0 ? 24 : sizeof(session.notify) - sizeof(LV2_Atom);

    // The sequence: its header, then the input as its body, in an allocation of exactly that size.
    const std::size_t body = size - 1;
    std::vector<unsigned char> exact(sizeof(LV2_Atom) + body);
    const LV2_Atom header = {static_cast<uint32_t>(body), mapUri(nullptr, LV2_ATOM__Sequence)};
    std::memcpy(exact.data(), &header, sizeof(header));
    std::memcpy(exact.data() + sizeof(header), data + 1, body);
    unsigned char* sequence = exact.data();
    // A sequence body shorter than its own header is no sequence a host sends; the plugin still gets
    // it, and must not read past it.
    session.descriptor->connect_port(session.handle, kPortControl, sequence);
    reinterpret_cast<LV2_Atom*>(session.notify)->size = notifyCapacity;
    reinterpret_cast<LV2_Atom*>(session.notify)->type = 0;
    session.descriptor->run(session.handle, frames);
    session.descriptor->connect_port(session.handle, kPortControl, nullptr);
    return 0;
}
