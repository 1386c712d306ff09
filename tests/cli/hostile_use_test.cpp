// The program under careless and hostile use: bad values and paths answered with its own sentence and
// the right exit code, no existing file lost or damaged, no unfinished file left behind, bounded memory.
#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli_test_support.h"
#include "host/plugin_library.h"

namespace fs = std::filesystem;

namespace {

using namespace clitest;

class ShaperhostHostileUse : public ProgramTest {
protected:
    // Replaces "@" at the start of a word by the test folder.
    std::vector<std::string> expand(const std::vector<std::string>& args) const {
        std::vector<std::string> words;
        for (const std::string& a : args)
            words.push_back(!a.empty() && a[0] == '@' ? folder + a.substr(1) : a);
        return words;
    }
    // A character device made in the test folder; false when the system refuses (no privilege).
    bool makeDevice(const std::string& name, unsigned major, unsigned minor) const {
        return mknod(path(name).c_str(), S_IFCHR | 0666, makedev(major, minor)) == 0;
    }
};

// A 16-bit file of `frames` frames of a quiet ramp, in the container of `format`.
void writeSound(const std::string& file, int format, int frames, int channels = 1, int rate = 48000) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = rate;
    info.format = format | SF_FORMAT_PCM_16;
    SNDFILE* sound = sf_open(file.c_str(), SFM_WRITE, &info);
    ASSERT_NE(sound, nullptr) << sf_strerror(nullptr);
    std::vector<short> block(4096 * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<short>((i % 400) * 8 - 1600);
    for (int done = 0; done < frames;) {
        const int n = std::min(4096, frames - done);
        sf_writef_short(sound, block.data(), n);
        done += n;
    }
    sf_close(sound);
}

// The file cut to half its length: the header still claims all of its samples.
void truncateToHalf(const std::string& file) {
    fs::resize_file(file, fs::file_size(file) / 2);
}

std::vector<std::string> partialFiles(const std::string& folder) {
    std::vector<std::string> found;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(folder)) {
        if (e.path().filename().string().find(".partial") != std::string::npos)
            found.push_back(e.path().string());
    }
    return found;
}

struct HostileCase {
    const char* name;
    std::vector<std::string> args; // "@" stands for the test folder
    int exitCode;
    std::string message;
    std::string untouched; // the file (relative to the folder) the case aims at; every file is checked
};

