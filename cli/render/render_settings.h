// What a render through waveshaper modules is asked to do (module, text, text changes at their samples,
// block size, oversampling) and the counts it reports.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "factory/pin_text.h"

namespace shaperhost {

// Instance handles of the channel modules of a render, plain or oversampled: channel c runs under
// kFirstInstanceHandle + c, so each channel has a table of its own.
constexpr int32_t kFirstInstanceHandle = 0x51;

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
    // renderAtRate calls it after each piece with the frames done and the total.
    std::function<void(int64_t, int64_t)> progress;
};

struct RenderReport {
    int64_t blocks = 0;
    int64_t sleepRequests = 0; // summed over the channel instances
    int64_t textEvents = 0;    // text values delivered, the first one included
};

} // namespace shaperhost
