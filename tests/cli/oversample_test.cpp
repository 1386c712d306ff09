// Oversampled rendering and the alias measurements of analyze, through the built program.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace {

using namespace clitest;

class ShaperhostOversample : public ProgramTest {
protected:
    // The number after `label` in `text`, or NaN when the label is missing.
    static double valueAfter(const std::string& text, const std::string& label) {
        const std::size_t at = text.find(label);
        return at == std::string::npos ? std::nan("") : std::stod(text.substr(at + label.size()));
    }
};

constexpr double kPi = 3.14159265358979323846;

// Two partials well inside the band, in 16-bit steps, fading in and out over 10 ms so that the
// resamplers' edges do not ring.
std::vector<short> bandLimited(int frames, int rate) {
    std::vector<short> samples;
    for (int n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        const double fade = std::min({1.0, n / (0.01 * rate), (frames - 1 - n) / (0.01 * rate)});
        const double v = fade * (0.25 * std::sin(2 * kPi * 997.0 * t) + 0.1 * std::sin(2 * kPi * 5003.0 * t));
        samples.push_back(static_cast<short>(std::lround(v * 32767.0)));
    }
    return samples;
}

TEST_F(ShaperhostOversample, IdentityCurveGivesTheInputBackAlignedAndOfTheSameLength) {
    // A one-sample shift at 5 kHz would move a sample by up to 0.1 * 2 pi * 5003 / 44100 = 0.07.
    const int frames = 22050;
    const std::vector<short> input = bandLimited(frames, 44100);
    writePcm16(path("in.wav"), 1, 44100, input);
    for (const char* factor : {"2", "4", "8", "16"}) {
        for (const char* quality : {"hq", "vhq"}) {
            SCOPED_TRACE(std::string(factor) + "x " + quality);
            const RunResult r =
                run({"render", "-m", "Vedivizor Arirezudez3", "-i", path("in.wav"), "-o", path("out.wav"),
                     "--oversample", factor, "--quality", quality, "--format", "float", "-b", "33"});
            ASSERT_EQ(r.exitCode, 0) << r.err;
            EXPECT_NE(r.out.find(std::string("oversampled ") + factor + "x"), std::string::npos) << r.out;
            // Module blocks are cut at multiples of 33 samples from the start of the fast stream, however
            // the input is read in pieces: only the last block is short.
            const long long fastSamples = static_cast<long long>(frames) * std::stoi(factor);
            EXPECT_NE(r.out.find("blocks " + std::to_string((fastSamples + 32) / 33) + ","),
                      std::string::npos)
                << r.out;
            Sound out;
            ASSERT_TRUE(readSound(path("out.wav"), &out));
            EXPECT_EQ(out.sampleRate, 44100);
            ASSERT_EQ(out.samples.size(), input.size());
            double worst = 0.0;
            for (std::size_t n = 0; n < input.size(); ++n)
                worst = std::max(worst, std::fabs(out.samples[n] - input[n] / 32768.0));
            EXPECT_LT(worst, 1e-4);
        }
    }
}

