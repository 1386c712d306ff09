// The plugins' own behaviour, driven through lv2_descriptor as a host drives them: the curve text the
// point controls make, formula messages and hostile atoms, state, the controls around the module, and
// the oversampler.
#include <gtest/gtest.h>

#include <lv2/atom/atom.h>
#include <lv2/patch/patch.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "curve/curve_text.h"
#include "lv2/oversampler.h"
#include "lv2/plugin_text.h"
#include "lv2/ports.h"
#include "lv2_test_host.h"

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

namespace {

using namespace waveshapers_lv2;
using lv2test::TestPlugin;
using lv2test::UridMap;

std::string narrow(const char16_t* text, std::size_t count) {
    return std::string(text, text + count);
}

TEST(CurveTextWriter, WritesWhatTheEditorWritesForThePoints) {
    // Hand-checked rows: one decimal, half away from zero, the sign kept at zero.
    const struct {
        float x;
        float y;
        const char* point;
    } rows[] = {{-2.25f, 0.04f, "(-2.3,0.0)"},
                {-0.04f, 4.96f, "(-0.0,5.0)"},
                {3.05f, -5.0f, "(3.1,-5.0)"},
                {1.0f, -1.5f, "(1.0,-1.5)"}};
    for (const auto& row : rows) {
        float x[kCurvePoints];
        float y[kCurvePoints];
        for (int i = 0; i < kCurvePoints; ++i) {
            x[i] = row.x;
            y[i] = row.y;
        }
        char16_t text[kMaxCurveTextUnits];
        const std::string written = narrow(text, writeCurveText(x, y, text, kMaxCurveTextUnits));
        std::string expected;
        for (int i = 0; i < kCurvePoints; ++i)
            expected += row.point;
        EXPECT_EQ(written, expected);
    }

    // Against the editor's own writer (a separate implementation that allocates), over many points.
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> volts(-5.0f, 5.0f);
    for (int round = 0; round < 2000; ++round) {
        float x[kCurvePoints];
        float y[kCurvePoints];
        CurvePoint points[kCurvePointCount];
        for (int i = 0; i < kCurvePoints; ++i) {
            // Every fourth value on a tie of the second decimal, where rounding matters most.
            x[i] = round % 4 == 0 ? std::round(volts(random) * 20.0f) / 20.0f : volts(random);
            y[i] = volts(random);
            points[i] = voltsToGrid(x[i], y[i]);
        }
        char16_t text[kMaxCurveTextUnits];
        const std::size_t count = writeCurveText(x, y, text, kMaxCurveTextUnits);
        const PinText expected = formatCurveText(points);
        ASSERT_EQ(PinText(text, count), expected) << "round " << round;
    }
}

TEST(CurveTextWriter, PointControlsAreClampedAndNaNKeepsThePreviousValue) {
    EXPECT_EQ(clampPointVolts(7.0f, 1.0f), 5.0f);
    EXPECT_EQ(clampPointVolts(-INFINITY, 1.0f), -5.0f);
    EXPECT_EQ(clampPointVolts(NAN, 1.5f), 1.5f);
    EXPECT_EQ(clampPointVolts(-2.5f, 1.0f), -2.5f);
}

TEST(Utf8Reader, TakesWellFormedTextAndRefusesEverythingElse) {
    const struct {
        const char* bytes;
        std::size_t capacity;
        std::u16string expected; // empty with refused = true: refused
        bool refused;
    } rows[] = {
        {"tanh(x)", 16, u"tanh(x)", false},
        {"x\xC3\xA9", 16, u"x\u00E9", false},           // two bytes
        {"\xE2\x82\xAC", 16, u"\u20AC", false},         // three bytes
        {"\xF0\x9F\x8E\xB8", 16, u"\U0001F3B8", false}, // four bytes: a surrogate pair
        {"\xC0\x80", 16, u"", true},                    // overlong NUL
        {"\xE0\x80\xAF", 16, u"", true},                // overlong "/"
        {"\xED\xA0\x80", 16, u"", true},                // a surrogate
        {"\xF4\x90\x80\x80", 16, u"", true},            // beyond U+10FFFF
        {"\xC3", 16, u"", true},                        // cut short
        {"a\x80", 16, u"", true},                       // a lone continuation byte
        {"\xFF", 16, u"", true},
        {"abc", 2, u"", true},              // does not fit
        {"\xF0\x9F\x8E\xB8", 1, u"", true}, // the pair does not fit
    };
    for (const auto& row : rows) {
        char16_t out[16];
        const std::size_t count = utf16FromUtf8(row.bytes, std::strlen(row.bytes), out, row.capacity);
        if (row.refused) {
            EXPECT_EQ(count, kNotConverted) << row.bytes;
        } else {
            ASSERT_NE(count, kNotConverted) << row.bytes;
            EXPECT_EQ(std::u16string(out, count), row.expected);
        }
    }
    char16_t out[4];
    const char withNul[] = {'x', '\0', 'y'};
    EXPECT_EQ(utf16FromUtf8(withNul, 3, out, 4), kNotConverted);
}

// Runs `frames` samples of `in` through an oversampler of the factor, in pieces of `piece`.
std::vector<float> throughOversampler(int factor, const std::vector<float>& in, int piece) {
    Oversampler oversampler;
    oversampler.setFactor(factor);
    std::vector<float> out(in.size());
    std::vector<float> fast(static_cast<std::size_t>(Oversampler::kMaxFrames * Oversampler::kMaxFactor));
    for (std::size_t start = 0; start < in.size(); start += static_cast<std::size_t>(piece)) {
        const int n =
            static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(piece), in.size() - start));
        oversampler.up(in.data() + start, n, fast.data());
        oversampler.down(fast.data(), n, out.data() + start);
    }
    return out;
}

