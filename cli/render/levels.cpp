#include "cli/render/levels.h"

#include <algorithm>
#include <cmath>

namespace shaperhost {

void LevelMeter::add(const float* samples, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const double v = samples[i];
        if (!std::isfinite(v)) {
            ++nonFinite;
            continue;
        }
        peak = std::max(peak, std::fabs(v));
        sum += v * v;
        ++count;
    }
}

Levels LevelMeter::levels() const {
    Levels levels;
    levels.peak = peak;
    levels.nonFinite = nonFinite;
    if (count > 0)
        levels.rms = std::sqrt(sum / static_cast<double>(count));
    return levels;
}

} // namespace shaperhost
