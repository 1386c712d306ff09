#include "cli/render/output_stage.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace shaperhost {

namespace {

constexpr double kPi = 3.14159265358979323846;

} // namespace

void countBeyondTable(const float* samples, std::size_t count, std::vector<int64_t>& counts) {
    for (std::size_t i = 0; i < count; ++i) {
        if (!(std::fabs(samples[i]) <= 0.5f))
            ++counts[i % counts.size()];
    }
}

OutputProcessor::OutputProcessor(const OutputStage& stage, int channels, int sampleRate)
    : stage(stage), channels(channels),
      // y[n] = x[n] - x[n-1] + r y[n-1]: a zero at DC and a pole just inside it, -3 dB near kDcBlockHz.
      pole(std::exp(-2.0 * kPi * kDcBlockHz / sampleRate)),
      previousIn(static_cast<std::size_t>(channels), 0.0),
      previousOut(static_cast<std::size_t>(channels), 0.0) {}

void OutputProcessor::process(const float* dry, float* wet, int64_t frames) {
    const std::size_t count = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels);
    for (std::size_t i = 0; i < count; ++i) {
        double x = wet[i];
        if (stage.mix != 1.0)
            x = stage.mix * x + (1.0 - stage.mix) * dry[i];
        if (stage.dcBlock) {
            const std::size_t c = i % static_cast<std::size_t>(channels);
            const double y = x - previousIn[c] + pole * previousOut[c];
            previousIn[c] = x;
            previousOut[c] = y;
            x = y;
        }
        if (!stage.normalize)
            x *= stage.gain;
        wet[i] = static_cast<float>(x);
    }
}

TpdfDither::TpdfDither(int bits) : step(std::ldexp(1.0, 1 - bits)), random(0x5eed) {}

void TpdfDither::apply(float* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<float>(samples[i] + (uniform(random) + uniform(random)) * step);
}

} // namespace shaperhost