TEST(Oversampler, DelaysByItsWholeLatencyAndPassesTheAudioBand) {
    for (int factor : {2, 4, 8}) {
        SCOPED_TRACE(factor);
        const int latency = Oversampler::latencyOf(factor);
        EXPECT_GT(latency, 0);
        EXPECT_LE(latency, 64);
        // A sine well inside the band comes out as itself, `latency` samples later, whatever the pieces.
        std::vector<float> sine(4800);
        for (std::size_t n = 0; n < sine.size(); ++n)
            sine[n] = static_cast<float>(0.4 * std::sin(2.0 * 3.14159265358979 * 1000.0 * n / 48000.0));
        for (int piece : {1, 37, 128}) {
            const std::vector<float> out = throughOversampler(factor, sine, piece);
            double largest = 0.0;
            for (std::size_t n = 200; n < sine.size(); ++n)
                largest = std::max(largest, std::fabs(static_cast<double>(out[n]) - sine[n - latency]));
            EXPECT_LT(largest, 1e-3) << "piece " << piece;
        }
        // A 19 kHz sine keeps its level within 0.1 dB.
        std::vector<float> high(9600);
        for (std::size_t n = 0; n < high.size(); ++n)
            high[n] = static_cast<float>(0.4 * std::sin(2.0 * 3.14159265358979 * 19000.0 * n / 48000.0));
        const std::vector<float> out = throughOversampler(factor, high, 128);
        double peak = 0.0;
        for (std::size_t n = 1000; n < out.size(); ++n)
            peak = std::max(peak, std::fabs(static_cast<double>(out[n])));
        EXPECT_NEAR(20.0 * std::log10(peak / 0.4), 0.0, 0.1);
    }
    EXPECT_EQ(Oversampler::latencyOf(1), 0);
}

TEST(Oversampler, UpsamplingLeavesNoImageOfTheBand) {
    // A 15 kHz sine at 2x: its image at 81 kHz - 15 kHz... at 96 kHz - 15 kHz = 81 kHz must be gone.
    for (int factor : {2, 4, 8}) {
        Oversampler oversampler;
        oversampler.setFactor(factor);
        const int frames = 4096;
        std::vector<float> in(frames);
        for (int n = 0; n < frames; ++n)
            in[n] = static_cast<float>(0.5 * std::sin(2.0 * 3.14159265358979 * 15000.0 * n / 48000.0));
        std::vector<float> fast(static_cast<std::size_t>(frames * factor));
        std::vector<float> piece(static_cast<std::size_t>(Oversampler::kMaxFrames * factor));
        for (int start = 0; start < frames; start += Oversampler::kMaxFrames) {
            oversampler.up(in.data() + start, Oversampler::kMaxFrames, piece.data());
            std::copy(piece.begin(), piece.end(), fast.begin() + start * factor);
        }
        // Correlate with the image frequency over the settled part.
        const double rate = 48000.0 * factor;
        const double image = 48000.0 - 15000.0;
        double re = 0.0, im = 0.0, reSignal = 0.0, imSignal = 0.0;
        const int first = 512 * factor;
        for (int n = first; n < frames * factor; ++n) {
            re += fast[n] * std::cos(2.0 * 3.14159265358979 * image * n / rate);
            im += fast[n] * std::sin(2.0 * 3.14159265358979 * image * n / rate);
            reSignal += fast[n] * std::cos(2.0 * 3.14159265358979 * 15000.0 * n / rate);
            imSignal += fast[n] * std::sin(2.0 * 3.14159265358979 * 15000.0 * n / rate);
        }
        const double ratio = std::hypot(re, im) / std::hypot(reSignal, imSignal);
        EXPECT_LT(20.0 * std::log10(ratio), -70.0) << factor;
    }
}

