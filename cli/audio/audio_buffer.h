// Audio held whole in memory.
#pragma once

#include <cstdint>
#include <vector>

namespace shaperhost {

// Interleaved audio in the host's units (1.0 stands for 10 V).
struct AudioBuffer {
    int channels = 1;
    int sampleRate = 48000;
    std::vector<float> samples;

    int64_t frames() const { return channels > 0 ? static_cast<int64_t>(samples.size()) / channels : 0; }
};

} // namespace shaperhost