TEST_F(ShaperhostOversample, TextChangeReachesTheModuleAtTheMatchingFastSample) {
    // Silence through the identity, then a curve that gives 2 V for every input from sample 984 on.
    // The module sees the step at its sample factor * 984; resampled down by a linear-phase filter, the
    // step's middle (0.1) lies between output samples 983 and 984, and it has settled a few dozen
    // samples either side.
    const std::string flat2V = "(-5,2)(-4,2)(-3,2)(-2,2)(-1,2)(0,2)(1,2)(2,2)(3,2)(4,2)(5,2)";
    writePcm16(path("in.wav"), 1, 48000, std::vector<short>(4000, 0));
    for (const char* factor : {"2", "8", "16"}) {
        for (const char* block : {"64", "100"}) {
            SCOPED_TRACE(std::string(factor) + "x block " + block);
            const RunResult r = run({"render", "-m", "Vedivizor Arirezudez3", "-t", kIdentityCurve,
                                     "--text-at", "0.0205:" + flat2V, "-i", path("in.wav"), "-o",
                                     path("out.wav"), "--oversample", factor, "-b", block});
            ASSERT_EQ(r.exitCode, 0) << r.err;
            EXPECT_NE(r.out.find("text events 2"), std::string::npos) << r.out;
            Sound out;
            ASSERT_TRUE(readSound(path("out.wav"), &out));
            ASSERT_EQ(out.samples.size(), 4000u);
            EXPECT_LT(out.samples[983], 0.1f);
            EXPECT_GT(out.samples[984], 0.1f);
            for (std::size_t n = 0; n < 984 - 100; ++n)
                ASSERT_NEAR(out.samples[n], 0.0f, 1e-4f) << "sample " << n;
            for (std::size_t n = 984 + 100; n < 4000 - 100; ++n)
                ASSERT_NEAR(out.samples[n], 0.2f, 1e-4f) << "sample " << n;
        }
    }
}

TEST_F(ShaperhostOversample, EightTimesOversamplingLowersTheSoftClipsAliasingByFortyDecibels) {
    const char* const softClip = "(-5.0,-5.0)(-4.0,-4.8)(-3.0,-4.3)(-2.0,-3.4)(-1.0,-2.0)(0.0,0.0)(1.0,2.0)"
                                 "(2.0,3.4)(3.0,4.3)(4.0,4.8)(5.0,5.0)";
    double aliasing[2] = {0.0, 0.0};
    double thd[2] = {0.0, 0.0};
    const char* factors[2] = {"1", "8"};
    for (int i = 0; i < 2; ++i) {
        const RunResult r = run({"analyze", "-m", "Vedivizor Arirezudez3", "-t", softClip, "--level", "5",
                                 "--frequency", "5000", "--rate", "48000", "--oversample", factors[i]});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        aliasing[i] = valueAfter(r.out, "aliasing");
        thd[i] = valueAfter(r.out, "THD");
        ASSERT_FALSE(std::isnan(aliasing[i])) << r.out;
    }
    EXPECT_LE(aliasing[1], aliasing[0] - 40.0)
        << "1x: " << aliasing[0] << " dB, 8x: " << aliasing[1] << " dB";
    // The harmonics themselves stay: the curve's distortion is not what oversampling removes.
    EXPECT_NEAR(thd[1], thd[0], 0.1 * thd[0]);
}

