#include "lv2/oversampler.h"

#include <cmath>
#include <cstring>

namespace waveshapers_lv2 {

namespace {

// Half-taps per stage: the first stage's transition band lies just above the base rate's half, the
// later ones have ever more room. About 90 dB stop-band attenuation each.
constexpr int kStageHalfTaps[3] = {24, 7, 5};
constexpr double kKaiserBeta = 9.0;
constexpr double kPi = 3.14159265358979323846;

// Zeroth-order modified Bessel function of the first kind, by its series.
double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17)
            break;
    }
    return sum;
}

HalfBandTaps designHalfBand(int k) {
    HalfBandTaps taps;
    taps.k = k;
    const int length = 4 * k - 1;
    const int centre = 2 * k - 1;
    double outer[2 * HalfBandTaps::kMaxHalfTaps];
    double sum = 0.0;
    for (int j = 0; j < 2 * k; ++j) {
        const int i = 2 * j;
        const double t = i - centre; // odd
        const double sinc = std::sin(kPi * t / 2.0) / (kPi * t);
        const double r = 2.0 * i / (length - 1) - 1.0;
        const double window = besselI0(kKaiserBeta * std::sqrt(1.0 - r * r)) / besselI0(kKaiserBeta);
        outer[j] = sinc * window;
        sum += outer[j];
    }
    // The outer taps sum to 1/2, the centre tap's share: unity gain at DC.
    for (int j = 0; j < 2 * k; ++j)
        taps.outer[j] = static_cast<float>(outer[j] * 0.5 / sum);
    return taps;
}

struct AllTaps {
    HalfBandTaps stage[3];
    AllTaps() {
        for (int s = 0; s < 3; ++s)
            stage[s] = designHalfBand(kStageHalfTaps[s]);
    }
};

int stageCount(int factor) {
    return factor == 8 ? 3 : factor == 4 ? 2 : factor == 2 ? 1 : 0;
}

// Delay of up and down through `stages` stages, in samples at the top rate.
int topRateDelay(int stages) {
    int delay = 0;
    for (int s = 0; s < stages; ++s) {
        const int centre = 2 * kStageHalfTaps[s] - 1;
        delay += 2 * centre * (1 << (stages - 1 - s));
    }
    return delay;
}

} // namespace

const HalfBandTaps& halfBandTaps(int stage) {
    static const AllTaps taps;
    return taps.stage[stage];
}

// ---- up ----

int HalfBandUp::delay() const {
    return 2 * taps->k - 1;
}

void HalfBandUp::setTaps(const HalfBandTaps* newTaps) {
    taps = newTaps;
    reset();
}

void HalfBandUp::reset() {
    std::memset(buffer, 0, sizeof(buffer));
}

void HalfBandUp::process(const float* in, int n, float* out) {
    const int k = taps->k;
    const int history = 2 * k - 1;
    std::memcpy(buffer + history, in, sizeof(float) * static_cast<std::size_t>(n));
    // Even outputs: the outer taps over the inputs; odd outputs: the centre tap, a delayed input.
    // Two taps at a time over the whole block (2k is even), so the inner loop runs over independent
    // outputs and vectorises.
    float even[kCapacity];
    for (int i = 0; i < n; ++i)
        even[i] = 0.0f;
    for (int t = 0; t < 2 * k; t += 2) {
        const float g0 = 2.0f * taps->outer[t];
        const float g1 = 2.0f * taps->outer[t + 1];
        const float* b = buffer + t;
        for (int i = 0; i < n; ++i)
            even[i] += g0 * b[i] + g1 * b[i + 1];
    }
    for (int i = 0; i < n; ++i) {
        out[2 * i] = even[i];
        out[2 * i + 1] = buffer[i + k];
    }
    std::memmove(buffer, buffer + n, sizeof(float) * static_cast<std::size_t>(history));
}

// ---- down ----

int HalfBandDown::delay() const {
    return 2 * taps->k - 1;
}

