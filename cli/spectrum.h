// Harmonic analysis of a waveshaper's steady output through FFTW: the test sine sits exactly on a bin
// of the transform, so every harmonic does too and no window is needed.
#pragma once

#include <vector>

namespace shaperhost {

struct Harmonic {
    int order = 0;          // 1 = fundamental
    double frequency = 0.0; // Hz
    double volts = 0.0;     // peak amplitude
    double decibels = 0.0;  // relative to the fundamental
};

struct SpectrumAnalysis {
    double dcVolts = 0.0;
    double fundamentalVolts = 0.0;
    double thdPercent = 0.0;              // harmonics 2.. below half the sample rate, against the fundamental
    std::vector<Harmonic> harmonics;      // up to the requested count, below half the sample rate
    std::vector<double> spectrumDecibels; // bins 0..N/2, 0 dB = full scale (10 V peak)
};

// The frequency nearest to `frequency` that completes a whole number of cycles in `length` samples.
double binFrequency(double frequency, int sampleRate, int length);

// Analyses `samples` (length a power of two is fastest) in which a sine of `frequency`, a bin
// frequency, was shaped.
SpectrumAnalysis analyzeSpectrum(const std::vector<float>& samples, int sampleRate, double frequency,
                                 int harmonicCount);

} // namespace shaperhost
