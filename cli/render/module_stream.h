// A render's module stage as one stream: interleaved frames go in piece after piece and the module's
// output comes out, at the audio's rate or oversampled, without the caller knowing which.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "cli/audio/audio_buffer.h"
#include "cli/modules/module_library.h"
#include "cli/render/render_settings.h"

namespace shaperhost {

// Interleaved audio through one module instance per channel. Output frame k lines up with input frame
// k, and in all exactly as many frames come out as went in; a stage that holds samples back (the
// resamplers) hands them out as they become ready, and the rest at finish().
class ModuleStream {
public:
    virtual ~ModuleStream() = default;
    // Takes `frames` interleaved frames; appends the interleaved output frames now ready to `out`.
    virtual void push(const float* in, int64_t frames, std::vector<float>& out) = 0;
    // After the last input: appends the remaining output frames to `out`.
    virtual void finish(std::vector<float>& out) = 0;
    // Blocks and text events of the module stream, sleep requests of all instances.
    virtual RenderReport report() const = 0;
};

// The stream for `settings`: at the audio's rate (`rate` Hz) when settings.oversample is 1, else
// between resamplers at oversample times the rate, with text changes at oversample * their sample.
// `settings` must outlive the stream.
std::unique_ptr<ModuleStream> openModuleStream(const ModuleLibrary& library, const RenderSettings& settings,
                                               int channels, int rate);

// The whole of `input` through openModuleStream, in pieces so progress can be shown between them.
RenderReport renderAtRate(const ModuleLibrary& library, const RenderSettings& settings,
                          const AudioBuffer& input, AudioBuffer& output);

} // namespace shaperhost
