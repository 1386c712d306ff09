// Harmonic and alias analysis of a waveshaper's steady output through FFTW. The test sine completes an
// odd whole number of cycles in the transform's power-of-two length (a coherent tone, rectangular
// window): every harmonic falls exactly on a bin of its own, nothing leaks between bins, and since the
// cycle count shares no factor with the length, no alias folded back from above half the sample rate
// can land on a harmonic's bin. Whatever lies in the other bins is aliasing (or noise).
#pragma once

#include <cstdint>
#include <vector>

namespace shaperhost {

struct Harmonic {
    int order = 0;          // 1 = fundamental
    double frequency = 0.0; // Hz
    double volts = 0.0;     // peak amplitude
    double decibels = 0.0;  // relative to the fundamental
};

// A harmonic above half the sample rate, seen where it folded back to.
struct Alias {
    int order = 0;          // the harmonic it comes from
    double frequency = 0.0; // Hz, where it lies after folding
    double decibels = 0.0;  // relative to the fundamental
};

struct SpectrumAnalysis {
    int length = 0; // transform length
    int fundamentalBin = 0;
    double dcVolts = 0.0;
    double fundamentalVolts = 0.0;
    double thdPercent = 0.0;      // every harmonic from 2 up to half the sample rate
    double thdDecibels = 0.0;     // the same, in dB re fundamental
    double aliasToSignalDb = 0.0; // power in all bins that are neither DC nor a harmonic, re fundamental
    double sinadDb = 0.0;         // fundamental against everything else but DC
    // False when the fundamental is absent or does not stand 20 dB above the noise in a bin, or a
    // sample is not finite: then THD, aliasing and SINAD mean nothing and are not reported.
    bool figuresValid = true;
    int64_t nonFiniteSamples = 0;         // NaN or infinite samples, analysed as 0
    std::vector<Harmonic> harmonics;      // every harmonic below half the sample rate, the fundamental first
    std::vector<Alias> aliases;           // the strongest folded harmonics, strongest first
    std::vector<double> spectrumDecibels; // bins 0..N/2, 0 dB = full scale (10 V peak)
    std::vector<char> binIsHarmonic;      // per bin of spectrumDecibels
    std::vector<char> binIsAlias;         // per bin: where one of the strongest aliases lies
};

// The frequency nearest to `frequency` that completes an odd whole number of cycles in `length`
// samples (length a power of two).
double binFrequency(double frequency, int sampleRate, int length);

// True when the sample rate is a whole multiple of the frequency: there every alias of a sine folds
// exactly onto one of its harmonics and hides in it.
bool dividesSampleRate(double frequency, int sampleRate);

// Analyses `samples` (a power-of-two length) in which a sine of `frequency`, a frequency from
// binFrequency for that length, was shaped. Lists at most `aliasCount` aliases.
SpectrumAnalysis analyzeSpectrum(const std::vector<float>& samples, int sampleRate, double frequency,
                                 int aliasCount = 12);

} // namespace shaperhost