class FormulaPlugin : public ::testing::Test {
protected:
    UridMap map;
};

TEST_F(FormulaPlugin, APatchSetChangesTheFormulaAtItsFrameInEveryChannel) {
    TestPlugin plugin(kFormulaStereoUri, map);
    ASSERT_TRUE(plugin.ok());
    EXPECT_EQ(plugin.formula(), "x");
    for (int c = 0; c < 2; ++c)
        std::fill(plugin.input(c).begin(), plugin.input(c).end(), c == 0 ? 0.1f : -0.2f);
    plugin.patchSet(100, "x*0.5+1");
    plugin.run(256);
    for (int c = 0; c < 2; ++c) {
        const float in = c == 0 ? 0.1f : -0.2f;
        // Before frame 100 the identity, from it on half the input plus 1 V (0.1).
        EXPECT_FLOAT_EQ(plugin.output(c)[99], in) << c;
        EXPECT_NEAR(plugin.output(c)[100], in * 0.5f + 0.1f, 1e-6) << c;
        EXPECT_NEAR(plugin.output(c)[255], in * 0.5f + 0.1f, 1e-6) << c;
    }
    EXPECT_EQ(plugin.notifiedFormulas(), std::vector<std::string>{"x*0.5+1"});
    EXPECT_EQ(plugin.formula(), "x*0.5+1");
}

TEST_F(FormulaPlugin, HostileMessagesChangeNothing) {
    TestPlugin plugin(kFormulaMonoUri, map);
    ASSERT_TRUE(plugin.ok());
    plugin.patchSet(0, "2");
    plugin.run(16);
    ASSERT_EQ(plugin.formula(), "2");

    const LV2_URID string = map.map(LV2_ATOM__String);
    const LV2_URID object = map.map(LV2_ATOM__Object);
    // Too long, malformed UTF-8, an embedded NUL, the empty text is allowed (and stays "2" after).
    plugin.patchSet(0, std::string(5000, 'x'));
    plugin.patchSet(1, "x\xC0\x80");
    plugin.patchSet(2, "\xED\xA0\x80");
    plugin.run(16);
    EXPECT_EQ(plugin.formula(), "2");

    // Wrong value types, an unknown property, a patch:Set without value, no object at all.
    const auto setWith = [&](LV2_URID property, LV2_URID valueType, const void* value, uint32_t size) {
        std::vector<unsigned char> body(sizeof(LV2_Atom_Object_Body));
        LV2_Atom_Object_Body head = {0, map.map(LV2_PATCH__Set)};
        std::memcpy(body.data(), &head, sizeof(head));
        const auto add = [&](LV2_URID key, LV2_URID type, const void* data, uint32_t bytes) {
            LV2_Atom_Property_Body p = {key, 0, {bytes, type}};
            const std::size_t at = body.size();
            body.resize(at + sizeof(p) + ((bytes + 7u) & ~7u), 0);
            std::memcpy(body.data() + at, &p, sizeof(p));
            std::memcpy(body.data() + at + sizeof(p), data, bytes);
        };
        const LV2_URID propertyValue = property;
        add(map.map(LV2_PATCH__property), map.map(LV2_ATOM__URID), &propertyValue, sizeof(LV2_URID));
        if (value != nullptr)
            add(map.map(LV2_PATCH__value), valueType, value, size);
        plugin.rawEvent(0, object, body.data(), static_cast<uint32_t>(body.size()));
    };
    const LV2_URID formula = map.map(kFormulaParameterUri);
    const int32_t number = 3;
    setWith(formula, map.map(LV2_ATOM__Int), &number, sizeof(number));
    setWith(formula, map.map(LV2_ATOM__Path), "/x", 3);
    setWith(map.map("http://example.org/unknown"), string, "x*3", 4);
    setWith(formula, string, nullptr, 0);
    plugin.rawEvent(0, string, "x*4", 4);
    const int32_t integer = 7;
    plugin.rawEvent(0, map.map(LV2_ATOM__Int), &integer, sizeof(integer));
    plugin.run(16);
    EXPECT_EQ(plugin.formula(), "2");

    // An object whose property claims more bytes than the object holds, and a sequence whose last
    // event claims more than the sequence: read no further than the sequence.
    std::vector<unsigned char> lying(sizeof(LV2_Atom_Object_Body) + sizeof(LV2_Atom_Property_Body), 0);
    LV2_Atom_Object_Body head = {0, map.map(LV2_PATCH__Set)};
    LV2_Atom_Property_Body property = {map.map(LV2_PATCH__value), 0, {1u << 30, string}};
    std::memcpy(lying.data(), &head, sizeof(head));
    std::memcpy(lying.data() + sizeof(head), &property, sizeof(property));
    plugin.rawEvent(0, object, lying.data(), static_cast<uint32_t>(lying.size()));
    plugin.run(16);
    EXPECT_EQ(plugin.formula(), "2");

    unsigned char* buffer = plugin.controlBuffer();
    auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(buffer);
    auto* event = reinterpret_cast<LV2_Atom_Event*>(sequence + 1);
    event->time.frames = 0;
    event->body.type = object;
    event->body.size = 0xFFFFFFF0u;
    plugin.setControlSize(static_cast<uint32_t>(sizeof(LV2_Atom_Sequence_Body) + sizeof(LV2_Atom_Event)));
    plugin.run(16);
    EXPECT_EQ(plugin.formula(), "2");

    // A notify port too small for the answer gets a well-formed empty sequence; the answer follows
    // when there is room.
    plugin.patchGet(0);
    plugin.run(16, 40);
    EXPECT_TRUE(plugin.notifiedFormulas().empty());
    plugin.run(16);
    EXPECT_EQ(plugin.notifiedFormulas(), std::vector<std::string>{"2"});
}

