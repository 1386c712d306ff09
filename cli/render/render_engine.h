// What a render through waveshaper modules is made of: the audio, the settings (module, text, text
// changes at their samples, block size, oversampling) and the counts it reports; the module's table,
// the level meter and the test signals.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/modules/module_library.h"
#include "factory/pin_text.h"

namespace shaperhost {

// Instance handles of the channel modules of a render, plain or oversampled: channel c runs under
// kFirstInstanceHandle + c, so each channel has a table of its own.
constexpr int32_t kFirstInstanceHandle = 0x51;

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

// The resampler's quality when a module runs oversampled.
enum class ResamplerQuality { High, VeryHigh };

struct RenderSettings {
    std::string moduleId;
    PinText text;                    // pin 0 at the start
    std::vector<TextChange> changes; // in any order; sorted by sample, equal samples keep their order
    int32_t blockSize = 64;          // at the module's rate
    int oversample = 1;              // the module runs at this multiple of the audio's rate
    ResamplerQuality quality = ResamplerQuality::VeryHigh;
    // Called after each block with frames done and total.
    std::function<void(int64_t, int64_t)> progress;
};

struct RenderReport {
    int64_t blocks = 0;
    int64_t sleepRequests = 0; // summed over the channel instances
    int64_t textEvents = 0;    // text values delivered, the first one included
};

// The module's 513 table entries after it took `text` in a start block.
std::vector<float> readModuleTable(const ModuleLibrary& library, const std::string& moduleId,
                                   const PinText& text);

struct Levels {
    double peak = 0.0; // largest magnitude, sample units
    double rms = 0.0;
    int64_t nonFinite = 0; // NaN and infinite samples, left out of peak and RMS
};

// Levels summed up chunk after chunk.
class LevelMeter {
public:
    void add(const float* samples, std::size_t count);
    Levels levels() const;

private:
    double peak = 0.0;
    double sum = 0.0;
    std::size_t count = 0;
    int64_t nonFinite = 0;
};

// The rising sine of risingSine, produced in pieces: frames first..first+count-1 of it.
struct RisingSine {
    int sampleRate = 48000;
    int64_t frames = 0;
    double frequency = 220.0;
    double endAmplitude = 0.5;
    void fill(float* out, int64_t first, int64_t count) const;
};

// A mono sine whose amplitude rises linearly from 0 to endAmplitude over the whole length.
AudioBuffer risingSine(int sampleRate, double seconds, double frequency, double endAmplitude);
// A mono sine of constant amplitude.
AudioBuffer steadySine(int sampleRate, int64_t frames, double frequency, double amplitude);

} // namespace shaperhost
