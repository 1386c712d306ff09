// Around the module: automation files, gains in dB, mix, DC removal, normalisation, dither, clip and
// over-range counts, output formats chosen from the input, and several inputs in one run.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace {

using namespace clitest;

class ShaperhostLevels : public ProgramTest {};

const char* const kCurve = "Vedivizor Arirezudez3";
const char* const kFormula = "VU Reridezizi2D";

// Mono ramp of 2^-10 steps between -0.1 and +0.1 (-1 V..+1 V).
std::vector<short> smallRamp(int frames) {
    std::vector<short> samples;
    for (int n = 0; n < frames; ++n)
        samples.push_back(static_cast<short>(((n % 205) - 102) * 32));
    return samples;
}

std::string flat(int volts) {
    std::string text;
    for (int x = -5; x <= 5; ++x)
        text += "(" + std::to_string(x) + "," + std::to_string(volts) + ")";
    return text;
}

TEST_F(ShaperhostLevels, AutomationFileChangesTheTextAtSamplesSecondsAndPercent) {
    const std::vector<short> input = smallRamp(4000);
    writePcm16(path("in.wav"), 1, 48000, input);
    // Sample 984, 0.03 s = sample 1440, 75 % of 4000 = sample 3000; given out of order.
    writeText(path("auto.json"), "[{\"percent\": 75, \"text\": \"" + std::string(kIdentityCurve) +
                                     "\"}, {\"sample\": 984, \"text\": \"" + flat(1) +
                                     "\"}, {\"seconds\": 0.03, \"text\": \"" + flat(2) + "\"}]");
    const RunResult r = run({"render", "-m", kCurve, "-i", path("in.wav"), "-o", path("out.wav"), "--format",
                             "float", "--automation", path("auto.json")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Sound out;
    ASSERT_TRUE(readSound(path("out.wav"), &out));
    ASSERT_EQ(out.samples.size(), input.size());
    for (std::size_t n = 0; n < out.samples.size(); ++n) {
        const float expected = n < 984    ? input[n] / 32768.0f
                               : n < 1440 ? 0.1f
                               : n < 3000 ? 0.2f
                                          : input[n] / 32768.0f;
        ASSERT_EQ(out.samples[n], expected) << "sample " << n;
    }

    struct Bad {
        const char* name;
        const char* contents;
    };
    const Bad bad[] = {
        {"not JSON", "[{"},
        {"not a list", "{\"seconds\": 1, \"text\": \"x\"}"},
        {"no text", "[{\"seconds\": 1}]"},
        {"two times", "[{\"seconds\": 1, \"sample\": 3, \"text\": \"x\"}]"},
        {"no time", "[{\"text\": \"x\"}]"},
        {"percent beyond 100", "[{\"percent\": 150, \"text\": \"x\"}]"},
        {"negative seconds", "[{\"seconds\": -1, \"text\": \"x\"}]"},
        {"fractional sample", "[{\"sample\": 2.5, \"text\": \"x\"}]"},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.name);
        writeText(path("bad.json"), b.contents);
        const RunResult failed = run({"render", "-m", kCurve, "-i", path("in.wav"), "-o", path("bad.wav"),
                                      "--automation", path("bad.json")});
        EXPECT_EQ(failed.exitCode, 2) << failed.err;
        EXPECT_NE(failed.err.find("automation"), std::string::npos) << failed.err;
        EXPECT_FALSE(exists("bad.wav"));
    }
}

TEST_F(ShaperhostLevels, GainsMixAndNormalisationScaleAsStated) {
    const std::vector<short> input = smallRamp(3000); // within +-0.1
    writePcm16(path("in.wav"), 1, 48000, input);
    struct Case {
        const char* name;
        std::vector<std::string> args;
        double factor; // output = factor * input, for the identity curve
    };
    const double minus6dB = std::pow(10.0, -6.0 / 20.0);
    const double peak = 102 * 32 / 32768.0; // the ramp's largest magnitude
    const Case cases[] = {
        {"input gain in dB", {"-m", kCurve, "-g", "-6dB"}, minus6dB},
        {"input gain, dB with a space and a plus", {"-m", kCurve, "-g", "+6 dB"}, 1.0 / minus6dB},
        {"input gain factor", {"-m", kCurve, "-g", "-1"}, -1.0},
        {"output gain in dB", {"-m", kCurve, "--output-gain", "-6dB"}, minus6dB},
        {"half dry, half silent wet", {"-m", kFormula, "-t", "0*x", "--mix", "0.5"}, 0.5},
        {"dry only", {"-m", kFormula, "-t", "x*x", "--mix", "0"}, 1.0},
        {"normalised to -1 dBFS", {"-m", kCurve, "--normalize", "-1"}, std::pow(10.0, -1.0 / 20.0) / peak},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"render",        "-i",       path("in.wav"), "-o",
                                         path("out.wav"), "--format", "float"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = run(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        Sound out;
        ASSERT_TRUE(readSound(path("out.wav"), &out));
        ASSERT_EQ(out.samples.size(), input.size());
        for (std::size_t n = 0; n < input.size(); ++n)
            ASSERT_NEAR(out.samples[n], input[n] / 32768.0 * c.factor, 2e-7) << "sample " << n;
    }
    for (const char* wrong : {"loud", "6dBx", "dB", "1e999dB"}) {
        SCOPED_TRACE(wrong);
        EXPECT_EQ(run({"render", "-m", kCurve, "-o", path("x.wav"), "-g", wrong}).exitCode, 2);
    }
    EXPECT_EQ(run({"render", "-m", kCurve, "-o", path("x.wav"), "--mix", "1.5"}).exitCode, 2);
    EXPECT_EQ(run({"render", "-m", kCurve, "-o", path("x.wav"), "--normalize", "3"}).exitCode, 2);
    EXPECT_FALSE(exists("x.wav"));
}

TEST_F(ShaperhostLevels, DcBlockRemovesAnOffsetAndPassesTheBand) {
    // 1 V of DC plus a 1 kHz sine of 1 V through the identity. The high-pass's pole r = exp(-2 pi 5 / fs):
    // after one second the offset has decayed by r^48000 = exp(-10 pi), and 1 kHz passes within 0.01 dB.
    const double pi = 3.14159265358979323846;
    std::vector<short> input;
    for (int n = 0; n < 96000; ++n)
        input.push_back(static_cast<short>(std::lround(3277 + 3277 * std::sin(2 * pi * 1000.0 * n / 48000))));
    writePcm16(path("in.wav"), 1, 48000, input);
    const RunResult r = run({"render", "-m", kCurve, "-i", path("in.wav"), "-o", path("out.wav"), "--format",
                             "float", "--dc-block"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Sound out;
    ASSERT_TRUE(readSound(path("out.wav"), &out));
    EXPECT_NEAR(out.samples[0], input[0] / 32768.0, 1e-6);
    double mean = 0.0;
    double peak = 0.0;
    for (std::size_t n = 48000; n < 96000; ++n) {
        mean += out.samples[n];
        peak = std::max(peak, std::fabs(static_cast<double>(out.samples[n])));
    }
    EXPECT_NEAR(mean / 48000, 0.0, 1e-5);
    EXPECT_NEAR(20 * std::log10(peak / (3277 / 32768.0)), 0.0, 0.01);
}

TEST_F(ShaperhostLevels, SixteenBitOutputIsDitheredUnlessAskedNot) {
    writePcm16(path("in.wav"), 1, 48000, std::vector<short>(48000, 0));
    for (bool dither : {true, false}) {
        SCOPED_TRACE(dither ? "dither" : "no dither");
        std::vector<std::string> args = {"render",        "-m",       kCurve, "-i", path("in.wav"), "-o",
                                         path("out.wav"), "--format", "pcm16"};
        if (!dither)
            args.push_back("--no-dither");
        const RunResult r = run(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out.find("TPDF dither") != std::string::npos, dither) << r.out;
        Sound out;
        ASSERT_TRUE(readSound(path("out.wav"), &out));
        // Triangular dither on (-1, 1) steps, rounded to the nearest step: silence becomes -1, 0 or +1,
        // each neighbour with the chance the triangle gives beyond half a step, 1/8 (6000 of 48000).
        int counts[3] = {0, 0, 0};
        for (float s : out.samples) {
            const long step = std::lround(s * 32768.0);
            ASSERT_LE(std::labs(step), 1);
            ++counts[step + 1];
        }
        if (dither) {
            EXPECT_NEAR(counts[0], 6000, 400);
            EXPECT_NEAR(counts[2], 6000, 400);
        } else {
            EXPECT_EQ(counts[1], 48000);
        }
    }
}

TEST_F(ShaperhostLevels, SummaryCountsInputBeyondTheCurveAndClippedSamplesPerChannel) {
    // Channel 1 a ramp over the whole 16-bit range, channel 2 within +-0.25. Through 3x (volts), the file
    // clips where |3 s| > 1, and the curve holds its end where |s| > 0.5.
    std::vector<short> input;
    long beyond[2] = {0, 0};
    long clipped[2] = {0, 0};
    for (int n = 0; n < 6000; ++n) {
        const short a = static_cast<short>(-32768 + n * 11);
        const short b = static_cast<short>((n % 2001 - 1000) * 8);
        for (int c = 0; c < 2; ++c) {
            const double s = (c == 0 ? a : b) / 32768.0;
            input.push_back(c == 0 ? a : b);
            beyond[c] += std::fabs(s) > 0.5;
            clipped[c] += std::fabs(std::max(-0.5, std::min(s, 0.5)) * 3.0) > 1.0;
        }
    }
    writePcm16(path("in.wav"), 2, 48000, input);
    const RunResult r = run({"render", "-m", kFormula, "-t", "3*x", "-i", path("in.wav"), "-o",
                             path("out.wav"), "--format", "pcm24", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (int c = 0; c < 2; ++c) {
        SCOPED_TRACE(c);
        const std::string beyondKey = "\"input_beyond_5v\": [\n    " + std::to_string(beyond[0]) + ",\n    " +
                                      std::to_string(beyond[1]) + "\n  ]";
        EXPECT_NE(r.out.find(beyondKey), std::string::npos) << r.out;
        const std::string clippedKey = "\"clipped_samples\": [\n    " + std::to_string(clipped[0]) +
                                       ",\n    " + std::to_string(clipped[1]) + "\n  ]";
        EXPECT_NE(r.out.find(clippedKey), std::string::npos) << r.out;
    }
    EXPECT_GT(beyond[0], 0);
    EXPECT_EQ(beyond[1], 0);
    EXPECT_GT(clipped[0], 0);
    EXPECT_EQ(clipped[1], 0);
    EXPECT_NE(r.err.find("clipped"), std::string::npos) << r.err;
}

TEST_F(ShaperhostLevels, SeveralInputsGoToTheOutputFolderEachAsASingleRunWould) {
    writePcm16(path("a.wav"), 1, 48000, smallRamp(1000));
    writePcm16(path("b.wav"), 2, 44100, smallRamp(3000));
    const RunResult r = run({"render", "-m", kFormula, "-t", "x/2", "-i", path("a.wav"), "-i", path("b.wav"),
                             "--out-dir", path("out"), "--format", "float"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* name : {"a.wav", "b.wav"}) {
        SCOPED_TRACE(name);
        Sound in;
        Sound out;
        ASSERT_TRUE(readSound(path(name), &in));
        ASSERT_TRUE(readSound(path(std::string("out/") + name), &out));
        EXPECT_EQ(out.channels, in.channels);
        EXPECT_EQ(out.sampleRate, in.sampleRate);
        ASSERT_EQ(out.samples.size(), in.samples.size());
        for (std::size_t n = 0; n < in.samples.size(); ++n)
            ASSERT_NEAR(out.samples[n], in.samples[n] / 2, 1e-7) << n;
    }
    // The input's own folder as the output folder would overwrite the inputs: refused as a wrong command
    // line, inputs kept.
    Sound before;
    ASSERT_TRUE(readSound(path("a.wav"), &before));
    const RunResult same =
        run({"render", "-m", kFormula, "-t", "0*x", "-i", path("a.wav"), "--out-dir", folder});
    EXPECT_EQ(same.exitCode, 2) << same.err;
    Sound after;
    ASSERT_TRUE(readSound(path("a.wav"), &after));
    EXPECT_EQ(after.samples, before.samples);
    EXPECT_EQ(run({"render", "-m", kFormula, "-i", path("a.wav"), "-i", path("b.wav"), "-o", path("x.wav")})
                  .exitCode,
              2);
}

} // namespace