TEST_F(FormulaPlugin, StateSavesAndRestoresTheFormula) {
    std::map<LV2_URID, std::pair<LV2_URID, std::string>> stored;
    {
        TestPlugin plugin(kFormulaMonoUri, map);
        plugin.patchSet(0, "tanh(x)*4 \xE2\x80\x94 ok"); // non-ASCII survives as UTF-8
        plugin.run(8);
        ASSERT_EQ(plugin.save(&stored), LV2_STATE_SUCCESS);
    }
    const LV2_URID formula = map.map(kFormulaParameterUri);
    ASSERT_EQ(stored.count(formula), 1u);
    EXPECT_EQ(stored[formula].first, map.map(LV2_ATOM__String));
    EXPECT_EQ(stored[formula].second, std::string("tanh(x)*4 \xE2\x80\x94 ok") + '\0');

    TestPlugin restored(kFormulaStereoUri, map);
    ASSERT_EQ(restored.restore(stored), LV2_STATE_SUCCESS);
    EXPECT_EQ(restored.formula(), "tanh(x)*4 \xE2\x80\x94 ok");

    // A value of the wrong type is refused and changes nothing; a state without a formula is the
    // default one.
    auto wrong = stored;
    wrong[formula].first = map.map(LV2_ATOM__Int);
    EXPECT_EQ(restored.restore(wrong), LV2_STATE_ERR_BAD_TYPE);
    EXPECT_EQ(restored.formula(), "tanh(x)*4 \xE2\x80\x94 ok");
    EXPECT_EQ(restored.restore({}), LV2_STATE_SUCCESS);
    EXPECT_EQ(restored.formula(), "x");
}

TEST_F(FormulaPlugin, DriveLevelAndMixActAroundTheModule) {
    TestPlugin plugin(kFormulaMonoUri, map);
    ASSERT_TRUE(plugin.ok());
    plugin.patchSet(0, "x*x/5"); // output volts = input volts squared / 5
    // 2.5 V in: a table entry of its own, so no interpolation error.
    std::fill(plugin.input(0).begin(), plugin.input(0).end(), 0.25f);
    plugin.run(64);
    EXPECT_FLOAT_EQ(plugin.output(0)[63], 0.125f); // 1.25 V out

    // Drive +6.0206 dB doubles the input (5 V: 5 V out); level -6.0206 dB halves the output.
    plugin.control(kPortDrive) = 20.0f * std::log10(2.0f);
    plugin.control(kPortLevel) = -20.0f * std::log10(2.0f);
    plugin.run(64); // the change is ramped over this run
    plugin.run(64);
    EXPECT_NEAR(plugin.output(0)[63], 0.25f, 1e-6);
    // Half wet: half the undriven input and half the module's output, both levelled.
    plugin.control(kPortMix) = 50.0f;
    plugin.run(64);
    plugin.run(64);
    EXPECT_NEAR(plugin.output(0)[63], 0.5f * (0.5f * 0.25f + 0.5f * 0.5f), 1e-6);
    // Out of range and NaN controls act as their limits or defaults: 0 dB drive, +12 dB level, dry.
    plugin.control(kPortDrive) = NAN;
    plugin.control(kPortLevel) = 100.0f;
    plugin.control(kPortMix) = -5.0f;
    plugin.run(64);
    plugin.run(64);
    EXPECT_NEAR(plugin.output(0)[63], 0.25f * std::pow(10.0f, 12.0f / 20.0f), 1e-5);
}

