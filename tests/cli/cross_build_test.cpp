// The native program and another build of it (the Windows one, under Wine) given the same input and
// text: the curve module's audio must be the same bits, the editor panel the same picture (apart from
// the system font's text), the charts the same pictures, and formula renders the same within what two
// C libraries' transcendental functions may differ by.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace {

using namespace clitest;

class CrossBuild : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        other = programUnderTest();
        ASSERT_NE(other.path, nativeProgram()) << "set SHAPERHOST_PROGRAM to the other build's program";
    }
    // Renders the same input with the same text in both builds; a.<extension> native, b.<extension>
    // the other build.
    void renderBoth(const std::string& module, const std::string& text, const std::string& format,
                    Sound* native, Sound* theirs, const std::string& extension = "wav") {
        const std::string a = "a." + extension, b = "b." + extension;
        for (const auto& [program, name] :
             {std::pair{ProgramUnderTest{nativeProgram(), ""}, a}, std::pair{other, b}}) {
            const RunResult r = runProgram(program, {"render", "-m", module, "-t", text, "-i", path("in.wav"),
                                                     "-o", path(name), "--format", format, "-b", "100"});
            ASSERT_EQ(r.exitCode, 0) << program.path << ": " << r.err;
        }
        ASSERT_TRUE(readSound(path(a), native));
        ASSERT_TRUE(readSound(path(b), theirs));
        ASSERT_EQ(native->samples.size(), theirs->samples.size());
        ASSERT_EQ(native->format, theirs->format);
    }
    // Two channels of a full-scale ramp and a staircase, so every table segment and both ends are hit.
    void writeInput() {
        std::vector<short> samples;
        for (int n = 0; n < 20000; ++n) {
            samples.push_back(static_cast<short>(-32768 + (n * 331) % 65536));
            samples.push_back(static_cast<short>(((n / 50) % 41 - 20) * 1600));
        }
        writePcm16(path("in.wav"), 2, 44100, samples);
    }

    ProgramUnderTest other;
};

TEST_F(CrossBuild, CurveRendersAreSampleIdentical) {
    writeInput();
    const struct {
        const char* name;
        const char* text;
        const char* format;
    } cases[] = {
        {"soft clip, float",
         "(-5.0,-5.0)(-4.0,-4.8)(-3.0,-4.3)(-2.0,-3.4)(-1.0,-2.0)(0.0,0.0)(1.0,2.0)(2.0,3.4)"
         "(3.0,4.3)(4.0,4.8)(5.0,5.0)",
         "float"},
        {"uneven points, pcm24",
         "(-5,-4.37)(-4.1,3.3)(-3.05,-2.2)(-1.7,-0.4)(-1.2,4.9)(0.33,-4.6)(0.5,0.07)"
         "(2.9,1.1)(3.3,-3.9)(4.4,2.5)(5,-0.15)",
         "pcm24"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sound native;
        Sound theirs;
        renderBoth("Curve Waveshaper", c.text, c.format, &native, &theirs);
        std::size_t differing = 0;
        for (std::size_t i = 0; i < native.samples.size(); ++i)
            differing += std::memcmp(&native.samples[i], &theirs.samples[i], sizeof(float)) != 0;
        EXPECT_EQ(differing, 0u) << "of " << native.samples.size() << " samples";
    }
}

TEST_F(CrossBuild, FlacRendersDecodeToIdenticalSamples) {
    // Each build encodes with its own FLAC library (the encoders may choose different frames), but FLAC
    // is lossless: both files must decode to the same integer samples, in the same sample format.
    writeInput();
    const char* const text = "(-5,-4.37)(-4.1,3.3)(-3.05,-2.2)(-1.7,-0.4)(-1.2,4.9)(0.33,-4.6)(0.5,0.07)"
                             "(2.9,1.1)(3.3,-3.9)(4.4,2.5)(5,-0.15)";
    const struct {
        const char* format;
        int expected;
    } cases[] = {{"pcm24", SF_FORMAT_FLAC | SF_FORMAT_PCM_24}, {"pcm16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        Sound native;
        Sound theirs;
        renderBoth("Curve Waveshaper", text, c.format, &native, &theirs, "flac");
        EXPECT_EQ(theirs.format, c.expected);
        EXPECT_EQ(theirs.channels, native.channels);
        EXPECT_EQ(theirs.sampleRate, native.sampleRate);
        std::size_t differing = 0;
        for (std::size_t i = 0; i < native.samples.size(); ++i)
            differing += std::memcmp(&native.samples[i], &theirs.samples[i], sizeof(float)) != 0;
        EXPECT_EQ(differing, 0u) << "of " << native.samples.size() << " samples";
    }
}

TEST_F(CrossBuild, FormulaRendersAgreeWithinTheLastBitsOfTheTable) {
    writeInput();
    Sound native;
    Sound theirs;
    renderBoth("Formula Waveshaper", "tanh(2*x)/tanh(2)*5 + sin(x)*exp(-x*x)/3", "float", &native, &theirs);
    // A table entry one float step apart moves an interpolated sample by at most about 1e-7 of full
    // scale; 1e-6 leaves room and still catches any real difference in the formula's evaluation.
    double largest = 0.0;
    for (std::size_t i = 0; i < native.samples.size(); ++i)
        largest = std::fmax(largest, std::fabs(static_cast<double>(native.samples[i]) - theirs.samples[i]));
    EXPECT_LE(largest, 1e-6);
}

TEST_F(CrossBuild, EditorPanelPicturesMatchOutsideTheText) {
    const uint32_t kBlack = 0x000000, kGrid = 0x006400, kCurve = 0x00FF00, kText = 0x00FA00;
    Picture pictures[2];
    const ProgramUnderTest programs[2] = {{nativeProgram(), ""}, other};
    for (int k = 0; k < 2; ++k) {
        const std::string name = k == 0 ? "a.png" : "b.png";
        const RunResult r = runProgram(programs[k], {"editor", "--size", "120x90", "--zoom", "2", "--drag",
                                                     "60,45:60,20", "--png", path(name)});
        ASSERT_EQ(r.exitCode, 0) << programs[k].path << ": " << r.err;
        ASSERT_TRUE(readPng(path(name), &pictures[k]));
    }
    const Picture& native = pictures[0];
    const Picture& theirs = pictures[1];
    ASSERT_EQ(native.width, 240);
    ASSERT_EQ(native.height, 180);
    ASSERT_EQ(theirs.width, native.width);
    ASSERT_EQ(theirs.height, native.height);
    // Text is drawn with each system's own font. A pixel is left out when it or a neighbour is text
    // on either side, or a colour the panel uses nowhere but in smoothed glyph edges.
    const int w = native.width, h = native.height;
    std::vector<char> text(static_cast<std::size_t>(w) * h, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t a = native.pixel(x, y), b = theirs.pixel(x, y);
            const bool panel = [](uint32_t c) { return c == kBlack || c == kGrid || c == kCurve; }(b);
            if (a != kText && b != kText && panel)
                continue;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx)
                    if (x + dx >= 0 && y + dy >= 0 && x + dx < w && y + dy < h)
                        text[static_cast<std::size_t>((y + dy) * w + x + dx)] = 1;
        }
    }
    int compared = 0, mismatches = 0;
    std::string report;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (text[static_cast<std::size_t>(y * w + x)])
                continue;
            ++compared;
            if (native.pixel(x, y) != theirs.pixel(x, y) && ++mismatches <= 10)
                report += " (" + std::to_string(x) + "," + std::to_string(y) + ")";
        }
    }
    EXPECT_EQ(mismatches, 0) << report;
    EXPECT_GT(compared, w * h / 2) << "the text covers most of the panel";
}

