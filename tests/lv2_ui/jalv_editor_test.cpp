// The curve editor inside a real LV2 host: jalv.gtk3 (which embeds X11 UIs through suil) runs the
// curve plugin with its UI on a JACK server of the test's own (dummy driver, a name no other test
// uses), under the X server that CTest starts with xvfb-run. The test finds the editor window, drags
// a point with real pointer input (xdotool), and checks against shaperhost:
//  - the window's pixels (xwd) are those of `shaperhost editor --png` of the same curve;
//  - the plugin's sound, recorded from its output port beside its input (jack_rec), is what
//    `shaperhost render` makes of that input with the curve text `shaperhost editor --drag` predicts
//    for the same drag, and no longer the identity's.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

const std::string kPluginUri = "http://waveshapers.example/lv2#curve-mono";
const std::string kWindowName = "waveshapers curve editor";
constexpr int kPanel = 100;

std::string lv2Folder() {
    const char* folder = std::getenv("WAVESHAPERS_LV2_FOLDER");
    return folder != nullptr ? folder : WAVESHAPERS_LV2_FOLDER;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// A folder of the test's own under the temporary folder, removed at the end.
class Folder {
public:
    Folder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/waveshapers-jalv-ui-XXXXXX";
        if (mkdtemp(&pattern[0]) != nullptr)
            path = pattern;
    }
    ~Folder() {
        if (!path.empty())
            std::system(("rm -rf " + shellQuoted(path)).c_str());
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }

    std::string path;
};

// The environment every program of the session gets: the JACK server by name (never started on
// demand), our bundle only, and home and caches inside the test's folder.
std::vector<std::string> sessionEnvironment(const Folder& folder, const std::string& server) {
    return {"JACK_DEFAULT_SERVER=" + server,
            "JACK_NO_START_SERVER=1",
            "JACK_NO_AUDIO_RESERVATION=1",
            "LV2_PATH=" + lv2Folder(),
            "HOME=" + folder.path,
            "XDG_CONFIG_HOME=" + (folder / "config"),
            "XDG_CACHE_HOME=" + (folder / "cache"),
            "XDG_DATA_HOME=" + (folder / "data"),
            "NO_AT_BRIDGE=1",
            "GSETTINGS_BACKEND=memory"};
}

