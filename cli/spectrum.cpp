#include "cli/spectrum.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace shaperhost {

namespace {

struct PlanDeleter {
    void operator()(fftw_plan_s* plan) const { fftw_destroy_plan(plan); }
};
struct BufferDeleter {
    void operator()(void* p) const { fftw_free(p); }
};

} // namespace

double binFrequency(double frequency, int sampleRate, int length) {
    long bin = std::lround(frequency * length / sampleRate);
    if (bin < 1)
        bin = 1;
    return static_cast<double>(bin) * sampleRate / length;
}

SpectrumAnalysis analyzeSpectrum(const std::vector<float>& samples, int sampleRate, double frequency,
                                 int harmonicCount) {
    const int n = static_cast<int>(samples.size());
    const int bins = n / 2 + 1;
    std::unique_ptr<double, BufferDeleter> in(static_cast<double*>(fftw_malloc(sizeof(double) * n)));
    std::unique_ptr<fftw_complex, BufferDeleter> out(
        static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * bins)));
    std::unique_ptr<fftw_plan_s, PlanDeleter> plan(
        fftw_plan_dft_r2c_1d(n, in.get(), out.get(), FFTW_ESTIMATE));
    for (int i = 0; i < n; ++i)
        in.get()[i] = samples[static_cast<std::size_t>(i)];
    fftw_execute(plan.get());

    // Peak amplitude in sample units of bin k.
    auto amplitude = [&](int k) {
        const double re = out.get()[k][0];
        const double im = out.get()[k][1];
        const double scale = (k == 0 || 2 * k == n) ? 1.0 : 2.0;
        return scale * std::sqrt(re * re + im * im) / n;
    };

    SpectrumAnalysis result;
    result.dcVolts = out.get()[0][0] / n * 10.0;
    result.spectrumDecibels.resize(static_cast<std::size_t>(bins));
    for (int k = 0; k < bins; ++k)
        result.spectrumDecibels[static_cast<std::size_t>(k)] =
            20.0 * std::log10(std::max(amplitude(k), 1e-12));

    const int fundamentalBin = static_cast<int>(std::lround(frequency * n / sampleRate));
    result.fundamentalVolts = amplitude(fundamentalBin) * 10.0;
    double harmonicPower = 0.0;
    for (int order = 1; order <= harmonicCount; ++order) {
        const long bin = static_cast<long>(fundamentalBin) * order;
        if (2 * bin >= n)
            break;
        Harmonic h;
        h.order = order;
        h.frequency = static_cast<double>(bin) * sampleRate / n;
        h.volts = amplitude(static_cast<int>(bin)) * 10.0;
        h.decibels = 20.0 * std::log10(std::max(h.volts, 1e-12) / std::max(result.fundamentalVolts, 1e-12));
        if (order > 1)
            harmonicPower += h.volts * h.volts;
        result.harmonics.push_back(h);
    }
    result.thdPercent =
        result.fundamentalVolts > 0.0 ? 100.0 * std::sqrt(harmonicPower) / result.fundamentalVolts : 0.0;
    return result;
}

} // namespace shaperhost
