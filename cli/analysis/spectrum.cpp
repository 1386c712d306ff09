#include "cli/analysis/spectrum.h"

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

constexpr std::size_t kMarkedAliases = 60;

double powerDecibels(double ratio) {
    return 10.0 * std::log10(std::max(ratio, 1e-30));
}

} // namespace

double binFrequency(double frequency, int sampleRate, int length) {
    const double exact = frequency * length / sampleRate;
    long bin = 2 * std::lround((exact - 1.0) / 2.0) + 1; // nearest odd
    bin = std::max(1L, std::min(bin, static_cast<long>(length / 2 - 1)));
    return static_cast<double>(bin) * sampleRate / length;
}

bool dividesSampleRate(double frequency, int sampleRate) {
    if (!(frequency > 0.0))
        return false;
    const double cycles = sampleRate / frequency;
    return std::fabs(cycles - std::round(cycles)) < 1e-9 * cycles;
}

SpectrumAnalysis analyzeSpectrum(const std::vector<float>& samples, int sampleRate, double frequency,
                                 int aliasCount) {
    const int n = static_cast<int>(samples.size());
    const int bins = n / 2 + 1;
    std::unique_ptr<double, BufferDeleter> in(static_cast<double*>(fftw_malloc(sizeof(double) * n)));
    std::unique_ptr<fftw_complex, BufferDeleter> out(
        static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * bins)));
    std::unique_ptr<fftw_plan_s, PlanDeleter> plan(
        fftw_plan_dft_r2c_1d(n, in.get(), out.get(), FFTW_ESTIMATE));
    int64_t nonFinite = 0;
    for (int i = 0; i < n; ++i) {
        const double v = samples[static_cast<std::size_t>(i)];
        nonFinite += std::isfinite(v) ? 0 : 1;
        in.get()[i] = std::isfinite(v) ? v : 0.0;
    }
    fftw_execute(plan.get());

    // Peak amplitude in sample units of bin k.
    auto amplitude = [&](long k) {
        const double re = out.get()[k][0];
        const double im = out.get()[k][1];
        const double scale = (k == 0 || 2 * k == n) ? 1.0 : 2.0;
        return scale * std::sqrt(re * re + im * im) / n;
    };

    SpectrumAnalysis result;
    result.length = n;
    result.dcVolts = out.get()[0][0] / n * 10.0;
    result.spectrumDecibels.resize(static_cast<std::size_t>(bins));
    result.binIsHarmonic.assign(static_cast<std::size_t>(bins), 0);
    for (int k = 0; k < bins; ++k)
        result.spectrumDecibels[static_cast<std::size_t>(k)] =
            20.0 * std::log10(std::max(amplitude(k), 1e-12));

    const long fundamentalBin = std::lround(frequency * n / sampleRate);
    result.fundamentalBin = static_cast<int>(fundamentalBin);
    const double fundamental = amplitude(fundamentalBin);
    const double fundamentalPower = std::max(fundamental * fundamental, 1e-60);
    result.fundamentalVolts = fundamental * 10.0;

    double harmonicPower = 0.0;
    for (long order = 1; order * fundamentalBin < bins; ++order) {
        const long bin = order * fundamentalBin;
        Harmonic h;
        h.order = static_cast<int>(order);
        h.frequency = static_cast<double>(bin) * sampleRate / n;
        h.volts = amplitude(bin) * 10.0;
        h.decibels =
            powerDecibels(h.volts * h.volts / (result.fundamentalVolts * result.fundamentalVolts + 1e-60));
        if (order > 1)
            harmonicPower += amplitude(bin) * amplitude(bin);
        result.binIsHarmonic[static_cast<std::size_t>(bin)] = 1;
        result.harmonics.push_back(h);
    }
    double otherPower = 0.0;
    for (int k = 1; k < bins; ++k) {
        if (!result.binIsHarmonic[static_cast<std::size_t>(k)])
            otherPower += amplitude(k) * amplitude(k);
    }
    result.thdPercent = fundamental > 0.0 ? 100.0 * std::sqrt(harmonicPower) / fundamental : 0.0;
    result.thdDecibels = powerDecibels(harmonicPower / fundamentalPower);
    result.aliasToSignalDb = powerDecibels(otherPower / fundamentalPower);
    result.sinadDb = -powerDecibels((harmonicPower + otherPower) / fundamentalPower);
    int otherBins = 0;
    for (int k = 1; k < bins; ++k)
        otherBins += result.binIsHarmonic[static_cast<std::size_t>(k)] ? 0 : 1;
    const double noisePerBin = otherBins > 0 ? otherPower / otherBins : 0.0;
    result.nonFiniteSamples = nonFinite;
    result.figuresValid =
        nonFinite == 0 && fundamental > 1e-9 && fundamental * fundamental > 100.0 * noisePerBin;

    // Harmonic m lies at bin m * f modulo n, mirrored into 0..n/2: follow the harmonics far enough up
    // (a thousand times the fundamental's bin, or the whole length) to find the strong ones.
    std::vector<Alias> aliases;
    result.binIsAlias.assign(static_cast<std::size_t>(bins), 0);
    const long lastOrder = std::min<long>(n, 1000L * std::max<long>(1, n / 2 / fundamentalBin));
    for (long order = bins / fundamentalBin + 1; order <= lastOrder; ++order) {
        long bin = (order * fundamentalBin) % n;
        if (bin >= bins)
            bin = n - bin;
        if (bin == 0 || result.binIsHarmonic[static_cast<std::size_t>(bin)])
            continue;
        Alias a;
        a.order = static_cast<int>(order);
        a.frequency = static_cast<double>(bin) * sampleRate / n;
        a.decibels = powerDecibels(amplitude(bin) * amplitude(bin) / fundamentalPower);
        aliases.push_back(a);
    }
    std::stable_sort(aliases.begin(), aliases.end(),
                     [](const Alias& a, const Alias& b) { return a.decibels > b.decibels; });
    // Marked for pictures: the strongest, where they stand well clear of single-precision noise (about
    // -140 dB): lower marks would call rounding noise aliasing.
    for (std::size_t i = 0; i < aliases.size() && i < kMarkedAliases; ++i) {
        if (aliases[i].decibels > -120.0)
            result.binIsAlias[static_cast<std::size_t>(std::lround(aliases[i].frequency * n / sampleRate))] =
                1;
    }
    if (aliases.size() > static_cast<std::size_t>(std::max(aliasCount, 0)))
        aliases.resize(static_cast<std::size_t>(std::max(aliasCount, 0)));
    result.aliases = aliases;
    return result;
}

} // namespace shaperhost
