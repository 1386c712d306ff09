// The bundle in real third-party hosts from Debian's packages: the LV2 validator, lilv's tools
// (lv2ls, lv2info, lv2apply), lv2file with presets, and jalv running each plugin in real time on a
// JACK server with the dummy driver that the test starts and stops itself. Outputs are compared with
// shaperhost's renders of the same input with the same text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host_test_support.h"

namespace {

using namespace lv2test;

const std::string kCurveMono = "http://waveshapers.example/lv2#curve-mono";
const std::string kCurveStereo = "http://waveshapers.example/lv2#curve-stereo";
const std::string kFormulaMono = "http://waveshapers.example/lv2#formula-mono";
const std::string kFormulaStereo = "http://waveshapers.example/lv2#formula-stereo";
const std::string kPresets = "http://waveshapers.example/lv2/presets#";

const char* const kIdentityCurve = "(-5.0,-5.0)(-4.0,-4.0)(-3.0,-3.0)(-2.0,-2.0)(-1.0,-1.0)(0.0,0.0)(1.0,1.0)"
                                   "(2.0,2.0)(3.0,3.0)(4.0,4.0)(5.0,5.0)";

// A sine rising to +-0.7 (7 V, beyond the table's +-5 V) over the file; the second channel a
// quieter sine of another frequency.
std::vector<float> testSignal(int channels, int frames) {
    std::vector<float> samples;
    for (int n = 0; n < frames; ++n) {
        const double level = 0.7 * n / frames;
        samples.push_back(static_cast<float>(level * std::sin(2.0 * 3.14159265358979 * 220.0 * n / 48000.0)));
        if (channels == 2)
            samples.push_back(
                static_cast<float>(0.3 * std::sin(2.0 * 3.14159265358979 * 330.0 * n / 48000.0)));
    }
    return samples;
}

// Renders in.wav through shaperhost with the module and text, to `out`.
void shaperhostRender(const std::string& module, const std::string& text, const std::string& in,
                      const std::string& out) {
    const RunResult result = runCommand(
        {shaperhost(), "render", "-m", module, "-t", text, "-i", in, "-o", out, "--format", "float"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
}

// Every sample equal, reported at the first difference.
void expectSameSamples(const Sound& actual, const Sound& expected) {
    ASSERT_EQ(actual.channels, expected.channels);
    ASSERT_EQ(actual.samples.size(), expected.samples.size());
    for (std::size_t i = 0; i < actual.samples.size(); ++i) {
        if (actual.samples[i] != expected.samples[i]) {
            ADD_FAILURE() << "sample " << i / actual.channels << " channel " << i % actual.channels << ": "
                          << actual.samples[i] << " instead of " << expected.samples[i];
            return;
        }
    }
}

// One channel of interleaved audio.
std::vector<float> channel(const Sound& sound, int c) {
    std::vector<float> out;
    for (std::size_t i = static_cast<std::size_t>(c); i < sound.samples.size();
         i += static_cast<std::size_t>(sound.channels))
        out.push_back(sound.samples[i]);
    return out;
}

class Lv2Hosts : public HostTest {};

TEST_F(Lv2Hosts, TheBundleValidatesAgainstTheLv2Vocabularies) {
    const std::string bundle = lv2Folder() + "/waveshapers.lv2/";
    const RunResult result = runCommand(
        {"lv2_validate", bundle + "manifest.ttl", bundle + "waveshapers.ttl", bundle + "presets.ttl"});
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("Found 0 errors"), std::string::npos) << result.out << result.err;
    EXPECT_EQ(result.err.find("error"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("warning"), std::string::npos) << result.err;
}

TEST_F(Lv2Hosts, LilvFindsTheFourPluginsAndDescribesThemWithoutWarnings) {
    const RunResult list = runCommand({"lv2ls"}, lv2Environment());
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_EQ(list.out,
              kCurveMono + "\n" + kCurveStereo + "\n" + kFormulaMono + "\n" + kFormulaStereo + "\n");
    EXPECT_EQ(list.err, "");

    struct Expected {
        std::string uri;
        int ports;
        const char* name;
    };
    const Expected plugins[] = {{kCurveMono, 29, "Curve Waveshaper (mono)"},
                                {kCurveStereo, 31, "Curve Waveshaper (stereo)"},
                                {kFormulaMono, 9, "Formula Waveshaper (mono)"},
                                {kFormulaStereo, 11, "Formula Waveshaper (stereo)"}};
    for (const Expected& plugin : plugins) {
        // The system's LV2 folder too (the lv2-dev vocabularies), as a user's LV2_PATH has it.
        const RunResult info = runCommand({"lv2info", plugin.uri},
                                          {"LV2_PATH=" + lv2Folder() + ":/usr/lib/lv2", "HOME=" + folder});
        EXPECT_EQ(info.exitCode, 0) << plugin.uri;
        EXPECT_EQ(info.err, "") << plugin.uri;
        EXPECT_NE(info.out.find("Name:              " + std::string(plugin.name)), std::string::npos)
            << info.out;
        EXPECT_NE(info.out.find("Class:             Waveshaper Plugin"), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("Has latency:       yes, reported by port 4"), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("Port " + std::to_string(plugin.ports - 1) + ":"), std::string::npos);
        EXPECT_EQ(info.out.find("Port " + std::to_string(plugin.ports) + ":"), std::string::npos);
        for (const char* preset : {"Soft clip", "Hard clip", "Wavefolder", "Asymmetric tube", "Identity"})
            EXPECT_NE(info.out.find("         " + std::string(preset) + "\n"), std::string::npos)
                << plugin.uri << " lacks the preset " << preset;
    }
}

TEST_F(Lv2Hosts, InstallPutsTheBundleIntoTheLv2FolderOfThePrefix) {
    // A build configured with a folder of its own (a user's ~/.lv2) would install there, outside the
    // test's folder.
    if (std::string(LV2_TEST_INSTALL_DIR).rfind('/', 0) == 0)
        GTEST_SKIP() << "the bundle installs into " << LV2_TEST_INSTALL_DIR << ", not under a prefix";
    const RunResult install = runCommand(
        {LV2_TEST_CMAKE, "--install", LV2_TEST_BUILD_DIR, "--component", "lv2", "--prefix", path("prefix")});
    ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
    const std::string folder = path("prefix") + "/" + LV2_TEST_INSTALL_DIR;
    for (const char* file : {"manifest.ttl", "waveshapers.ttl", "presets.ttl", "waveshapers_lv2.so"})
        EXPECT_TRUE(fileExists(folder + "/waveshapers.lv2/" + file)) << file;
    const RunResult list = runCommand({"lv2ls"}, {"LV2_PATH=" + folder, "HOME=" + path("")});
    EXPECT_EQ(list.out,
              kCurveMono + "\n" + kCurveStereo + "\n" + kFormulaMono + "\n" + kFormulaStereo + "\n");
}

TEST_F(Lv2Hosts, Lv2applyRendersTheCurveOfThePointControlsAsShaperhostDoes) {
    writeFloatWav(path("in.wav"), 1, 48000, testSignal(1, 48000));
    writeFloatWav(path("in2.wav"), 2, 48000, testSignal(2, 48000));

    // Default points: the identity curve.
    RunResult result = runCommand({"lv2apply", "-i", path("in.wav"), "-o", path("identity.wav"), kCurveMono},
                                  lv2Environment());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    shaperhostRender("Curve Waveshaper", kIdentityCurve, path("in.wav"), path("identity-expected.wav"));
    Sound actual, expected;
    ASSERT_TRUE(readSound(path("identity.wav"), &actual));
    ASSERT_TRUE(readSound(path("identity-expected.wav"), &expected));
    expectSameSamples(actual, expected);

    // Moved points. The curve text is the one the editor writes for them: each point taken to its grid
    // and back, then one decimal, half away from zero. -2.25 V comes back exactly and is written -2.3;
    // 3.05 V comes back as 3.0499999999999998 and is written 3.0.
    const std::vector<std::string> points = {"-c", "y0",  "-4.5", "-c",    "x3",  "-2.5", "-c",  "y3",
                                             "-4", "-c",  "y4",   "-2.25", "-c",  "y6",   "3",   "-c",
                                             "x8", "3.5", "-c",   "y9",    "4.9", "-c",   "y10", "3.05"};
    const std::string text = "(-5.0,-4.5)(-4.0,-4.0)(-3.0,-3.0)(-2.5,-4.0)(-1.0,-2.3)(0.0,0.0)(1.0,3.0)"
                             "(2.0,2.0)(3.5,3.0)(4.0,4.9)(5.0,3.0)";
    for (const auto& run : {std::make_pair(kCurveMono, std::string("in.wav")),
                            std::make_pair(kCurveStereo, std::string("in2.wav"))}) {
        std::vector<std::string> args = {"lv2apply", "-i", path(run.second), "-o", path("moved.wav")};
        args.insert(args.end(), points.begin(), points.end());
        args.push_back(run.first);
        result = runCommand(args, lv2Environment());
        ASSERT_EQ(result.exitCode, 0) << result.err;
        shaperhostRender("Curve Waveshaper", text, path(run.second), path("moved-expected.wav"));
        ASSERT_TRUE(readSound(path("moved.wav"), &actual));
        ASSERT_TRUE(readSound(path("moved-expected.wav"), &expected));
        SCOPED_TRACE(run.first);
        expectSameSamples(actual, expected);
    }
}

TEST_F(Lv2Hosts, Lv2fileRendersWithAFormulaPresetAsShaperhostDoes) {
    writeFloatWav(path("in.wav"), 1, 48000, testSignal(1, 48000));
    writeFloatWav(path("in2.wav"), 2, 48000, testSignal(2, 48000));
    // The factory presets by their labels, and their formulas as a user reads them in presets.ttl.
    const std::pair<const char*, const char*> presets[] = {{"Soft clip", "5*tanh(x/2.5)/tanh(2)"},
                                                           {"Hard clip", "max(-2.5,min(2.5,x))"},
                                                           {"Wavefolder", "5*sin(x*pi/7)"},
                                                           {"Asymmetric tube", "5*(tanh(x/4+0.3)-tanh(0.3))"},
                                                           {"Identity", "x"}};
    for (const auto& preset : presets) {
        for (const auto& plugin : {std::make_pair(kFormulaMono, std::string("in.wav")),
                                   std::make_pair(kFormulaStereo, std::string("in2.wav"))}) {
            SCOPED_TRACE(plugin.first + " " + preset.first);
            const RunResult result = runCommand({"lv2file", "-i", path(plugin.second), "-o", path("out.wav"),
                                                 "-P", preset.first, plugin.first},
                                                lv2Environment());
            ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
            shaperhostRender("Formula Waveshaper", preset.second, path(plugin.second), path("expected.wav"));
            Sound actual, expected;
            ASSERT_TRUE(readSound(path("out.wav"), &actual));
            ASSERT_TRUE(readSound(path("expected.wav"), &expected));
            expectSameSamples(actual, expected);
        }
    }
}

// Frames per JACK cycle: long cycles, so that a loaded build machine rarely misses one.
constexpr std::size_t kJackPeriod = 1024;

// A JACK server with the dummy driver under a name of its own, stopped with the test. Without real-time
// scheduling, and with a long client timeout so that a client slowed down by a loaded machine is not
// thrown out.
class JackServer {
public:
    explicit JackServer(const std::string& folder)
        : name("waveshapers-lv2-test-" + std::to_string(getpid())),
          server({"jackd", "-r", "-t", "10000", "-n", name, "-d", "dummy", "-r", "48000", "-p",
                  std::to_string(kJackPeriod)},
                 environment(folder), folder + "/jackd.log") {
        const RunResult wait = runCommand({"jack_wait", "-w", "-t", "20", "-s", name}, environment(folder));
        ready = wait.exitCode == 0 && server.running();
    }
    std::vector<std::string> environment(const std::string& folder) const {
        return {"JACK_DEFAULT_SERVER=" + name, "JACK_NO_AUDIO_RESERVATION=1", "JACK_NO_START_SERVER=1",
                "LV2_PATH=" + lv2Folder(), "HOME=" + folder};
    }

    const std::string name;
    bool ready = false;

private:
    Background server;
};

// Polls a file until it holds `text` `times` times or the seconds pass.
bool waitForText(const std::string& path, const std::string& text, int seconds, int times = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string contents = readText(path);
        int found = 0;
        for (std::size_t at = contents.find(text); at != std::string::npos; at = contents.find(text, at + 1))
            ++found;
        if (found >= times)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

class JalvSession : public HostTest {
protected:
    // Runs jalv with `args` and console commands, waits until its console has printed `waitFor`
    // `times` times, feeds it a sine from a JACK client on every input, and records the sine and the
    // plugin's outputs side by side for a second. The console's output goes to *console.
    Sound record(JackServer& jack, const std::vector<std::string>& args, const std::string& commands,
                 const std::string& waitFor, int times, int channels, std::string* console) {
        const std::vector<std::string> env = jack.environment(folder);
        // Names of their own in every session: a client that has just gone may still hold its name.
        ++sessions;
        const std::string client = "shaper" + std::to_string(sessions);
        const std::string sine = "sine" + std::to_string(sessions);
        Background source({"jack_simple_client", sine}, env, path("source.log"));
        // Line-buffered, so its console shows up in the log as it is printed.
        std::vector<std::string> jalv = {"stdbuf", "-oL", "jalv", "-x", "-n", client};
        jalv.insert(jalv.end(), args.begin(), args.end());
        // jalv takes commands on standard input and ends at its end: the pipe stays open meanwhile.
        int pipeEnds[2];
        EXPECT_EQ(pipe(pipeEnds), 0);
        Background host(jalv, env, path("jalv.log"), pipeEnds[0]);
        close(pipeEnds[0]);
        EXPECT_TRUE(waitForText(path("jalv.log"), "Block length: " + std::to_string(kJackPeriod), 20))
            << readText(path("jalv.log"));
        if (!commands.empty()) {
            EXPECT_EQ(write(pipeEnds[1], commands.data(), commands.size()),
                      static_cast<ssize_t>(commands.size()));
        }
        if (!waitFor.empty()) {
            EXPECT_TRUE(waitForText(path("jalv.log"), waitFor, 20, times)) << readText(path("jalv.log"));
        }
        // The sine's client is there once JACK lists its port.
        bool listed = false;
        for (int i = 0; i < 200 && !listed; ++i) {
            listed = runCommand({"jack_lsp"}, env).out.find(sine + ":output1") != std::string::npos;
            if (!listed)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_TRUE(listed) << readText(path("source.log"));
        const char* inputs[2][2] = {{"in", nullptr}, {"in_l", "in_r"}};
        const char* outputs[2][2] = {{"out", nullptr}, {"out_l", "out_r"}};
        std::vector<std::string> recorded = {sine + ":output1"};
        for (int c = 0; c < channels; ++c) {
            const RunResult connect =
                runCommand({"jack_connect", sine + ":output1", client + ":" + inputs[channels - 1][c]}, env);
            EXPECT_EQ(connect.exitCode, 0) << connect.err;
            recorded.push_back(client + ":" + outputs[channels - 1][c]);
        }
        std::vector<std::string> rec = {"jack_rec", "-f", path("recorded.wav"), "-d", "1", "-b", "32"};
        rec.insert(rec.end(), recorded.begin(), recorded.end());
        const RunResult recording = runCommand(rec, env, "", 60);
        EXPECT_EQ(recording.exitCode, 0) << recording.out << recording.err;
        EXPECT_TRUE(host.running()) << "jalv ended early:\n" << readText(path("jalv.log"));
        close(pipeEnds[1]);
        host.stop();
        source.stop();
        *console = readText(path("jalv.log"));
        Sound sound;
        EXPECT_TRUE(readSound(path("recorded.wav"), &sound));
        return sound;
    }

    int sessions = 0;

    // The recorded outputs equal shaperhost's render of the recorded input, within the 32-bit
    // integer steps the recorder wrote (the plugin shaped the input before it was stored as integers).
    // Compared cycle by cycle: on a loaded machine JACK may skip a client that misses its deadline,
    // and such a cycle holds a stale output; most cycles must match, none partly.
    void expectShapedAsShaperhost(const Sound& recorded, const std::string& module, const std::string& text) {
        ASSERT_GE(recorded.samples.size(), 48000u * recorded.channels);
        Sound input;
        input.channels = 1;
        input.samples = channel(recorded, 0);
        double peak = 0.0;
        for (float v : input.samples)
            peak = std::max(peak, std::fabs(static_cast<double>(v)));
        ASSERT_GT(peak, 0.05) << "no signal reached the plugin";
        writeFloatWav(path("recorded-in.wav"), 1, 48000, input.samples);
        shaperhostRender(module, text, path("recorded-in.wav"), path("expected.wav"));
        Sound expected;
        ASSERT_TRUE(readSound(path("expected.wav"), &expected));
        for (int c = 1; c < recorded.channels; ++c) {
            const std::vector<float> out = channel(recorded, c);
            ASSERT_EQ(out.size(), expected.samples.size());
            std::size_t cycles = 0;
            std::size_t matching = 0;
            for (std::size_t start = 0; start + kJackPeriod <= out.size(); start += kJackPeriod) {
                ++cycles;
                std::size_t same = 0;
                for (std::size_t i = start; i < start + kJackPeriod; ++i)
                    same += std::fabs(static_cast<double>(out[i]) - expected.samples[i]) < 1e-6 ? 1 : 0;
                matching += same == kJackPeriod ? 1 : 0;
            }
            double outPeak = 0.0, diffPeak = 0.0, expPeak = 0.0;
            for (std::size_t i = 0; i < out.size(); ++i) {
                outPeak = std::max(outPeak, std::fabs(static_cast<double>(out[i])));
                expPeak = std::max(expPeak, std::fabs(static_cast<double>(expected.samples[i])));
                diffPeak = std::max(diffPeak, std::fabs(static_cast<double>(out[i]) - expected.samples[i]));
            }
            EXPECT_GE(matching * 4, cycles * 3)
                << "output channel " << c << ": " << matching << " of " << cycles
                << " cycles as shaperhost renders; output peak " << outPeak << ", expected peak " << expPeak
                << ", largest difference " << diffPeak;
        }
    }
};

TEST_F(JalvSession, EachPluginRunsInRealTimeWithControlsAndPresets) {
    JackServer jack(folder);
    ASSERT_TRUE(jack.ready) << readText(path("jackd.log"));
    std::string console;

    // Curve plugins: points set on jalv's command line and with its console's "set" command.
    for (const auto& plugin : {std::make_pair(kCurveMono, 1), std::make_pair(kCurveStereo, 2)}) {
        SCOPED_TRACE(plugin.first);
        const Sound sound = record(jack, {"-c", "y4=-2.5", "-c", "y6=1.5", plugin.first}, "y10 = 4.5\n",
                                   "y10 = 4.500000", 1, plugin.second, &console);
        EXPECT_NE(console.find("y4 = -2.500000"), std::string::npos) << console;
        expectShapedAsShaperhost(sound, "Curve Waveshaper",
                                 "(-5.0,-5.0)(-4.0,-4.0)(-3.0,-3.0)(-2.0,-2.0)(-1.0,-2.5)(0.0,0.0)(1.0,1.5)"
                                 "(2.0,2.0)(3.0,3.0)(4.0,4.0)(5.0,4.5)");
    }
    // Formula plugins: a factory preset chosen with the console's "preset" command (after "presets",
    // which loads the presets' data in this jalv).
    for (const auto& plugin : {std::make_pair(kFormulaMono, 1), std::make_pair(kFormulaStereo, 2)}) {
        SCOPED_TRACE(plugin.first);
        const std::string kind = plugin.second == 1 ? "mono" : "stereo";
        const Sound sound =
            record(jack, {plugin.first}, "presets\npreset " + kPresets + "formula-" + kind + "-wavefolder\n",
                   "drive = ", 2, plugin.second, &console); // the controls again after the preset
        expectShapedAsShaperhost(sound, "Formula Waveshaper", "5*sin(x*pi/7)");
    }
}

TEST_F(JalvSession, AStateSavedThroughLilvIsRestoredByJalv) {
    JackServer jack(folder);
    ASSERT_TRUE(jack.ready) << readText(path("jackd.log"));
    std::string console;

    // The formula plugin: the tool sets the formula with patch:Set, as a host's editor does, and saves.
    const std::string formula = "3*tanh(x/2)+0.5";
    RunResult saved =
        runCommand({stateTool(), "save", kFormulaStereo, path("formula-state"), formula}, lv2Environment());
    ASSERT_EQ(saved.exitCode, 0) << saved.out << saved.err;
    EXPECT_EQ(saved.out, "formula: " + formula + "\n");
    Sound sound = record(jack, {"-l", path("formula-state")}, "", "", 0, 2, &console);
    expectShapedAsShaperhost(sound, "Formula Waveshaper", formula);

    // The curve plugin: points are port values in the state.
    saved = runCommand({stateTool(), "save", kCurveMono, path("curve-state"), "x2=-3.5", "y2=-1", "y8=4.4"},
                       lv2Environment());
    ASSERT_EQ(saved.exitCode, 0) << saved.out << saved.err;
    sound = record(jack, {"-l", path("curve-state")}, "", "", 0, 1, &console);
    EXPECT_NE(console.find("x2 = -3.500000"), std::string::npos) << console;
    EXPECT_NE(console.find("y8 = 4.400000"), std::string::npos) << console;
    expectShapedAsShaperhost(sound, "Curve Waveshaper",
                             "(-5.0,-5.0)(-4.0,-4.0)(-3.5,-1.0)(-2.0,-2.0)(-1.0,-1.0)(0.0,0.0)(1.0,1.0)"
                             "(2.0,2.0)(3.0,4.4)(4.0,4.0)(5.0,5.0)");
}

} // namespace
