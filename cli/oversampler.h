// Running a module at a multiple of the audio's rate: each channel is resampled up, shaped by its own
// module instance at the higher rate, and resampled back down. The resampler (libsoxr, linear phase)
// removes its own filter delay, so output sample k lines up with input sample k and the output is
// exactly as long as the input.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "cli/render_engine.h"

namespace shaperhost {

// The factors --oversample accepts.
bool isOversampleFactor(int factor);

// One channel's rate converter from inputRate to outputRate, fed in pieces of any size.
class Resampler {
public:
    Resampler(double inputRate, double outputRate, ResamplerQuality quality);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Appends to `out` whatever output the samples make available.
    void process(const float* in, std::size_t count, std::vector<float>& out);
    // Appends the rest of the output after the last input.
    void finish(std::vector<float>& out);

private:
    struct State;
    std::unique_ptr<State> state;
    double ratio;
};

// Interleaved audio through one module instance per channel at settings.oversample times the audio's
// rate, fed piece after piece so a long stream never sits in memory whole. The resamplers hold some
// samples back, so the output comes out as it becomes ready: push() appends the frames ready so far and
// finish() the rest; in all, exactly as many frames as went in, frame k aligned with input frame k.
class OversampledStream {
public:
    // `settings` must outlive the stream. Text changes reach the module at oversample * their sample.
    OversampledStream(const ModuleLibrary& library, const RenderSettings& settings, int channels,
                      double rate);
    ~OversampledStream();
    OversampledStream(const OversampledStream&) = delete;
    OversampledStream& operator=(const OversampledStream&) = delete;

    // Takes `frames` interleaved frames; appends the interleaved output frames now ready to `out`.
    void push(const float* in, int64_t frames, std::vector<float>& out);
    // After the last input: appends the remaining output frames to `out`.
    void finish(std::vector<float>& out);
    // Blocks and text events of one channel's module, sleep requests of all.
    RenderReport report() const;

private:
    struct State;
    std::unique_ptr<State> state;
};

// renderThroughModule when settings.oversample is 1, else renderOversampled.
RenderReport renderAtRate(const ModuleLibrary& library, const RenderSettings& settings,
                          const AudioBuffer& input, AudioBuffer& output);

// renderThroughModule at settings.oversample times the input's rate: text changes reach the module at
// sample oversample * s; blocks of settings.blockSize samples at the module's rate.
RenderReport renderOversampled(const ModuleLibrary& library, const RenderSettings& settings,
                               const AudioBuffer& input, AudioBuffer& output);

} // namespace shaperhost
