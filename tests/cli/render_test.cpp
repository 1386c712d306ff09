// Audio through the program: exactness, timing of text changes, the editor's edit reaching the module,
// and files that libsndfile reads back.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace {

using namespace clitest;

class ShaperhostRender : public ProgramTest {};

// Sixteen-bit samples are multiples of 2^-15: within the table's span (-0.5..0.5, -5 V..+5 V) the identity
// table maps each onto itself exactly.
std::vector<short> knownSamples(int frames, int channels) {
    std::vector<short> samples;
    for (int n = 0; n < frames; ++n) {
        for (int c = 0; c < channels; ++c) {
            // From -16384 up in steps of 7 on one channel, a wrapped ramp over the whole span on the other.
            const int v = c == 0 ? -16384 + (n * 7) % 32769 : ((n * 131 + 4000) % 32769) - 16384;
            samples.push_back(static_cast<short>(v));
        }
    }
    return samples;
}

TEST_F(ShaperhostRender, IdentityCurveIsSampleExactForEveryBlockSize) {
    const int frames = 9371;
    const std::vector<short> input = knownSamples(frames, 2);
    writePcm16(path("in.wav"), 2, 44100, input);
    for (const char* block : {"1", "37", "64", "4096"}) {
        SCOPED_TRACE(block);
        const RunResult r = run({"render", "-m", "Vedivizor Arirezudez3", "-i", path("in.wav"), "-o",
                                 path("out.wav"), "-b", block, "--format", "float"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        Sound out;
        ASSERT_TRUE(readSound(path("out.wav"), &out));
        EXPECT_EQ(out.channels, 2);
        EXPECT_EQ(out.sampleRate, 44100);
        EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        ASSERT_EQ(out.samples.size(), input.size());
        int mismatches = 0;
        for (std::size_t i = 0; i < input.size(); ++i)
            mismatches += out.samples[i] != static_cast<float>(input[i]) / 32768.0f;
        EXPECT_EQ(mismatches, 0);
    }
}

// Mono ramp of 2^-10 steps between -0.1 and +0.1 (-1 V..+1 V).
std::vector<short> smallRamp(int frames) {
    std::vector<short> samples;
    for (int n = 0; n < frames; ++n)
        samples.push_back(static_cast<short>(((n % 205) - 102) * 32));
    return samples;
}

struct TimedChangeCase {
    const char* module;
    const char* before;
    const char* after;
    const char* blockSize;
    float constant;  // the output the new text gives for every input
    float tolerance; // of the output before the change, against the input
};

TEST_F(ShaperhostRender, TextChangeTakesEffectAtItsExactSample) {
    // 0.0205 s at 48 kHz is sample 984: inside a block for both block sizes.
    const std::string flat2V = "(-5,2)(-4,2)(-3,2)(-2,2)(-1,2)(0,2)(1,2)(2,2)(3,2)(4,2)(5,2)";
    const TimedChangeCase cases[] = {
        {"Vedivizor Arirezudez3", kIdentityCurve, flat2V.c_str(), "64", static_cast<float>(0.5 - 0.3), 0.0f},
        {"Vedivizor Arirezudez3", kIdentityCurve, flat2V.c_str(), "100", static_cast<float>(0.5 - 0.3), 0.0f},
        {"VU Reridezizi2D", "x", "3+x*0", "64", static_cast<float>(3.0 * 0.1), 1e-6f},
    };
    const std::vector<short> input = smallRamp(4000);
    writePcm16(path("in.wav"), 1, 48000, input);
    for (const TimedChangeCase& c : cases) {
        SCOPED_TRACE(std::string(c.module) + " block " + c.blockSize);
        const RunResult r =
            run({"render", "-m", c.module, "-t", c.before, "--text-at", std::string("0.0205:") + c.after,
                 "-i", path("in.wav"), "-o", path("out.wav"), "-b", c.blockSize, "--format", "float"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("text events 2"), std::string::npos) << r.out;
        Sound out;
        ASSERT_TRUE(readSound(path("out.wav"), &out));
        ASSERT_EQ(out.samples.size(), input.size());
        for (std::size_t n = 0; n < 984; ++n)
            ASSERT_NEAR(out.samples[n], input[n] / 32768.0f, c.tolerance) << "sample " << n;
        for (std::size_t n = 984; n < out.samples.size(); ++n)
            ASSERT_EQ(out.samples[n], c.constant) << "sample " << n;
    }
}

TEST_F(ShaperhostRender, ALongFileIsReadInPiecesWithoutMovingBlocksOrChanges) {
    // 30000 frames are read and written in several pieces; with 100-sample blocks no piece boundary
    // falls on 8192. The change at 0.25 s (sample 12000) lies in a later piece, inside block 120.
    const std::vector<short> input = smallRamp(30000);
    writePcm16(path("in.wav"), 1, 48000, input);
    const RunResult r = run({"render", "-m", "VU Reridezizi2D", "-t", "x", "--text-at", "0.25:-1+x*0", "-i",
                             path("in.wav"), "-o", path("out.wav"), "-b", "100", "--format", "float"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("blocks 300, text events 2"), std::string::npos) << r.out;
    Sound out;
    ASSERT_TRUE(readSound(path("out.wav"), &out));
    ASSERT_EQ(out.samples.size(), input.size());
    for (std::size_t n = 0; n < 12000; ++n)
        ASSERT_NEAR(out.samples[n], input[n] / 32768.0f, 1e-6f) << "sample " << n;
    for (std::size_t n = 12000; n < out.samples.size(); ++n)
        ASSERT_EQ(out.samples[n], static_cast<float>(-1.0 * 0.1)) << "sample " << n;
}

TEST_F(ShaperhostRender, ChangesGivenOutOfOrderApplyInTimeOrder) {
    const std::vector<short> input = smallRamp(3000);
    writePcm16(path("in.wav"), 1, 48000, input);
    // 0.03 s is sample 1440, 0.0205 s sample 984; given late first.
    const RunResult r =
        run({"render", "-m", "VU Reridezizi2D", "-t", "x", "--text-at", "0.03:2+x*0", "--text-at",
             "0.0205:1+x*0", "-i", path("in.wav"), "-o", path("out.wav"), "--format", "float"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Sound out;
    ASSERT_TRUE(readSound(path("out.wav"), &out));
    ASSERT_EQ(out.samples.size(), input.size());
    EXPECT_NEAR(out.samples[983], input[983] / 32768.0f, 1e-6f);
    for (std::size_t n = 984; n < 1440; ++n)
        ASSERT_EQ(out.samples[n], static_cast<float>(1.0 * 0.1)) << "sample " << n;
    for (std::size_t n = 1440; n < out.samples.size(); ++n)
        ASSERT_EQ(out.samples[n], static_cast<float>(2.0 * 0.1)) << "sample " << n;
}

TEST_F(ShaperhostRender, InputGainScalesTheSignalBeforeTheModule) {
    const std::vector<short> input = smallRamp(2000); // within +-0.1
    writePcm16(path("in.wav"), 1, 48000, input);
    for (const char* gain : {"2", "-1", "0.5"}) {
        SCOPED_TRACE(gain);
        const RunResult r = run({"render", "-m", "Vedivizor Arirezudez3", "-g", gain, "-i", path("in.wav"),
                                 "-o", path("out.wav"), "--format", "float"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        Sound out;
        ASSERT_TRUE(readSound(path("out.wav"), &out));
        ASSERT_EQ(out.samples.size(), input.size());
        const float factor = std::stof(gain);
        for (std::size_t n = 0; n < input.size(); ++n)
            ASSERT_EQ(out.samples[n], input[n] / 32768.0f * factor) << "sample " << n;
    }
}

// The curve through the 11 points of the identity with point 5 raised to +2 V, in volts.
double raisedCentre(double volts) {
    if (volts >= -1.0 && volts <= 0.0)
        return -1.0 + (volts + 1.0) * 3.0;
    if (volts > 0.0 && volts <= 1.0)
        return 2.0 - volts;
    return volts;
}

TEST_F(ShaperhostRender, EditorDragReachesTheModuleAndShapesTheAudioByTheNewCurve) {
    const std::vector<short> input = smallRamp(6000);
    writePcm16(path("in.wav"), 1, 48000, input);
    // On a 100 x 100 panel point 5 (0 V, 0 V) sits at pixel (50, 50); 20 pixels up is +2 V.
    const RunResult r = run({"editor", "--drag", "50,50:50,30", "--steps", "4", "--render", path("out.wav"),
                             "-i", path("in.wav"), "--png", path("panel.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("curve text: " + identityWith(5, "(0.0,2.0)") + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("4 text(s) sent"), std::string::npos) << r.out;

    Sound out;
    ASSERT_TRUE(readSound(path("out.wav"), &out));
    ASSERT_EQ(out.samples.size(), input.size());
    // Block 0 runs the identity; the four texts arrive at blocks 1 to 4; from block 5 on the final curve.
    for (std::size_t n = 0; n < 64; ++n)
        ASSERT_EQ(out.samples[n], input[n] / 32768.0f) << "sample " << n;
    int checked = 0;
    for (std::size_t n = 5 * 64; n < out.samples.size(); ++n) {
        const double volts = input[n] / 32768.0 * 10.0;
        // Corners of the curve fall between table entries (10/512 V apart): skip their neighbourhood.
        if (std::fabs(volts + 1.0) < 0.02 || std::fabs(volts) < 0.02 || std::fabs(volts - 1.0) < 0.02)
            continue;
        ASSERT_NEAR(out.samples[n] * 10.0, raisedCentre(volts), 1e-5)
            << "sample " << n << " at " << volts << " V";
        ++checked;
    }
    EXPECT_GT(checked, 5000);
    int width = 0;
    int height = 0;
    ASSERT_TRUE(readPngSize(path("panel.png"), &width, &height));
    EXPECT_EQ(width, 100);
    EXPECT_EQ(height, 100);
}

TEST_F(ShaperhostRender, LibsndfileReadsEveryFormatTheProgramWrites) {
    struct Case {
        const char* file;
        const char* format;
        int expected;
    };
    const Case cases[] = {
        {"a.wav", "float", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"b.wav", "pcm16", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"c.wav", "pcm24", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        {"d.flac", "pcm16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"e.flac", "pcm24", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"f.aiff", "float", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {"g.aif", "pcm16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const RunResult r = run(
            {"render", "-m", "VU Reridezizi2D", "-t", "tanh(x)", "-o", path(c.file), "--format", c.format});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        Sound sound;
        ASSERT_TRUE(readSound(path(c.file), &sound));
        EXPECT_EQ(sound.format, c.expected);
        EXPECT_EQ(sound.channels, 1);
        EXPECT_EQ(sound.sampleRate, 48000);
        EXPECT_EQ(sound.samples.size(), 96000u); // the two-second test signal
        // tanh bends 5 V down to tanh(5) V; the peak of the test sine stays close to 5 V.
        float peak = 0.0f;
        for (float s : sound.samples)
            peak = std::max(peak, std::fabs(s));
        EXPECT_NEAR(peak, std::tanh(4.9967) * 0.1, 1e-3);
    }
    // Nothing but the written files: no temporary file is left behind.
    EXPECT_EQ(files().size(), std::size(cases));
}

TEST_F(ShaperhostRender, BuiltInSignalRisesToFiveVoltsOverTwoSeconds) {
    const RunResult r = run({"render", "-m", "Vedivizor Arirezudez3", "-o", path("id.wav")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Sound sound;
    ASSERT_TRUE(readSound(path("id.wav"), &sound));
    ASSERT_EQ(sound.samples.size(), 96000u);
    float firstTenth = 0.0f;
    float lastTenth = 0.0f;
    for (std::size_t n = 0; n < 9600; ++n) {
        firstTenth = std::max(firstTenth, std::fabs(sound.samples[n]));
        lastTenth = std::max(lastTenth, std::fabs(sound.samples[96000 - 9600 + n]));
    }
    EXPECT_LT(firstTenth, 0.05f + 1e-6f);
    EXPECT_GT(lastTenth, 0.49f);
    EXPECT_LE(lastTenth, 0.5f);
    EXPECT_NE(r.out.find("module sleep requests 0"), std::string::npos) << r.out;
}

} // namespace
