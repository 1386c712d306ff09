#include "cli/render/plain_stream.h"

namespace shaperhost {

PlainStream::PlainStream(const ModuleLibrary& library, const RenderSettings& settings, int channels)
    : scheduler(library, settings, channels, settings.changes) {}

void PlainStream::push(const float* in, int64_t frames, std::vector<float>& out) {
    if (frames == 0) {
        scheduler.startIfIdle();
        return;
    }
    const std::size_t channels = static_cast<std::size_t>(scheduler.channels());
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(frames) * channels);
    float* const result = out.data() + start;
    scheduler.run(
        frames, false,
        [in, channels](int c, int64_t frame, int32_t count, float* moduleIn) {
            const float* from = in + static_cast<std::size_t>(frame) * channels + static_cast<std::size_t>(c);
            for (int32_t n = 0; n < count; ++n)
                moduleIn[n] = from[static_cast<std::size_t>(n) * channels];
        },
        [result, channels](int c, int64_t frame, int32_t count, const float* moduleOut) {
            float* to = result + static_cast<std::size_t>(frame) * channels + static_cast<std::size_t>(c);
            for (int32_t n = 0; n < count; ++n)
                to[static_cast<std::size_t>(n) * channels] = moduleOut[n];
        });
}

void PlainStream::finish(std::vector<float>&) {
    scheduler.startIfIdle();
}

RenderReport PlainStream::report() const {
    return scheduler.report();
}

} // namespace shaperhost