TEST_F(CrossBuild, ChartsAreTheSamePictures) {
    // Both builds draw with the same drawing library, rasteriser and embedded font, so the charts must
    // match pixel for pixel, text included; a spectrum's levels come from two builds of the FFT
    // library and may move a bar's anti-aliased end by a shade, never more.
    const ProgramUnderTest programs[2] = {{nativeProgram(), ""}, other};
    const struct {
        const char* name;
        std::vector<std::string> args;
        int maxShadedPixels;
    } charts[] = {
        {"transfer curve",
         {"table", "-m", "Curve Waveshaper", "-t",
          "(-5.0,-5.0)(-4.0,-4.8)(-3.0,-4.3)(-2.0,-3.4)(-1.0,-2.0)(0.0,0.0)"
          "(1.0,2.0)(2.0,3.4)(3.0,4.3)(4.0,4.8)(5.0,5.0)",
          "--plot-size", "400", "--png"},
         0},
        {"spectrum",
         {"analyze", "-m", "VU Reridezizi2D", "-t", "5*sin(x*pi/7)", "--level", "5", "--png"},
         40},
    };
    for (const auto& chart : charts) {
        SCOPED_TRACE(chart.name);
        Picture pictures[2];
        for (int k = 0; k < 2; ++k) {
            std::vector<std::string> args = chart.args;
            args.push_back(path(k == 0 ? "a.png" : "b.png"));
            const RunResult r = runProgram(programs[k], args);
            ASSERT_EQ(r.exitCode, 0) << programs[k].path << ": " << r.err;
            ASSERT_TRUE(readPng(path(k == 0 ? "a.png" : "b.png"), &pictures[k]));
        }
        const Picture& native = pictures[0];
        const Picture& theirs = pictures[1];
        ASSERT_EQ(theirs.width, native.width);
        ASSERT_EQ(theirs.height, native.height);
        int differing = 0;
        int largest = 0;
        for (std::size_t i = 0; i < native.rgb.size(); i += 3) {
            int step = 0;
            for (std::size_t c = 0; c < 3; ++c)
                step = std::max(step, std::abs(native.rgb[i + c] - theirs.rgb[i + c]));
            differing += step != 0;
            largest = std::max(largest, step);
        }
        EXPECT_LE(differing, chart.maxShadedPixels) << "largest channel difference " << largest;
    }
}

} // namespace
