// Peak and RMS levels of what passes through a render.
#pragma once

#include <cstddef>
#include <cstdint>

namespace shaperhost {

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

} // namespace shaperhost
