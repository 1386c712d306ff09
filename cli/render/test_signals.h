// The program's test signals: the rising sine of the built-in input and the steady sine of the analysis.
#pragma once

#include <cstdint>

#include "cli/audio/audio_buffer.h"

namespace shaperhost {

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
