// The module stage at a multiple of the audio's rate: each channel is resampled up, shaped by its
// module at the higher rate, and resampled back down. The resampler (libsoxr, linear phase) removes its
// own filter delay, so output frame k lines up with input frame k and the output is exactly as long as
// the input.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "cli/render/block_scheduler.h"
#include "cli/render/module_stream.h"
#include "cli/render/render_settings.h"

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

// The resamplers hold some samples back, so push() hands out the frames ready so far and finish() the
// rest. The modules run whole blocks as the upsampled samples fill them, the last partial block at
// finish(). Text changes reach the modules at oversample * their sample.
class OversampledStream final : public ModuleStream {
public:
    OversampledStream(const ModuleLibrary& library, const RenderSettings& settings, int channels, int rate);

    void push(const float* in, int64_t frames, std::vector<float>& out) override;
    void finish(std::vector<float>& out) override;
    RenderReport report() const override;

private:
    // Runs the modules over the upsampled samples there are in whole blocks (with `last`, all of them)
    // and resamples their output down into `pending`.
    void shape(bool last);
    // Appends the frames every channel has ready, interleaved, and keeps the rest.
    void interleaveReady(std::vector<float>& out);

    int channels;
    int64_t piece; // input frames handed to the channels at a time
    BlockScheduler scheduler;
    std::vector<std::unique_ptr<Resampler>> up;
    std::vector<std::unique_ptr<Resampler>> down;
    std::vector<std::vector<float>> fast;    // per channel: upsampled input not yet shaped
    std::vector<std::vector<float>> shaped;  // per channel: module output not yet resampled down
    std::vector<std::vector<float>> pending; // per channel: output not yet handed out
    std::vector<float> channelInput;
    int64_t framesIn = 0;
    int64_t framesOut = 0;
};

} // namespace shaperhost