TEST_F(ShaperhostHostileUse, BadInputIsRefusedByNameAndLeavesEveryFileAsItWas) {
    const std::string keep = "KEEP: written by the test\n";
    for (const char* name : {"keep.csv", "keep.png", "keep.wav", "demo/test-signal.wav"}) {
        fs::create_directories(fs::path(path(name)).parent_path());
        writeText(path(name), keep);
    }
    fs::create_directories(path("demo/wavefolder-spectrum.png")); // a folder where the demo writes a file
    fs::create_directories(path("folder.wav"));
    writeSound(path("in.wav"), SF_FORMAT_WAV, 2000);
    fs::create_symlink("in.wav", path("in-link.wav"));
    fs::create_hard_link(path("in.wav"), path("in-hard.wav"));
    writeText(path("empty.wav"), "");
    for (const char* name : {"trunc.wav", "trunc.aiff", "trunc.flac"}) {
        const std::string file = path(name);
        const std::string ext = fs::path(name).extension().string();
        writeSound(file,
                   ext == ".wav"    ? SF_FORMAT_WAV
                   : ext == ".aiff" ? SF_FORMAT_AIFF
                                    : SF_FORMAT_FLAC,
                   48000);
        truncateToHalf(file);
    }
    writeText(path("big.txt"), std::string(2 * 1024 * 1024, 'x'));
    writeText(path("formula.txt"), "x*2\n");
    writeText(path("null-modules.json"), R"({"modules": null})");
    writeText(path("null-id.json"), R"({"modules": [{"id": null, "kind": 0, "pins": []}]})");
    writeText(path("broken.json"), R"({"modules": [)");
    fs::create_directories(path("json-folder.json"));
    const std::string library = programLibrary();
    const std::string description = programFolder() + "waveshapers.json";
    const std::string formula = "VU Reridezizi2D";
    // Files read besides the audio: automation files, a library and its description.
    writeText(path("changes.json"), R"([{"seconds": 0.5, "text": "x/2"}])");
    writeText(path("late.json"), R"([{"seconds": 1e7, "text": "x"}, {"seconds": 1, "text": "tanh(x"}])");
    writeText(path("far.json"), R"([{"seconds": 1e15, "text": "x"}])");
    writeText(path("broken-changes.json"), "[{\"seconds\": 1,\n \"text\": tanh}]");
    writeText(path("huge.json"), "[" + std::string(2 * 1024 * 1024, ' ') + "]");
    fs::create_directories(path("changes-folder.json"));
    // (Refused before the library is loaded, so stand-ins do.)
    writeText(path("lib.so"), "KEEP: a library\n");
    writeText(path("lib.json"), "KEEP: its description\n");
    // An output folder with an earlier output, and a link from an input name to it.
    fs::create_directories(path("out"));
    writeText(path("out/in.wav"), keep);
    fs::create_symlink("out/in.wav", path("to-out.wav"));
    fs::create_symlink("new.csv", path("dangling.csv"));
    fs::create_symlink("changes.json", path("changes-link.wav"));
    // Picture names for files the command reads, so the same-file rule is what refuses them.
    fs::create_symlink("in.wav", path("in-picture.png"));
    fs::create_symlink("lib.so", path("lib-picture.png"));
    fs::create_symlink("lib.json", path("description-picture.png"));
    fs::create_symlink("new.png", path("dangling-picture.csv"));
    // Audio with nothing to render, audio whose header was never finished, audio that is not numbers.
    writeSound(path("zero.wav"), SF_FORMAT_WAV, 0);
    {
        std::string unfinished = readText(path("in.wav"));
        const std::size_t data = unfinished.find("data");
        ASSERT_NE(data, std::string::npos);
        unfinished.replace(data + 4, 4, std::string(4, '\0')); // declares 0 bytes, holds 2000 frames
        writeText(path("unfinished.wav"), unfinished);
        SF_INFO info{};
        info.channels = 1;
        info.samplerate = 48000;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* nan = sf_open(path("nan.wav").c_str(), SFM_WRITE, &info);
        ASSERT_NE(nan, nullptr);
        const std::vector<float> nans(1000, std::nanf(""));
        sf_writef_float(nan, nans.data(), 1000);
        sf_close(nan);
    }
    std::vector<std::pair<std::string, std::string>> before;
    for (const char* name : {"keep.csv", "keep.png", "keep.wav", "demo/test-signal.wav", "in.wav",
                             "formula.txt", "changes.json", "lib.so", "lib.json", "out/in.wav"})
        before.emplace_back(name, readText(path(name)));

    const HostileCase cases[] = {
        // Sizes bounded before memory is taken.
        {"huge editor picture",
         {"editor", "--size", "4096x4096", "--zoom", "16", "--png", "@/keep.png"},
         2,
         "at most 16777216",
         "keep.png"},
        {"editor picture just over the limit",
         {"editor", "--size", "4096x2049", "--zoom", "2", "--png", "@/keep.png"},
         2,
         "--size 4096x2049 with --zoom 2",
         "keep.png"},
        {"editor size not a number",
         {"editor", "--size", "nanx100", "--png", "@/keep.png"},
         2,
         "--size",
         "keep.png"},
        {"text file too large",
         {"table", "-m", formula, "--text-file", "@/big.txt", "--csv", "@/keep.csv"},
         1,
         "larger than the 1024 KiB allowed",
         "keep.csv"},
        {"text file a folder",
         {"table", "-m", formula, "--text-file", "@/demo", "--csv", "@/keep.csv"},
         1,
         "'" + folder + "/demo': it is a folder",
         "keep.csv"},
        // Several outputs: one failure leaves every existing one.
        {"table: second output in a missing folder",
         {"table", "-m", formula, "--csv", "@/keep.csv", "--png", "@/missing/x.png"},
         1,
         "the folder '" + folder + "/missing' does not exist",
         "keep.csv"},
        {"editor: picture kept when the render input is empty",
         {"editor", "--png", "@/keep.png", "--render", "@/keep.wav", "-i", "@/empty.wav"},
         1,
         "'" + folder + "/empty.wav' is not a supported audio file",
         "keep.png"},
        {"demo: a later file cannot be written",
         {"demo", "--out", "@/demo"},
         1,
         "it is a folder",
         "demo/test-signal.wav"},
        {"the same file for two outputs",
         {"table", "-m", formula, "--csv", "@/keep.png", "--png", "@/./keep.png"},
         2,
         "is given for two outputs",
         "keep.png"},
        {"output is a folder", {"render", "-m", formula, "-o", "@/folder.wav"}, 1, "it is a folder", ""},
        // An output that is a file the command reads, by any name, is a wrong command line, refused before
        // anything is written.
        {"input as output",
         {"render", "-m", formula, "-i", "@/in.wav", "-o", "@/in.wav"},
         2,
         "it is the input file",
         "in.wav"},
        {"input as output through ./",
         {"render", "-m", formula, "-i", "@/in.wav", "-o", "@/./in.wav"},
         2,
         "it is the input file",
         "in.wav"},
        {"input as output through a link",
         {"render", "-m", formula, "-i", "@/in.wav", "-o", "@/in-link.wav"},
         2,
         "it is the input file",
         "in.wav"},
        {"input as output through a hard link",
         {"render", "-m", formula, "-i", "@/in-hard.wav", "-o", "@/in.wav"},
         2,
         "it is the input file",
         "in.wav"},
        {"editor render input as output",
         {"editor", "--render", "@/in.wav", "-i", "@/in.wav"},
         2,
         "it is the input file",
         "in.wav"},
        {"editor picture as the render input",
         {"editor", "--png", "@/in-picture.png", "-i", "@/in.wav", "--render", "@/new.wav"},
         2,
         "it is the input file",
         "in.wav"},
        {"text file as output",
         {"table", "-m", formula, "--text-file", "@/formula.txt", "--csv", "@/formula.txt"},
         2,
         "it is the text file",
         "formula.txt"},
        {"automation file as output",
         {"render", "-m", formula, "--automation", "@/changes.json", "-o", "@/changes-link.wav"},
         2,
         "it is the automation file",
         "changes.json"},
        {"library as output",
         {"--library", "@/lib.so", "table", "-m", formula, "--png", "@/lib-picture.png"},
         2,
         "it is the module library",
         "lib.so"},
        {"description as output",
         {"--library", "@/lib.so", "--description", "@/lib.json", "analyze", "-m", formula, "--png",
          "@/description-picture.png"},
         2,
         "it is the module description file",
         "lib.json"},
        {"two outputs, one through a dangling link",
         {"table", "-m", formula, "--csv", "@/dangling-picture.csv", "--png", "@/new.png"},
         2,
         "is given for two outputs",
         ""},
        // Batches: everything checked before the first output is written.
        {"batch: a later input is not audio",
         {"render", "-m", formula, "-i", "@/in.wav", "-i", "@/empty.wav", "--out-dir", "@/out"},
         1,
         "'" + folder + "/empty.wav' is not a supported audio file",
         "out/in.wav"},
        {"batch: one job's output is a later job's input through a link",
         {"render", "-m", formula, "-i", "@/in.wav", "-i", "@/to-out.wav", "--out-dir", "@/out"},
         2,
         "it is the input file '" + folder + "/to-out.wav'",
         "out/in.wav"},
        // Automation files: bounded, and their faults in the program's words.
        {"automation file too large",
         {"render", "-m", formula, "--automation", "@/huge.json", "-o", "@/keep.wav"},
         1,
         "larger than the 1024 KiB allowed",
         "keep.wav"},
        {"automation file a folder",
         {"render", "-m", formula, "--automation", "@/changes-folder.json", "-o", "@/keep.wav"},
         1,
         "changes-folder.json': it is a folder",
         "keep.wav"},
        {"automation file not JSON",
         {"render", "-m", formula, "--automation", "@/broken-changes.json", "-o", "@/keep.wav"},
         2,
         "is not valid JSON (the error is at line 2, column 11)",
         "keep.wav"},
        {"automation file missing",
         {"render", "-m", formula, "--automation", "@/none.json", "-o", "@/keep.wav"},
         2,
         "none.json': it does not exist",
         "keep.wav"},
        {"automation time beyond the limit, checked before conversion",
         {"render", "-m", formula, "--automation", "@/far.json", "-o", "@/keep.wav"},
         2,
         "\"seconds\" must lie between 0 and 10000000",
         "keep.wav"},
        {"automation change after the end, and a lenient automation text",
         {"render", "-m", formula, "--automation", "@/late.json", "-o", "@/late.wav", "--json"},
         0,
         "note: the automation's text at 1 s: the formula lacks 1 closing \")\"",
         ""},
        // Silent wrong answers: each is now an error or says what it is.
        {"no audio into FLAC",
         {"render", "-m", formula, "-i", "@/zero.wav", "-o", "@/zero.flac"},
         1,
         "a FLAC file needs at least one frame",
         ""},
        {"a data chunk declaring 0 bytes before audio",
         {"render", "-m", formula, "-i", "@/unfinished.wav", "-o", "@/keep.wav"},
         1,
         "its data chunk declares no audio",
         "keep.wav"},
        {"input of NaN",
         {"render", "-m", formula, "-i", "@/nan.wav", "-o", "@/nan-out.wav"},
         0,
         "1000 samples of " + folder + "/nan.wav are not finite numbers",
         ""},
        {"analyze without a fundamental",
         {"analyze", "-m", formula, "-t", "0"},
         0,
         "no fundamental above the noise: no THD, aliasing or SINAD",
         ""},
        {"analyze of a level below the noise",
         {"analyze", "-m", formula, "--level", "1e-300"},
         0,
         "no fundamental above the noise",
         ""},
        // Truncated audio fails whatever the format.
        {"truncated WAV",
         {"render", "-m", formula, "-i", "@/trunc.wav", "-o", "@/keep.wav"},
         1,
         "truncated",
         "keep.wav"},
        {"truncated AIFF",
         {"render", "-m", formula, "-i", "@/trunc.aiff", "-o", "@/keep.wav"},
         1,
         "truncated",
         "keep.wav"},
        {"truncated FLAC",
         {"render", "-m", formula, "-i", "@/trunc.flac", "-o", "@/keep.wav"},
         1,
         "truncated",
         "keep.wav"},
        // Numbers: NaN, infinities and overflowing values by the option's name.
        {"text-at far past the end",
         {"render", "-m", formula, "--text-at", "1e300:0", "-o", "@/keep.wav"},
         2,
         "--text-at",
         "keep.wav"},
        {"text-at NaN",
         {"render", "-m", formula, "--text-at", "nan:0", "-o", "@/keep.wav"},
         2,
         "--text-at",
         "keep.wav"},
        {"signal frequency NaN",
         {"render", "-m", formula, "--signal-frequency", "nan", "-o", "@/keep.wav"},
         2,
         "--signal-frequency",
         "keep.wav"},
        {"signal frequency infinite",
         {"render", "-m", formula, "--signal-frequency", "inf", "-o", "@/keep.wav"},
         2,
         "--signal-frequency",
         "keep.wav"},
        {"gain NaN", {"render", "-m", formula, "-g", "nan", "-o", "@/keep.wav"}, 2, "--gain", "keep.wav"},
        {"gain beyond single precision",
         {"render", "-m", formula, "-g", "1e39", "-o", "@/keep.wav"},
         2,
         "--gain",
         "keep.wav"},
        {"level infinite",
         {"analyze", "-m", formula, "--level", "inf", "--png", "@/keep.png"},
         2,
         "--level",
         "keep.png"},
        {"level beyond single precision",
         {"analyze", "-m", formula, "--level", "1e300", "--png", "@/keep.png"},
         2,
         "--level",
         "keep.png"},
        {"frequency NaN",
         {"analyze", "-m", formula, "--frequency", "nan", "--png", "@/keep.png"},
         2,
         "--frequency",
         "keep.png"},
        {"edit-at overflowing",
         {"editor", "--render", "@/keep.wav", "--edit-at", "1e300"},
         2,
         "--edit-at",
         "keep.wav"},
        {"edit-at NaN", {"editor", "--render", "@/keep.wav", "--edit-at", "nan"}, 2, "--edit-at", "keep.wav"},
        // One reader for numbers, factors and levels, with one message form.
        {"gain with two signs",
         {"render", "-m", formula, "-g", "++6", "-o", "@/keep.wav"},
         2,
         "--gain: '++6' is not a factor within +-1000000",
         "keep.wav"},
        {"gain in decibels beyond the range the message states",
         {"render", "-m", formula, "-g", "121dB", "-o", "@/keep.wav"},
         2,
         "or a level from -400 to +120 dB",
         "keep.wav"},
        {"normalize empty",
         {"render", "-m", formula, "--normalize", "", "-o", "@/keep.wav"},
         2,
         "--normalize: '' is not a level in dBFS",
         "keep.wav"},
        {"tolerance above 0 dB, written with a space",
         {"diff", "@/in.wav", "@/in.wav", "--tolerance", "+1 dB"},
         2,
         "--tolerance: '+1 dB' is not a level in dBFS",
         ""},
        {"block size in exponent form",
         {"render", "-m", formula, "-b", "1e3", "-o", "@/keep.wav"},
         2,
         "--block-size: '1e3' is not a whole number from 1 to 65536",
         "keep.wav"},
        {"oversampling factor not offered",
         {"render", "-m", formula, "--oversample", "3", "-o", "@/keep.wav"},
         2,
         "--oversample: '3' is not 1, 2, 4, 8 or 16",
         "keep.wav"},
        // Empty names and conflicting options.
        {"empty input name",
         {"render", "-m", formula, "-i", "", "-o", "@/keep.wav"},
         2,
         "--in: the file name is empty",
         "keep.wav"},
        {"empty library name", {"--library", "", "list"}, 2, "--library: the file name is empty", ""},
        {"empty output name", {"render", "-m", formula, "-o", ""}, 2, "--out: the file name is empty", ""},
        {"empty csv name",
         {"table", "-m", formula, "--csv", ""},
         2,
         "--csv: the file name is empty",
         "keep.csv"},
        {"text and text file",
         {"table", "-m", formula, "-t", "x", "--text-file", "@/formula.txt"},
         2,
         "excludes",
         "keep.csv"},
        // Libraries and descriptions in the program's own words.
        {"library missing",
         {"--library", "@/none.so", "list"},
         1,
         "'" + folder + "/none.so': the file does not exist",
         ""},
        {"library missing with a description",
         {"--library", "@/none.so", "--description", description, "table", "-m", formula},
         1,
         "cannot load the module library",
         ""},
        {"library not a library", {"--library", "@/formula.txt", "list"}, 1, "not a shared library", ""},
        {"description modules null",
         {"--library", library, "--description", "@/null-modules.json", "list"},
         1,
         "has no list \"modules\"",
         ""},
        {"description id null",
         {"--library", library, "--description", "@/null-id.json", "list"},
         1,
         "module 1: \"id\" is not a text",
         ""},
        {"description not JSON",
         {"--library", library, "--description", "@/broken.json", "list"},
         1,
         "is not valid JSON",
         ""},
        {"description a folder",
         {"--library", library, "--description", "@/json-folder.json", "list"},
         1,
         "it is a folder",
         ""},
    };
    // A dangling symbolic link is a POSIX thing: a Windows program under Wine sees no file there.
    const bool windows = !programUnderTest().runner.empty();
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (windows && std::string(c.name).find("dangling link") != std::string::npos)
            continue;
        const RunResult r = run(expand(c.args));
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        // Never a text of a library or of the language's run time.
        for (const char* internal : {"std::", "json.exception", "basic_filebuf", "Internal error", "what()"})
            EXPECT_EQ(r.err.find(internal), std::string::npos) << r.err;
        bool aimed = false;
        for (const auto& [name, contents] : before) {
            EXPECT_EQ(readText(path(name)), contents) << name;
            aimed = aimed || name == c.untouched;
        }
        EXPECT_TRUE(aimed || c.untouched.empty()) << c.untouched;
        EXPECT_TRUE(partialFiles(folder).empty());
        EXPECT_FALSE(exists("demo/soft-clip.wav"));
    }
    Sound input;
    ASSERT_TRUE(readSound(path("in.wav"), &input));
    EXPECT_EQ(input.samples.size(), 2000u);
    EXPECT_FALSE(exists("zero.flac"));
    // Figures relative to a fundamental that is not there are null, not -300 dB.
    const RunResult silent = run({"analyze", "-m", formula, "-t", "0", "--json"});
    ASSERT_EQ(silent.exitCode, 0) << silent.err;
    const nlohmann::json doc = nlohmann::json::parse(silent.out);
    for (const char* key : {"thd_percent", "thd_db", "alias_to_signal_db", "sinad_db"})
        EXPECT_TRUE(doc[key].is_null()) << key;
    EXPECT_EQ(doc["warnings"].size(), 2u); // also the tone moved off 1 kHz
}