TEST_F(FormulaPlugin, OversamplingReportsItsLatencyAndKeepsDryAndWetAligned) {
    TestPlugin plugin(kFormulaMonoUri, map);
    ASSERT_TRUE(plugin.ok());
    plugin.control(kPortMix) = 50.0f;
    for (float factor : {1.0f, 2.0f, 4.0f, 8.0f, 3.0f}) {
        SCOPED_TRACE(factor);
        plugin.control(kPortOversampling) = factor;
        const int expected = Oversampler::latencyOf(factor == 3.0f ? 4 : static_cast<int>(factor));
        // A low sine through the identity, half dry, half wet: the output is the input, delayed.
        const uint32_t frames = 2048;
        for (uint32_t n = 0; n < frames; ++n)
            plugin.input(0)[n] =
                static_cast<float>(0.3 * std::sin(2.0 * 3.14159265358979 * 500.0 * n / 48000.0));
        plugin.run(frames);
        EXPECT_EQ(plugin.control(kPortLatency), static_cast<float>(expected));
        plugin.run(frames);
        double largest = 0.0;
        for (uint32_t n = static_cast<uint32_t>(expected); n < frames; ++n) {
            const double phase =
                2.0 * 3.14159265358979 * 500.0 * (static_cast<double>(n) - expected) / 48000.0;
            largest = std::max(largest, std::fabs(plugin.output(0)[n] - 0.3 * std::sin(phase)));
        }
        EXPECT_LT(largest, 2e-3);
    }
}

TEST(CurvePlugin, PointControlsShapeTheAudio) {
    UridMap map;
    TestPlugin plugin(kCurveMonoUri, map);
    ASSERT_TRUE(plugin.ok());
    std::fill(plugin.input(0).begin(), plugin.input(0).end(), 0.0f);
    plugin.input(0)[1] = 0.05f;         // 0.5 V: halfway between the points at 0 V and 1 V
    plugin.input(0)[2] = -0.7f;         // beyond -5 V: the first point's y
    plugin.control(kPortY0 + 5) = 2.0f; // the point at 0 V now gives 2 V
    plugin.control(kPortY0) = -4.0f;
    plugin.run(4);
    EXPECT_NEAR(plugin.output(0)[0], 0.2f, 1e-6);
    EXPECT_NEAR(plugin.output(0)[1], 0.15f, 1e-6);
    EXPECT_NEAR(plugin.output(0)[2], -0.4f, 1e-6);
    // Beyond the range and NaN: clamped to +-5 V, NaN keeps the point where it was.
    plugin.control(kPortY0 + 5) = 9.0f;
    plugin.control(kPortY0) = NAN;
    plugin.run(4);
    EXPECT_NEAR(plugin.output(0)[0], 0.5f, 1e-6);
    EXPECT_NEAR(plugin.output(0)[2], -0.4f, 1e-6);
}

TEST(Descriptor, OffersFourPluginsAndRefusesAFormulaPluginWithoutAUridMap) {
    UridMap map;
    for (const char* uri : {kCurveMonoUri, kCurveStereoUri, kFormulaMonoUri, kFormulaStereoUri})
        EXPECT_TRUE(TestPlugin(uri, map).ok()) << uri;
    EXPECT_EQ(lv2_descriptor(4), nullptr);
    // Without features: the curve plugins run, the formula plugins need urid:map.
    const LV2_Feature* none[] = {nullptr};
    for (uint32_t i = 0; i < 4; ++i) {
        const LV2_Descriptor* d = lv2_descriptor(i);
        LV2_Handle handle = d->instantiate(d, 48000.0, "/tmp", none);
        EXPECT_EQ(handle != nullptr, std::strstr(d->URI, "#curve") != nullptr) << d->URI;
        if (handle != nullptr)
            d->cleanup(handle);
    }
}

} // namespace
