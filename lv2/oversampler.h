// Oversampling for the plugins: cascaded half-band FIR stages (linear phase, Kaiser-windowed), each
// doubling or halving the rate. Every buffer is sized at construction for blocks of up to kMaxFrames
// input frames at the base rate, so up() and down() allocate nothing and run in fixed time. The total
// delay of up and down together is a whole number of base-rate samples (a short pad at the top rate
// makes it so), reported as the plugin's latency.
#pragma once

#include <cstddef>

namespace waveshapers_lv2 {

// One half-band stage's taps: the 2K non-zero outer taps of a (4K - 1)-tap filter (the centre tap is
// 1/2, the others at even distance from it are 0).
struct HalfBandTaps {
    static constexpr int kMaxHalfTaps = 24; // K of the sharpest stage
    int k = 0;                              // outer taps used: 2k
    float outer[2 * kMaxHalfTaps] = {};     // h[0], h[2], ..., h[4k - 2]
};

// The taps of stage `stage` (0: base rate to twice it, 1: to 4x, 2: to 8x).
const HalfBandTaps& halfBandTaps(int stage);

class HalfBandUp {
public:
    // Delay in output samples: the centre of the filter.
    int delay() const;
    void setTaps(const HalfBandTaps* taps);
    void reset();
    // in[0..n) to out[0..2n); n at most kCapacity.
    void process(const float* in, int n, float* out);
    static constexpr int kCapacity = 2048;

private:
    const HalfBandTaps* taps = nullptr;
    float buffer[2 * HalfBandTaps::kMaxHalfTaps + kCapacity] = {};
};

class HalfBandDown {
public:
    // Delay in input samples: the centre of the filter.
    int delay() const;
    void setTaps(const HalfBandTaps* taps);
    void reset();
    // in[0..2n) to out[0..n); n at most kCapacity.
    void process(const float* in, int n, float* out);
    static constexpr int kCapacity = 2048;

private:
    const HalfBandTaps* taps = nullptr;
    float even[2 * HalfBandTaps::kMaxHalfTaps + kCapacity] = {};
    float odd[HalfBandTaps::kMaxHalfTaps + kCapacity] = {};
};

// One channel's path up to factor x the base rate and back down.
class Oversampler {
public:
    static constexpr int kMaxFactor = 8;
    static constexpr int kMaxFrames = 512; // base-rate frames per call

    Oversampler();
    // 1, 2, 4 or 8 (anything else is taken as 1); clears the filters' memories when it changes.
    void setFactor(int factor);
    int factor() const { return currentFactor; }
    // Base-rate samples between an input and its output after up and down: a whole number.
    int latency() const { return latencyFrames; }
    // The latency of a factor, without changing anything.
    static int latencyOf(int factor);
    void reset();

    // in[0..n) at the base rate to out[0..n x factor) at the module's rate; n <= kMaxFrames.
    void up(const float* in, int n, float* out);
    // in[0..n x factor) at the module's rate to out[0..n) at the base rate.
    void down(const float* in, int n, float* out);

private:
    int stages() const;

    int currentFactor = 1;
    int latencyFrames = 0;
    int padFrames = 0; // module-rate samples of extra delay that make the latency whole
    HalfBandUp upStages[3];
    HalfBandDown downStages[3];
    float pad[kMaxFactor] = {};
    float scratchA[kMaxFrames * kMaxFactor] = {};
    float scratchB[kMaxFrames * kMaxFactor] = {};
};

} // namespace waveshapers_lv2