TEST_F(ShaperhostHostileUse, DevicesFifosAndPipesAreWrittenIntoNeverReplaced) {
    ASSERT_EQ(mkfifo(path("fifo.csv").c_str(), 0644), 0);
    std::string received;
    std::thread reader([&] { received = readText(path("fifo.csv")); });
    const RunResult r = run({"table", "-m", "VU Reridezizi2D", "-t", "x", "--csv", path("fifo.csv")});
    reader.join();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(received.rfind("index,input_volts,output_volts,table_value\n", 0), 0u);
    EXPECT_NE(received.find("\n512,5,5,0.5\n"), std::string::npos);
    EXPECT_TRUE(fs::is_fifo(path("fifo.csv")));

    // Process substitution: the shell passes a /dev/fd/N name of a pipe.
    const std::string program = mphost::PluginLibrary::programFolder() + "shaperhost";
    const std::string line = "bash -c \"'" + program + "' table -m 'VU Reridezizi2D' -t x --csv >(wc -c > '" +
                             path("count.txt") + "'); wait\" > '" + path("bash.txt") + "' 2>&1";
    EXPECT_EQ(std::system(line.c_str()), 0) << readText(path("bash.txt"));
    for (int i = 0; i < 100 && readText(path("count.txt")).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(std::stoul("0" + readText(path("count.txt"))), received.size());

    // A pipe whose reader goes away without reading: the picture (73 KB) is more than the pipe holds, so
    // the program ends by SIGPIPE; its staging file (in TMPDIR) is removed and the other output is not
    // committed.
    writeText(path("keep.csv"), "KEEP");
    const std::string closing = "TMPDIR='" + folder + "' bash -c \"'" + program +
                                "' table -m 'VU Reridezizi2D' --plot-size 4096 --png >(true) --csv '" +
                                path("keep.csv") + "'; echo \\$? > '" + path("status.txt") + "'\"";
    std::system(closing.c_str());
    EXPECT_EQ(readText(path("status.txt")), std::to_string(128 + SIGPIPE) + "\n");
    EXPECT_EQ(readText(path("keep.csv")), "KEEP");
    EXPECT_TRUE(partialFiles(folder).empty());

    // A device node of the null device, made here: written through, still a device afterwards.
    if (!makeDevice("null.wav", 1, 3)) {
        std::cout << "note: mknod refused here; the device case is left out\n";
    } else {
        const RunResult d = run({"render", "-m", "VU Reridezizi2D", "-o", path("null.wav")});
        EXPECT_EQ(d.exitCode, 0) << d.err;
        EXPECT_TRUE(fs::is_character_file(path("null.wav")));
    }
    EXPECT_TRUE(partialFiles(folder).empty());
}

TEST_F(ShaperhostHostileUse, AudioFromAPipeIsReadAsItComesAndATruncatedOneFails) {
    writeSound(path("whole.wav"), SF_FORMAT_WAV, 6000);
    writeSound(path("cut.wav"), SF_FORMAT_WAV, 6000);
    truncateToHalf(path("cut.wav"));
    ASSERT_EQ(mkfifo(path("in.fifo").c_str(), 0644), 0);
    struct Case {
        const char* source;
        bool editor; // editor --render opens its input before rendering, for the rate
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {"whole.wav", false, 0, "6000 frames"},
        {"cut.wav", false, 1, "truncated or damaged"},
        {"whole.wav", true, 0, "blocks 94,"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + (c.editor ? " editor" : " render"));
        std::thread writer([&] { writeText(path("in.fifo"), readText(path(c.source))); });
        const RunResult r =
            c.editor ? run({"editor", "--render", path("out.wav"), "-i", path("in.fifo")})
                     : run({"render", "-m", "VU Reridezizi2D", "-i", path("in.fifo"), "-o", path("out.wav")});
        writer.join();
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
        EXPECT_EQ(exists("out.wav"), c.exitCode == 0);
        fs::remove(path("out.wav"));
    }
}

TEST_F(ShaperhostHostileUse, ASymbolicLinkIsFollowedAndKept) {
    fs::create_directories(path("real"));
    writeText(path("real/curve.csv"), "old\n");
    fs::create_symlink("real/curve.csv", path("link.csv"));
    fs::create_symlink("real/new.png", path("dangling.png"));
    const RunResult r = run({"table", "-m", "VU Reridezizi2D", "-t", "x", "--csv", path("link.csv"), "--png",
                             path("dangling.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(path("link.csv")));
    EXPECT_EQ(fs::read_symlink(path("link.csv")), "real/curve.csv");
    EXPECT_EQ(readText(path("real/curve.csv")).rfind("index,", 0), 0u);
    EXPECT_TRUE(fs::is_symlink(path("dangling.png")));
    int width = 0;
    int height = 0;
    EXPECT_TRUE(readPngSize(path("real/new.png"), &width, &height));
    EXPECT_TRUE(partialFiles(folder).empty());
}

TEST_F(ShaperhostHostileUse, FailedWritesToStandardOutputAndEndlessTextFilesAreFailures) {
    if (!makeDevice("full", 1, 7) || !makeDevice("zero", 1, 5))
        GTEST_SKIP() << "mknod refused here";
    // The full device takes no byte: what the command printed was lost.
    const int list = start({"list"}, path("full"));
    const RunResult l = finish(list);
    EXPECT_EQ(l.exitCode, 1);
    EXPECT_NE(l.err.find("cannot write to standard output"), std::string::npos) << l.err;
    // An endless text file stops at the limit instead of filling the memory.
    const RunResult z = run({"table", "-m", "VU Reridezizi2D", "--text-file", path("zero")});
    EXPECT_EQ(z.exitCode, 1);
    EXPECT_NE(z.err.find("larger than the 1024 KiB allowed"), std::string::npos) << z.err;
}

TEST_F(ShaperhostHostileUse, AnInterruptedRenderLeavesNoPartialFileAndTheOldOutput) {
    writeSound(path("long.wav"), SF_FORMAT_WAV, 48000 * 60);
    // A Windows program (under Wine) sees SIGINT as Ctrl-C, the one interruption it can handle; it
    // then ends as the C runtime ends on Ctrl-C, with exit code 3.
    const bool windows = !programUnderTest().runner.empty();
    // Every signal that ends a program by default and can be caught (a sample of the real-time ones).
    const std::vector<int> signals =
        windows ? std::vector<int>{SIGINT} : std::vector<int>{SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGUSR1,
                                                              SIGUSR2, SIGALRM, SIGXCPU, SIGVTALRM, SIGRTMIN};
    for (int signalNumber : signals) {
        SCOPED_TRACE(signalNumber);
        writeText(path("out.wav"), "KEEP");
        // One sample per block: long enough to be interrupted half way.
        const int pid = start(
            {"render", "-m", "VU Reridezizi2D", "-i", path("long.wav"), "-o", path("out.wav"), "-b", "1"},
            path("stdout.txt"));
        // Wait until the unfinished file holds some audio, then interrupt.
        bool underway = false;
        for (int i = 0; i < 600 && !underway; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            for (const std::string& f : partialFiles(folder))
                underway = underway || fs::file_size(f) > 100000;
        }
        EXPECT_TRUE(underway);
        kill(pid, signalNumber);
        int endedBy = 0;
        const RunResult r = finish(pid, &endedBy);
        if (windows)
            EXPECT_EQ(r.exitCode, 3);
        else
            EXPECT_EQ(endedBy, signalNumber);
        EXPECT_TRUE(partialFiles(folder).empty());
        EXPECT_EQ(readText(path("out.wav")), "KEEP");
    }
}

TEST_F(ShaperhostHostileUse, ALongFileIsRenderedInBoundedMemory) {
    // Held whole, a render took its input and output in memory: three minutes of stereo 2 x 8640000 x 2
    // x 4 bytes (138 MB); two minutes oversampled and normalised 92 MB besides the resamplers. Both
    // must stream: the oversampled output as the resamplers give it, the normalised one through a
    // scratch file.
    const struct {
        const char* name;
        int seconds;
        std::vector<std::string> options;
    } cases[] = {
        {"plain", 180, {}},
        {"oversampled and normalised", 120, {"--oversample", "2", "--quality", "hq", "--normalize", "-1"}},
    };
    // Without the address sanitizer (which reserves terabytes of address space) the address space is
    // limited too, as `ulimit -v` would.
    const long long addressLimit = kAddressSanitizer ? 0 : 512LL * 1024 * 1024;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int frames = 48000 * c.seconds;
        writeSound(path("long.wav"), SF_FORMAT_WAV, frames, 2);
        std::vector<std::string> args = {"render",         "-m", "VU Reridezizi2D", "-i",
                                         path("long.wav"), "-o", path("out.wav"),   "--format",
                                         "pcm16"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const int pid = start(args, path("stdout.txt"), addressLimit);
        long peakKiB = 0;
        const RunResult r = finish(pid, nullptr, &peakKiB);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::cout << c.name << ": peak resident set " << peakKiB / 1024 << " MiB\n";
        EXPECT_LT(peakKiB, 100L * 1024);
        SF_INFO info{};
        SNDFILE* out = sf_open(path("out.wav").c_str(), SFM_READ, &info);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(info.frames, frames);
        EXPECT_EQ(info.channels, 2);
        sf_close(out);
        EXPECT_TRUE(partialFiles(folder).empty());
    }
}

// An output whose length is known to pass what its header's 32-bit sizes state is refused before
// anything is written when its format has no larger form (AIFF); a WAV becomes RF64 (the written file
// is checked in the tests labelled `large`). The input is sparse: 1 GiB that takes no disk.
TEST_F(ShaperhostHostileUse, AnAiffBeyondFourGibibytesIsRefusedBeforeWriting) {
    constexpr int kChannels = 256;
    constexpr int64_t kFrames = (int64_t{1} << 32) / (4 * kChannels) + 1; // float: just beyond 4 GiB
    writeSparseWav8(path("in.wav"), kChannels, 48000, kFrames, "", "");
    writeText(path("keep.aiff"), "KEEP");
    const RunResult r = run({"render", "-m", "Curve Waveshaper", "-i", path("in.wav"), "-o",
                             path("keep.aiff"), "--format", "float"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("longer than an AIFF file's 32-bit sizes"), std::string::npos) << r.err;
    EXPECT_EQ(readText(path("keep.aiff")), "KEEP");
    EXPECT_TRUE(partialFiles(folder).empty());
}

// 256 channels oversampled 16 times run two resamplers per channel. Under an address limit the render
// either finishes or reports "out of memory" (exit 1, nothing written); it never dies inside the
// resampler, which does not check all of its allocations. 300 MB is enough for the whole render.
TEST_F(ShaperhostHostileUse, ManyChannelsOversampledUnderAnAddressLimitFinishOrRunOutOfMemory) {
    if (kAddressSanitizer)
        GTEST_SKIP() << "the address sanitizer reserves terabytes of address space: no address limit applies";
    constexpr int kChannels = 256;
    constexpr int kFrames = 4800;
    writeSound(path("many.wav"), SF_FORMAT_WAV, kFrames, kChannels);
    auto render = [&](const std::string& factor, const std::string& quality, long long limitMb) {
        fs::remove(path("out.wav"));
        const int pid = start({"render", "-m", "Curve Waveshaper", "-i", path("many.wav"), "-o",
                               path("out.wav"), "--oversample", factor, "--quality", quality, "-b", "1"},
                              path("stdout.txt"), limitMb * 1024 * 1024);
        int signal = 0;
        const RunResult r = finish(pid, &signal);
        EXPECT_EQ(signal, 0) << "ended by signal " << signal;
        EXPECT_TRUE(partialFiles(folder).empty());
        return r;
    };

    {
        SCOPED_TRACE("16x, VHQ, 300 MB");
        const RunResult r = render("16", "vhq", 300);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        SF_INFO info{};
        SNDFILE* out = sf_open(path("out.wav").c_str(), SFM_READ, &info);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(info.frames, kFrames);
        EXPECT_EQ(info.channels, kChannels);
        // The last channel carries the ramp as the first does: every channel went through.
        std::vector<short> samples(static_cast<std::size_t>(info.frames) * kChannels);
        sf_readf_short(out, samples.data(), info.frames);
        sf_close(out);
        int loudLast = 0;
        for (int n = 0; n < kFrames; ++n)
            loudLast += std::abs(samples[static_cast<std::size_t>(n) * kChannels + kChannels - 1]) > 100;
        EXPECT_GT(loudLast, kFrames / 2);
    }

    for (const char* factor : {"2", "16"}) {
        for (const char* quality : {"hq", "vhq"}) {
            for (long long limitMb = 40; limitMb <= 280; limitMb += 40) {
                SCOPED_TRACE(std::string(factor) + "x " + quality + ", " + std::to_string(limitMb) + " MB");
                const RunResult r = render(factor, quality, limitMb);
                if (r.exitCode == 0)
                    continue;
                EXPECT_EQ(r.exitCode, 1);
                EXPECT_NE(r.err.find("out of memory"), std::string::npos) << r.err;
                EXPECT_FALSE(exists("out.wav"));
            }
        }
    }
}

// A damaged module library is refused before the system loader maps it: copies of the program's own
// library cut at many lengths, and with headers that name bytes beyond the end. Without the check the
// loader maps segments past the end of the file and the program dies of SIGBUS on the first touch.
TEST_F(ShaperhostHostileUse, ADamagedModuleLibraryIsRefusedInTheProgramsOwnWords) {
    std::string whole;
    {
        std::ifstream library(programLibrary(), std::ios::binary);
        ASSERT_TRUE(library) << programLibrary();
        whole.assign(std::istreambuf_iterator<char>(library), std::istreambuf_iterator<char>());
    }
    ASSERT_GT(whole.size(), 8192u);
    const std::size_t size = whole.size();
    std::vector<std::size_t> lengths = {0, 1, 3, 4, 10, 63, 64, 65, 200, 4095, 4096, 4097, size - 1};
    for (std::size_t k = 1; k < 24; ++k)
        lengths.push_back(size * k / 24);

    struct Damaged {
        std::string name;
        std::string bytes;
    };
    std::vector<Damaged> files;
    for (const std::size_t length : lengths)
        files.push_back({"cut at " + std::to_string(length), whole.substr(0, length)});

    // Headers changed so that they name bytes beyond the end, in whichever format the library has.
    auto field = [](const std::string& b, std::size_t at, std::size_t n) {
        uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i)
            v |= uint64_t{static_cast<unsigned char>(b[at + i])} << (8 * i);
        return v;
    };
    auto setField = [](std::string& b, std::size_t at, std::size_t n, uint64_t v) {
        for (std::size_t i = 0; i < n; ++i)
            b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    if (whole.compare(0, 4,
                      "\x7F"
                      "ELF") == 0 &&
        whole[4] == 2 && whole[5] == 1) {
        std::string moved = whole;
        setField(moved, 32, 8, size - 16); // program header table at the end of the file
        files.push_back({"program headers beyond the end", moved});
        std::string longer = whole;
        const uint64_t phOffset = field(whole, 32, 8);
        for (uint64_t i = 0; i < field(whole, 56, 2); ++i) {
            const std::size_t at = static_cast<std::size_t>(phOffset + i * field(whole, 54, 2));
            if (field(whole, at, 4) == 1) { // the first loadable segment, 1 GiB longer
                setField(longer, at + 32, 8, field(whole, at + 32, 8) + (uint64_t{1} << 30));
                break;
            }
        }
        files.push_back({"a segment longer than the file", longer});
    } else if (whole.compare(0, 2, "MZ") == 0) {
        std::string moved = whole;
        setField(moved, 0x3C, 4, size + 8); // PE header beyond the end
        files.push_back({"PE header beyond the end", moved});
        std::string longer = whole;
        const std::size_t sections = static_cast<std::size_t>(field(whole, 0x3C, 4) + 24 +
                                                              field(whole, field(whole, 0x3C, 4) + 20, 2));
        setField(longer, sections + 16, 4, 0x7FFFFFFF); // the first section's raw data
        files.push_back({"a section longer than the file", longer});
    } else {
        ADD_FAILURE() << "the library is neither a 64-bit little-endian ELF nor a PE file";
    }
    ASSERT_GE(files.size(), lengths.size() + 2);

    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].name);
        const std::string copy = path("damaged-" + std::to_string(i) + mphost::PluginLibrary::fileName());
        {
            std::ofstream out(copy, std::ios::binary);
            out << files[i].bytes;
        }
        const RunResult r = run({"--library", copy, "list"});
        // exitCode is -1 when a signal ended the program.
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("cannot load the module library '" + copy + "'"), std::string::npos) << r.err;
        // Too short to carry a format's mark: the loader's refusal, in the program's sentence.
        const std::string& bytes = files[i].bytes;
        const bool marked = bytes.size() >= 4 || (bytes.size() >= 2 && bytes.compare(0, 2, "MZ") == 0);
        EXPECT_EQ(r.err.find("the file is damaged") != std::string::npos, marked) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
}

} // namespace

namespace {

// Files in `folder` whose name holds `part`.
std::vector<std::string> filesNamed(const std::string& folder, const std::string& part) {
    std::vector<std::string> found;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(folder)) {
        if (e.path().filename().string().find(part) != std::string::npos)
            found.push_back(e.path().string());
    }
    return found;
}

class ShaperhostLeftovers : public ShaperhostHostileUse {};

TEST_F(ShaperhostLeftovers, AFileSizeLimitIsAWriteErrorAndAKilledNormaliseLeavesNoScratchFile) {
    writeSound(path("long.wav"), SF_FORMAT_WAV, 48000 * 20);
    writeText(path("out.wav"), "KEEP");
    // ulimit -f: the write fails with the system's reason; the old output stays, nothing is left over.
    const std::string program = programUnderTest().path;
    const std::string limited = "bash -c \"ulimit -f 200; '" + program +
                                "' render -m 'VU Reridezizi2D' -i '" + path("long.wav") + "' -o '" +
                                path("out.wav") + "' 2> '" + path("err.txt") + "'; echo \\$? > '" +
                                path("status.txt") + "'\"";
    std::system(limited.c_str());
    EXPECT_EQ(readText(path("status.txt")), "1\n");
    EXPECT_NE(readText(path("err.txt")).find("File too large"), std::string::npos)
        << readText(path("err.txt"));
    EXPECT_EQ(readText(path("out.wav")), "KEEP");
    EXPECT_TRUE(partialFiles(folder).empty());

    // SIGKILL cannot be caught: the scratch file of --normalize has no name from the moment it is open.
    fs::create_directories(path("tmp"));
    setenv("TMPDIR", path("tmp").c_str(), 1);
    const int pid = start({"render", "-m", "VU Reridezizi2D", "-i", path("long.wav"), "-o", path("n.wav"),
                           "--normalize", "-1", "-b", "1"},
                          path("stdout.txt"));
    unsetenv("TMPDIR");
    // Under way once the program holds the scratch file open.
    bool open = false;
    for (int i = 0; i < 600 && !open; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::error_code error;
        for (const fs::directory_entry& fd :
             fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
            std::error_code unreadable;
            open = open || fs::read_symlink(fd.path(), unreadable).string().find("shaperhost-scratch") !=
                               std::string::npos;
        }
    }
    EXPECT_TRUE(open);
    EXPECT_TRUE(filesNamed(path("tmp"), "scratch").empty());
    kill(pid, SIGKILL);
    finish(pid);
    EXPECT_TRUE(filesNamed(path("tmp"), "scratch").empty());
}

TEST_F(ShaperhostLeftovers, LongNamesAndNamesThatAreNotUtf8AreWrittenAndReported) {
    // The longest name most file systems take: the staging name must fit too.
    std::string accented;
    for (int i = 0; i < 125; ++i)
        accented += "\xc3\xa9"; // two bytes each, never cut in half in the staging name
    for (const std::string& name : {std::string(251, 'n') + ".wav", accented + ".wav"}) {
        const RunResult r = run({"render", "-m", "VU Reridezizi2D", "-o", path(name)});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(exists(name));
    }
    // A name of bytes that are not UTF-8, reported in JSON as U+FFFD.
    const std::string odd = "odd-\xff\xfe.wav";
    const RunResult j = run({"render", "-m", "VU Reridezizi2D", "-o", path(odd), "--json"});
    ASSERT_EQ(j.exitCode, 0) << j.err;
    EXPECT_TRUE(exists(odd));
    const nlohmann::json doc = nlohmann::json::parse(j.out);
    EXPECT_EQ(doc["output"].get<std::string>(), path("odd-\xef\xbf\xbd\xef\xbf\xbd.wav"));
    EXPECT_TRUE(partialFiles(folder).empty());
}

} // namespace