void HalfBandDown::setTaps(const HalfBandTaps* newTaps) {
    taps = newTaps;
    reset();
}

void HalfBandDown::reset() {
    std::memset(even, 0, sizeof(even));
    std::memset(odd, 0, sizeof(odd));
}

void HalfBandDown::process(const float* in, int n, float* out) {
    const int k = taps->k;
    const int evenHistory = 2 * k - 1;
    const int oddHistory = k;
    for (int i = 0; i < n; ++i) {
        even[evenHistory + i] = in[2 * i];
        odd[oddHistory + i] = in[2 * i + 1];
    }
    for (int i = 0; i < n; ++i)
        out[i] = 0.5f * odd[i];
    for (int t = 0; t < 2 * k; t += 2) {
        const float g0 = taps->outer[t];
        const float g1 = taps->outer[t + 1];
        const float* b = even + t;
        for (int i = 0; i < n; ++i)
            out[i] += g0 * b[i] + g1 * b[i + 1];
    }
    std::memmove(even, even + n, sizeof(float) * static_cast<std::size_t>(evenHistory));
    std::memmove(odd, odd + n, sizeof(float) * static_cast<std::size_t>(oddHistory));
}

// ---- the cascade ----

Oversampler::Oversampler() {
    for (int s = 0; s < 3; ++s) {
        upStages[s].setTaps(&halfBandTaps(s));
        downStages[s].setTaps(&halfBandTaps(s));
    }
    setFactor(1);
}

int Oversampler::latencyOf(int factor) {
    const int stages = stageCount(factor);
    const int top = 1 << stages;
    const int delay = topRateDelay(stages);
    return (delay + top - 1) / top;
}

void Oversampler::setFactor(int factor) {
    const int stages = stageCount(factor);
    const int top = 1 << stages;
    if (top == currentFactor)
        return;
    currentFactor = top;
    latencyFrames = latencyOf(top);
    padFrames = latencyFrames * top - topRateDelay(stages);
    reset();
}

int Oversampler::stages() const {
    return stageCount(currentFactor);
}

void Oversampler::reset() {
    for (int s = 0; s < 3; ++s) {
        upStages[s].reset();
        downStages[s].reset();
    }
    std::memset(pad, 0, sizeof(pad));
}

void Oversampler::up(const float* in, int n, float* out) {
    const int count = stages();
    if (count == 0) {
        std::memmove(out, in, sizeof(float) * static_cast<std::size_t>(n));
        return;
    }
    // Ping-pong through the scratch buffers; the last stage writes into out.
    const float* source = in;
    int frames = n;
    for (int s = 0; s < count; ++s) {
        float* target = s == count - 1 ? out : (s % 2 == 0 ? scratchA : scratchB);
        upStages[s].process(source, frames, target);
        source = target;
        frames *= 2;
    }
    // The pad: a short delay at the top rate.
    if (padFrames > 0) {
        float held[kMaxFactor];
        std::memcpy(held, out + frames - padFrames, sizeof(float) * static_cast<std::size_t>(padFrames));
        std::memmove(out + padFrames, out, sizeof(float) * static_cast<std::size_t>(frames - padFrames));
        std::memcpy(out, pad, sizeof(float) * static_cast<std::size_t>(padFrames));
        std::memcpy(pad, held, sizeof(float) * static_cast<std::size_t>(padFrames));
    }
}

void Oversampler::down(const float* in, int n, float* out) {
    const int count = stages();
    if (count == 0) {
        std::memmove(out, in, sizeof(float) * static_cast<std::size_t>(n));
        return;
    }
    const float* source = in;
    int frames = n << (count - 1); // output frames of the top stage
    for (int s = count - 1; s >= 0; --s) {
        float* target = s == 0 ? out : (s % 2 == 0 ? scratchA : scratchB);
        downStages[s].process(source, frames, target);
        source = target;
        frames /= 2;
    }
}

} // namespace waveshapers_lv2
