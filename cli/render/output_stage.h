// What happens to the audio around the module: level checks, the dry/wet mix, DC removal, output gain
// or normalisation, and dither when the file holds integers.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace shaperhost {

struct OutputStage {
    double mix = 1.0;           // 0 dry only .. 1 wet only
    bool dcBlock = false;       // first-order high-pass at kDcBlockHz
    double gain = 1.0;          // factor
    bool normalize = false;     // scale to a peak of normalizePeak instead of applying gain
    double normalizePeak = 1.0; // sample units
};

constexpr double kDcBlockHz = 5.0;

// wet = mix * wet + (1 - mix) * dry, then DC removal, then the gain (normalisation, which needs the
// whole output's peak, is left to the caller), on interleaved audio fed piece after piece.
class OutputProcessor {
public:
    OutputProcessor(const OutputStage& stage, int channels, int sampleRate);
    void process(const float* dry, float* wet, int64_t frames);

private:
    OutputStage stage;
    int channels;
    double pole;
    std::vector<double> previousIn;
    std::vector<double> previousOut;
};

// Adds triangular (TPDF) dither of one step of a `bits`-bit integer (full scale 2^(bits-1) steps), peak
// to peak two steps, from a fixed seed so that the same render gives the same file.
class TpdfDither {
public:
    explicit TpdfDither(int bits);
    void apply(float* samples, std::size_t count);

private:
    double step;
    std::mt19937 random;
    std::uniform_real_distribution<double> uniform{-0.5, 0.5};
};

// Adds to counts[c] the samples of channel c beyond the module's table span (+-0.5, +-5 V); the
// samples are whole interleaved frames.
void countBeyondTable(const float* samples, std::size_t count, std::vector<int64_t>& counts);

} // namespace shaperhost
