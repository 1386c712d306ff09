#include "cli/render/module_stream.h"

#include <algorithm>

#include "cli/render/oversampling.h"
#include "cli/render/plain_stream.h"

namespace shaperhost {

namespace {

// Frames per piece of renderAtRate, rounded up to whole blocks: at the audio's rate a piece ends a
// block, so whole-block pieces keep every block at the block size.
constexpr int64_t kPieceFrames = 8192;

} // namespace

std::unique_ptr<ModuleStream> openModuleStream(const ModuleLibrary& library, const RenderSettings& settings,
                                               int channels, int rate) {
    if (settings.oversample == 1)
        return std::make_unique<PlainStream>(library, settings, channels);
    return std::make_unique<OversampledStream>(library, settings, channels, rate);
}

RenderReport renderAtRate(const ModuleLibrary& library, const RenderSettings& settings,
                          const AudioBuffer& input, AudioBuffer& output) {
    const int channels = input.channels;
    const int64_t frames = input.frames();
    output.channels = channels;
    output.sampleRate = input.sampleRate;
    output.samples.clear();
    output.samples.reserve(input.samples.size());
    const std::unique_ptr<ModuleStream> stream =
        openModuleStream(library, settings, channels, input.sampleRate);
    const int64_t piece = (kPieceFrames + settings.blockSize - 1) / settings.blockSize * settings.blockSize;
    int64_t position = 0;
    do {
        const int64_t count = std::min(piece, frames - position);
        stream->push(input.samples.data() + position * channels, count, output.samples);
        position += count;
        if (settings.progress)
            settings.progress(position, frames);
    } while (position < frames);
    stream->finish(output.samples);
    return stream->report();
}

} // namespace shaperhost
