// Runs audio through waveshaper modules block by block, with the events a host sends: the start event
// and the text value in the first block, the input streaming, and text changes at their exact samples.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/module_library.h"
#include "factory/pin_text.h"

namespace shaperhost {

// Interleaved audio in the host's units (1.0 stands for 10 V).
struct AudioBuffer {
    int channels = 1;
    int sampleRate = 48000;
    std::vector<float> samples;

    int64_t frames() const { return channels > 0 ? static_cast<int64_t>(samples.size()) / channels : 0; }
};

// A new text for pin 0, delivered as a pin-value event at this sample of the stream.
struct TextChange {
    int64_t sample = 0;
    PinText text;
};

struct RenderSettings {
    std::string moduleId;
    PinText text;                    // pin 0 at the start
    std::vector<TextChange> changes; // in any order; sorted by sample, equal samples keep their order
    int32_t blockSize = 64;
    // Called after each block with frames done and total.
    std::function<void(int64_t, int64_t)> progress;
};

struct RenderReport {
    int64_t blocks = 0;
    int64_t sleepRequests = 0; // summed over the channel instances
    int64_t textEvents = 0;    // text values delivered, the first one included
};

// One module instance per channel, each with its own host object and shared table.
RenderReport renderThroughModule(const ModuleLibrary& library, const RenderSettings& settings,
                                 const AudioBuffer& input, AudioBuffer& output);

// The module's 513 table entries after it took `text` in a start block.
std::vector<float> readModuleTable(const ModuleLibrary& library, const std::string& moduleId,
                                   const PinText& text);

struct Levels {
    double peak = 0.0; // largest magnitude, sample units
    double rms = 0.0;
};
Levels measureLevels(const AudioBuffer& audio);

// A mono sine whose amplitude rises linearly from 0 to endAmplitude over the whole length.
AudioBuffer risingSine(int sampleRate, double seconds, double frequency, double endAmplitude);
// A mono sine of constant amplitude.
AudioBuffer steadySine(int sampleRate, int64_t frames, double frequency, double amplitude);

void applyGain(AudioBuffer& audio, float gain);

} // namespace shaperhost