TEST_F(ShaperhostOversample, AnalyzeMeasuresKnownHarmonicsAndAToneThatDividesTheRateIsMoved) {
    // 2 V through x + x^2/10 gives 0.2 V DC and a second harmonic of 0.2 V, -20 dB, and nothing else but
    // the table's interpolation error (about 1e-5 V), so aliasing and SINAD follow from the harmonic.
    struct Case {
        const char* frequency;
        bool warns;
    };
    for (const Case& c : {Case{"1000", true}, Case{"997", false}, Case{"1500", true}}) {
        SCOPED_TRACE(c.frequency);
        const RunResult r = run({"analyze", "-m", "VU Reridezizi2D", "-t", "x+x*x/10", "--level", "2",
                                 "--frequency", c.frequency, "--oversample", "4"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err.find("divides the sample rate") != std::string::npos, c.warns) << r.err;
        EXPECT_NEAR(valueAfter(r.out, "DC offset"), 0.2, 1e-3) << r.out;
        EXPECT_NEAR(valueAfter(r.out, "THD"), 10.0, 0.01) << r.out;
        EXPECT_NEAR(valueAfter(r.out, "SINAD"), 20.0, 0.01) << r.out;
        EXPECT_LT(valueAfter(r.out, "aliasing"), -80.0) << r.out;
        // The tone sits an odd number of cycles into the 65536-point transform.
        const double hz = valueAfter(r.out, "V peak at");
        const double cycles = hz * 65536 / 48000;
        EXPECT_NEAR(cycles, std::round(cycles), 2e-3); // printed to 0.001 Hz
        EXPECT_EQ(std::lround(cycles) % 2, 1);
        EXPECT_NEAR(hz, std::stod(c.frequency), 48000.0 / 65536);
    }
}

TEST_F(ShaperhostOversample, EveryShortLengthComesOutWholeAtEveryFactor) {
    // Before the down-sampler had been given any sample it was handed a null pointer, which the
    // resampler reads as the end of its input: every input shorter than the filters' delay (about 900
    // frames), and every one whose first module block at the fast rate was not complete, wrote over
    // memory. A few batches per factor render the lengths: every one up to 64, every fifth up to 1400
    // (past the filters' delay), then every 17th, with the lengths either side of each multiple of 256
    // (where fast blocks of the sizes below end).
    std::vector<int> lengths;
    for (int n = 0; n <= 4100; ++n) {
        if (n <= 64 || (n <= 1400 && n % 5 == 0) || n % 17 == 0 || n % 256 <= 1 || n % 256 == 255)
            lengths.push_back(n);
    }
    std::vector<std::string> inputs;
    for (int n : lengths) {
        std::vector<short> samples(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            samples[static_cast<std::size_t>(i)] = static_cast<short>(8000.0 * std::sin(0.05 * i));
        inputs.push_back(path("in-" + std::to_string(n) + ".wav"));
        writePcm16(inputs.back(), 1, 48000, samples);
    }
    const struct {
        const char* factor;
        const char* quality;
        const char* block;
    } cases[] = {{"2", "vhq", "64"}, {"4", "hq", "4096"}, {"8", "vhq", "1000"}, {"16", "hq", "65536"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.factor) + "x " + c.quality + " block " + c.block);
        // A few hundred inputs a run, as a command line is limited in length (on Windows to 32767
        // characters, so fewer there).
        const std::size_t perRun = programUnderTest().runner.empty() ? 500 : 100;
        for (std::size_t first = 0; first < inputs.size(); first += perRun) {
            std::vector<std::string> args = {"render",       "-m",           "Vedivizor Arirezudez3",
                                             "-t",           kIdentityCurve, "--out-dir",
                                             path(c.factor), "--oversample", c.factor,
                                             "--quality",    c.quality,      "-b",
                                             c.block,        "--format",     "float"};
            for (std::size_t i = first; i < std::min(inputs.size(), first + perRun); ++i) {
                args.push_back("-i");
                args.push_back(inputs[i]);
            }
            const RunResult r = run(args);
            ASSERT_EQ(r.exitCode, 0) << r.err;
        }
        for (int n : lengths) {
            Sound out;
            ASSERT_TRUE(readSound(path(std::string(c.factor) + "/in-" + std::to_string(n) + ".wav"), &out))
                << n;
            ASSERT_EQ(out.samples.size(), static_cast<std::size_t>(n));
            // The identity curve gives the input back; a damaged stream gives noise or silence.
            double worst = 0.0;
            for (int i = 0; i < n; ++i)
                worst = std::max(worst, std::fabs(out.samples[static_cast<std::size_t>(i)] -
                                                  std::lround(8000.0 * std::sin(0.05 * i)) / 32768.0));
            ASSERT_LT(worst, 0.05) << n << " frames";
        }
    }
}

TEST_F(ShaperhostOversample, FactorsOtherThanPowersOfTwoUpToSixteenAreRefused) {
    for (const char* factor : {"0", "3", "32", "-2"}) {
        SCOPED_TRACE(factor);
        const RunResult r =
            run({"render", "-m", "Vedivizor Arirezudez3", "-o", path("x.wav"), "--oversample", factor});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_FALSE(exists("x.wav"));
    }
    EXPECT_EQ(run({"analyze", "-m", "Vedivizor Arirezudez3", "--quality", "best"}).exitCode, 2);
}

} // namespace