// A program started in the background, output to a file, ended by its process id.
class Background {
public:
    Background(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnvironment,
               const std::string& logPath) {
        std::vector<std::string> environment = extraEnvironment;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry(*e);
            const std::string name = entry.substr(0, entry.find('=') + 1);
            bool overridden = false;
            for (const std::string& extra : extraEnvironment)
                overridden = overridden || extra.compare(0, name.size(), name) == 0;
            if (!overridden)
                environment.push_back(entry);
        }
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& e : environment)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        pid_t child = -1;
        if (posix_spawnp(&child, args[0], &actions, nullptr, args.data(), envp.data()) == 0)
            pid = child;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Background() { stop(); }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    bool running() const { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

    // SIGTERM, and SIGKILL when the program has not ended after five seconds.
    void stop() {
        if (pid <= 0)
            return;
        kill(pid, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (waitpid(pid, nullptr, WNOHANG) != 0) {
                pid = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }

private:
    pid_t pid = -1;
};

struct CommandResult {
    int exitCode = -1;
    std::string out;
};

// A shell command line with the session's environment; standard output returned, errors to a log.
CommandResult run(const std::vector<std::string>& environment, const std::string& command,
                  const Folder& folder) {
    std::string line = "env";
    for (const std::string& e : environment)
        line += " " + shellQuoted(e);
    line += " sh -c " + shellQuoted(command) + " >" + shellQuoted(folder / "run.out") + " 2>>" +
            shellQuoted(folder / "run.err");
    CommandResult result;
    const int status = std::system(line.c_str());
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readText(folder / "run.out");
    return result;
}

// The RGB bytes of a picture file (PNG or xwd) as ImageMagick reads it.
std::vector<uint8_t> rgbBytes(const std::vector<std::string>& environment, const std::string& source,
                              const Folder& folder, int* width, int* height) {
    const CommandResult size = run(environment, "identify -format '%w %h' " + source, folder);
    std::istringstream in(size.out);
    in >> *width >> *height;
    run(environment, "convert " + source + " -depth 8 rgb:" + shellQuoted(folder / "pixels.rgb"), folder);
    const std::string bytes = readText(folder / "pixels.rgb");
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

class JalvEditor : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder.path.empty());
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "no X server: run under xvfb-run";
        environment = sessionEnvironment(folder, server);
        jack = std::make_unique<Background>(
            std::vector<std::string>{"jackd", "-r", "-n", server, "-d", "dummy", "-r", "48000", "-p", "256"},
            environment, folder / "jackd.log");
        ASSERT_EQ(run(environment, "jack_wait -w -t 20 -s " + server, folder).exitCode, 0)
            << readText(folder / "jackd.log");
        jalv = std::make_unique<Background>(
            std::vector<std::string>{"jalv.gtk3", "-x", "--jack-name", "shaper", kPluginUri}, environment,
            folder / "jalv.log");
        source = std::make_unique<Background>(std::vector<std::string>{"jack_simple_client"}, environment,
                                              folder / "source.log");
        // The editor window appears once jalv has instantiated the plugin and embedded its UI.
        for (int i = 0; i < 200 && window.empty(); ++i) {
            const CommandResult found =
                run(environment, "xdotool search --name " + shellQuoted(kWindowName), folder);
            if (found.exitCode == 0)
                window = found.out.substr(0, found.out.find('\n'));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ASSERT_FALSE(window.empty()) << "no editor window\n" << readText(folder / "jalv.log");
        bool connected = false;
        for (int i = 0; i < 100 && !connected; ++i) {
            connected =
                run(environment, "jack_connect jack_simple_client:output1 shaper:in", folder).exitCode == 0;
            if (!connected)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ASSERT_TRUE(connected) << readText(folder / "run.err");
    }

    void TearDown() override {
        if (::testing::Test::HasFailure()) {
            std::printf("jalv:\n%s\njackd:\n%s\ncommands:\n%s\n", readText(folder / "jalv.log").c_str(),
                        readText(folder / "jackd.log").c_str(), readText(folder / "run.err").c_str());
        }
        if (jalv)
            jalv->stop();
        if (source)
            source->stop();
        if (jack)
            jack->stop();
    }

    std::string shaperhost(const std::string& arguments) {
        const CommandResult result = run(environment, shellQuoted(SHAPERHOST) + " " + arguments, folder);
        EXPECT_EQ(result.exitCode, 0) << arguments << "\n" << readText(folder / "run.err");
        return result.out;
    }

    // The curve text that the editor sent, as shaperhost reports it ("curve text: ...").
    static std::string curveTextOf(const std::string& report) {
        const std::string key = "curve text: ";
        const std::size_t at = report.find(key);
        if (at == std::string::npos)
            return std::string();
        return report.substr(at + key.size(), report.find('\n', at) - at - key.size());
    }

    // The editor window on the screen against shaperhost's picture of the panel with the same text:
    // every pixel of the panel.
    void expectWindowShows(const std::string& pngPath) {
        run(environment, "xwd -silent -id " + window + " > " + shellQuoted(folder / "window.xwd"), folder);
        int windowWidth = 0;
        int windowHeight = 0;
        const std::vector<uint8_t> shown = rgbBytes(environment, "xwd:" + shellQuoted(folder / "window.xwd"),
                                                    folder, &windowWidth, &windowHeight);
        int width = 0;
        int height = 0;
        const std::vector<uint8_t> expected =
            rgbBytes(environment, shellQuoted(pngPath), folder, &width, &height);
        ASSERT_EQ(width, kPanel);
        ASSERT_EQ(height, kPanel);
        // jalv may give the window a few more pixels than the panel (its menu bar is wider); the
        // panel is at the window's top left.
        ASSERT_GE(windowWidth, kPanel);
        ASSERT_GE(windowHeight, kPanel);
        ASSERT_EQ(shown.size(), static_cast<std::size_t>(windowWidth) * windowHeight * 3);
        int differing = 0;
        for (int y = 0; y < kPanel; ++y) {
            for (int x = 0; x < kPanel; ++x) {
                for (int c = 0; c < 3; ++c) {
                    if (shown[(static_cast<std::size_t>(y) * windowWidth + x) * 3 + c] !=
                        expected[(static_cast<std::size_t>(y) * kPanel + x) * 3 + c]) {
                        ++differing;
                        break;
                    }
                }
            }
        }
        EXPECT_EQ(differing, 0) << "pixels of the panel that differ from " << pngPath;
    }

    // Records the source and the plugin's output for a second and says whether the output is what
    // shaperhost renders of that input with the curve text (to -120 dBFS: the recording holds 32-bit
    // integers). A recording without a second of the source's sine (peaks of 2 V, 0.2 of full scale)
    // in it proves nothing and counts as a mismatch.
    bool soundIs(const std::string& text, const std::string& name) {
        const std::string recording = folder / (name + ".wav");
        const std::string input = folder / (name + "-in.wav");
        const std::string output = folder / (name + "-out.wav");
        const std::string rendered = folder / (name + "-rendered.wav");
        if (run(environment,
                "jack_rec -f " + shellQuoted(recording) + " -d 1 -b 32 jack_simple_client:output1 shaper:out",
                folder)
                .exitCode != 0)
            return false;
        run(environment,
            "sox " + shellQuoted(recording) + " -e floating-point " + shellQuoted(input) + " remix 1",
            folder);
        run(environment,
            "sox " + shellQuoted(recording) + " -e floating-point " + shellQuoted(output) + " remix 2",
            folder);
        const CommandResult frames = run(environment, "soxi -s " + shellQuoted(input), folder);
        const CommandResult peak =
            run(environment,
                "sox " + shellQuoted(input) + " -n stat 2>&1 | sed -n 's/^Maximum amplitude: *//p'", folder);
        EXPECT_GE(std::atol(frames.out.c_str()), 48000L) << name;
        EXPECT_GT(std::atof(peak.out.c_str()), 0.19) << name;
        if (std::atol(frames.out.c_str()) < 48000L || std::atof(peak.out.c_str()) <= 0.19)
            return false;
        shaperhost("render -m 'Curve Waveshaper' -i " + shellQuoted(input) + " -o " + shellQuoted(rendered) +
                   " --format float -t " + shellQuoted(text));
        return run(environment,
                   shellQuoted(SHAPERHOST) + " diff " + shellQuoted(output) + " " + shellQuoted(rendered) +
                       " --tolerance -120",
                   folder)
                   .exitCode == 0;
    }

    bool soundBecomes(const std::string& text, const std::string& name) {
        for (int attempt = 0; attempt < 10; ++attempt) {
            if (soundIs(text, name + std::to_string(attempt)))
                return true;
        }
        return false;
    }

    // A press at `from`, the moves shaperhost makes for `steps`, and a release, as real pointer input.
    void drag(int fromX, int fromY, int toX, int toY, int steps) {
        const std::string at = " mousemove --sync --window " + window + " ";
        std::string actions =
            "xdotool" + at + std::to_string(fromX) + " " + std::to_string(fromY) + " mousedown 1";
        for (int k = 1; k <= steps; ++k) {
            const long x = fromX + std::lround(static_cast<double>(toX - fromX) * k / steps);
            const long y = fromY + std::lround(static_cast<double>(toY - fromY) * k / steps);
            actions += at + std::to_string(x) + " " + std::to_string(y);
        }
        actions += " mouseup 1";
        ASSERT_EQ(run(environment, actions, folder).exitCode, 0) << actions;
    }

    Folder folder;
    const std::string server = "waveshapers-jalv-ui-" + std::to_string(getpid());
    std::vector<std::string> environment;
    std::unique_ptr<Background> jack;
    std::unique_ptr<Background> jalv;
    std::unique_ptr<Background> source;
    std::string window;
};

TEST_F(JalvEditor, ARealDragInTheEmbeddedEditorChangesTheCurveAndTheSoundAsShaperhostPredicts) {
    // Before: the identity curve, drawn and heard.
    const std::string identity =
        curveTextOf(shaperhost("editor --png " + shellQuoted(folder / "identity.png")));
    ASSERT_FALSE(identity.empty());
    ASSERT_TRUE(soundBecomes(identity, "identity")) << "the plugin does not sound like the identity curve";
    expectWindowShows(folder / "identity.png");

    // Point 5 (0 V, 0 V) from the panel's centre 20 pixels up.
    drag(50, 50, 50, 30, 4);
    const std::string edited = curveTextOf(
        shaperhost("editor --drag 50,50:50,30 --steps 4 --png " + shellQuoted(folder / "edited.png")));
    ASSERT_EQ(edited, "(-5.0,-5.0)(-4.0,-4.0)(-3.0,-3.0)(-2.0,-2.0)(-1.0,-1.0)(0.0,2.0)(1.0,1.0)(2.0,2.0)"
                      "(3.0,3.0)(4.0,4.0)(5.0,5.0)");
    EXPECT_TRUE(soundBecomes(edited, "edited")) << "the plugin's sound does not follow the drag";
    EXPECT_FALSE(soundIs(identity, "still-identity")) << "the plugin still sounds like the identity curve";
    expectWindowShows(folder / "edited.png");
}

} // namespace
