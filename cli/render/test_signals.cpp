#include "cli/render/test_signals.h"

#include <cmath>

namespace shaperhost {

namespace {

constexpr double kPi = 3.14159265358979323846;

} // namespace

void RisingSine::fill(float* out, int64_t first, int64_t count) const {
    for (int64_t i = 0; i < count; ++i) {
        const int64_t n = first + i;
        const double level = endAmplitude * static_cast<double>(n) / static_cast<double>(frames);
        const double phase = 2.0 * kPi * frequency * static_cast<double>(n) / sampleRate;
        out[i] = static_cast<float>(level * std::sin(phase));
    }
}

AudioBuffer risingSine(int sampleRate, double seconds, double frequency, double endAmplitude) {
    AudioBuffer audio;
    audio.channels = 1;
    audio.sampleRate = sampleRate;
    const RisingSine sine{sampleRate, static_cast<int64_t>(std::llround(seconds * sampleRate)), frequency,
                          endAmplitude};
    audio.samples.resize(static_cast<std::size_t>(sine.frames));
    sine.fill(audio.samples.data(), 0, sine.frames);
    return audio;
}

AudioBuffer steadySine(int sampleRate, int64_t frames, double frequency, double amplitude) {
    AudioBuffer audio;
    audio.channels = 1;
    audio.sampleRate = sampleRate;
    audio.samples.resize(static_cast<std::size_t>(frames));
    for (int64_t n = 0; n < frames; ++n) {
        const double phase = 2.0 * kPi * frequency * static_cast<double>(n) / sampleRate;
        audio.samples[static_cast<std::size_t>(n)] = static_cast<float>(amplitude * std::sin(phase));
    }
    return audio;
}

} // namespace shaperhost
