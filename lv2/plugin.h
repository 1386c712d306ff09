// One instance of a waveshaper plugin: the curve or the formula module, once per channel, run through
// the library's binary contract with a host stand-in, with drive, level, dry/wet mix and oversampling
// around it. The LV2 entry points (descriptor.cpp) forward to this class.
//
// Threads, as LV2 defines them: the constructor, activate and restore run in the instantiation class
// (never at the same time as run); run on the audio thread; save on any thread, possibly while run
// runs. run allocates nothing, takes no lock and does no input or output.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include "host/event_list.h"
#include "host/stand_in_processing_host.h"
#include "lv2/module_instance.h"
#include "lv2/oversampler.h"
#include "lv2/plugin_text.h"
#include "lv2/ports.h"

namespace waveshapers_lv2 {

// The longest formula taken, in UTF-8 bytes; longer texts are ignored. The module evaluates at most
// 499 characters, so this leaves room for anything a user would write, and more.
constexpr std::size_t kMaxFormulaBytes = 4096;

// The formula text for save(), which may run while run() changes it: a sequence count that is odd
// while the text is written, and the text in atomic words, read again when the count moved.
class PublishedText {
public:
    // [audio thread or instantiation] Copies bytes[0..count) in.
    void publish(const char* bytes, std::size_t count);
    // [any thread] Copies the text out, terminated; returns its length.
    std::size_t read(char (&out)[kMaxFormulaBytes + 1]) const;

private:
    static constexpr std::size_t kWords = (kMaxFormulaBytes + 7) / 8;
    std::atomic<uint32_t> sequence{0};
    std::atomic<uint32_t> length{0};
    std::atomic<uint64_t> words[kWords] = {};
};

class Plugin {
public:
    // Null when a required feature (urid:map for the formula plugins) is missing or the modules cannot
    // be created.
    static Plugin* create(PluginKind kind, int channels, double sampleRate,
                          const LV2_Feature* const* features);
    ~Plugin();

    void connectPort(uint32_t port, void* data);
    void activate();
    void run(uint32_t frames);

    LV2_State_Status save(LV2_State_Store_Function store, LV2_State_Handle handle);
    LV2_State_Status restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle);

    // The formula the modules have now (or get with the next block), as UTF-8.
    std::size_t formula(char (&out)[kMaxFormulaBytes + 1]) const { return published.read(out); }

private:
    Plugin(PluginKind kind, int channels, double sampleRate, LV2_URID_Map* map);
    bool ready() const;

    struct Uris {
        LV2_URID atomString = 0;
        LV2_URID atomUrid = 0;
        LV2_URID atomObject = 0;
        LV2_URID atomBlank = 0;
        LV2_URID atomSequence = 0;
        LV2_URID atomFrameTime = 0;
        LV2_URID patchSet = 0;
        LV2_URID patchGet = 0;
        LV2_URID patchProperty = 0;
        LV2_URID patchValue = 0;
        LV2_URID formula = 0;
    };

    // Takes a formula from UTF-8 if it is well-formed and fits: it reaches the modules with the next
    // block. False leaves everything as it was.
    bool takeFormula(const char* utf8, std::size_t bytes);
    void readCurvePoints();
    void readControls();
    void handleMessage(const LV2_Atom* body, std::size_t bodySize, int64_t frame);
    void notifyFormula(int64_t frame);
    void processFrames(uint32_t first, uint32_t count);
    void processChunk(uint32_t first, int count);

    const PluginKind kind;
    const int channels;
    const double sampleRate;
    Uris uris;
    LV2_Atom_Forge forge;
    LV2_Atom_Forge_Frame notifyFrame = {};
    bool notifyOpen = false;

    // Ports.
    float* controls[kCommonPortCount] = {};
    const float* pointX[kCurvePoints] = {};
    const float* pointY[kCurvePoints] = {};
    const LV2_Atom_Sequence* controlPort = nullptr;
    LV2_Atom_Sequence* notifyPort = nullptr;
    const float* audioIn[2] = {};
    float* audioOut[2] = {};

    // The modules: one per channel, sharing one table through the pool under one instance handle.
    mphost::SharedMemoryPool pool;
    std::unique_ptr<ModuleInstance> modules[2];
    mphost::FixedEventList events;

    // The text that reaches the modules with the next block, when pending.
    bool textPending = false;
    char16_t text[kMaxFormulaBytes] = {};
    std::size_t textUnits = 0;
    // The formula now in force (audio thread's copy) and the copy save() reads.
    char formulaUtf8[kMaxFormulaBytes + 1] = {};
    std::size_t formulaBytes = 0;
    PublishedText published;
    bool formulaToNotify = false;
    // The curve points last sent, in volts.
    float appliedX[kCurvePoints] = {};
    float appliedY[kCurvePoints] = {};
    bool curveSent = false;

    // Around the modules.
    Oversampler oversamplers[2];
    int factor = 1;
    static constexpr int kMaxLatency = 64;
    float dryLine[2][kMaxLatency + Oversampler::kMaxFrames] = {};
    float driveTarget = 1.0f, levelTarget = 1.0f, mixTarget = 1.0f;
    float driveGain = 1.0f, levelGain = 1.0f, mixGain = 1.0f;
    bool snapGains = true;
};

} // namespace waveshapers_lv2
