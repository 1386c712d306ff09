// What a user of other command-line audio tools expects: help, the program's name on every message,
// choices in any letter case, standard input and output, --quiet and the progress line; output formats
// that follow the input, normalisation into integer files, float WAV headers; diff's exit codes,
// files that cannot be compared, and a diff of long files in bounded memory.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sndfile.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace {

using namespace clitest;
using nlohmann::json;

const char* const kCurve = "Vedivizor Arirezudez3";
const char* const kFormula = "VU Reridezizi2D";

std::string quoted(const std::string& word) {
    std::string q = "'";
    for (char c : word)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// A mono or interleaved file of `frames` frames in the given libsndfile format: a sine at 0.4 of full
// scale, the same in every channel.
void writeSine(const std::string& file, int format, int frames, int channels = 1, int rate = 48000) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = rate;
    info.format = format;
    SNDFILE* sound = sf_open(file.c_str(), SFM_WRITE, &info);
    ASSERT_NE(sound, nullptr) << sf_strerror(nullptr);
    std::vector<float> piece(4096 * static_cast<std::size_t>(channels));
    for (int done = 0; done < frames;) {
        const int n = std::min(4096, frames - done);
        for (int i = 0; i < n; ++i) {
            for (int c = 0; c < channels; ++c)
                piece[static_cast<std::size_t>(i * channels + c)] =
                    static_cast<float>(0.4 * std::sin(0.05 * (done + i)));
        }
        sf_writef_float(sound, piece.data(), n);
        done += n;
    }
    sf_close(sound);
}

class ShaperhostConventions : public ProgramTest {
protected:
    // Runs a shell command with standard output to `out` (a path; empty: a file of the test's folder)
    // and standard error to a file, and reads both.
    RunResult shell(const std::string& command, const std::string& out = std::string()) const {
        const std::string outFile = out.empty() ? path("stdout") : out;
        RunResult r;
        const int status =
            std::system((command + " > " + quoted(outFile) + " 2> " + quoted(path("stderr"))).c_str());
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = readText(outFile);
        r.err = readText(path("stderr"));
        return r;
    }

    // The program with its arguments as a shell command.
    static std::string programCommand(const std::vector<std::string>& args) {
        const ProgramUnderTest program = programUnderTest();
        std::string command =
            (program.runner.empty() ? "" : quoted(program.runner) + " ") + quoted(program.path);
        for (const std::string& a : args)
            command += " " + quoted(a);
        return command;
    }

    // Runs the program with standard input from the file `in` and standard output to `out`.
    RunResult runStreams(const std::vector<std::string>& args, const std::string& in,
                         const std::string& out = std::string()) const {
        return shell(programCommand(args) + " < " + quoted(in), out);
    }
};

// Every line the program writes to standard error starts with its name.
void expectPrefixed(const std::string& err) {
    std::size_t start = 0;
    while (start < err.size()) {
        const std::size_t end = err.find('\n', start);
        const std::string line =
            err.substr(start, end == std::string::npos ? std::string::npos : end - start);
        EXPECT_EQ(line.rfind("shaperhost: ", 0), 0u) << line;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
}

TEST_F(ShaperhostConventions, HelpAndEveryMessageOfTheParserCarryTheProgramsName) {
    const RunResult all = run({"help"});
    EXPECT_EQ(all.exitCode, 0) << all.err;
    for (const char* command : {"render", "table", "analyze", "diff", "editor", "demo", "list"})
        EXPECT_NE(all.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
    const RunResult render = run({"help", "Render"});
    EXPECT_EQ(render.exitCode, 0) << render.err;
    EXPECT_NE(render.out.find("shaperhost render"), std::string::npos) << render.out;
    EXPECT_NE(render.out.find("--type"), std::string::npos) << render.out;
    EXPECT_NE(render.out.find("wav|aiff|flac"), std::string::npos) << render.out;

    const struct {
        const char* name;
        std::vector<std::string> args;
        const char* message;
    } wrong[] = {
        {"no command", {}, "subcommand"},
        {"unknown help topic", {"help", "nothing"}, "no command 'nothing'"},
        {"unknown option", {"render", "-m", kCurve, "-o", "x.wav", "--louder"}, "--louder"},
        {"missing value", {"render", "-m"}, "-m"},
        {"not a number", {"render", "-m", kCurve, "-o", "x.wav", "--mix", "half"}, "--mix"},
        {"no such choice", {"render", "-m", kCurve, "-o", "x.wav", "--format", "pcm32"}, "float|pcm16|pcm24"},
        {"no such type", {"render", "-m", kCurve, "-o", "-", "--type", "mp3"}, "wav|aiff|flac"},
    };
    for (const auto& c : wrong) {
        SCOPED_TRACE(c.name);
        const RunResult r = run(c.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.rfind("shaperhost: usage: ", 0), 0u) << r.err;
        expectPrefixed(r.err);
        EXPECT_FALSE(exists("x.wav"));
    }
}

TEST_F(ShaperhostConventions, ChoicesAreTakenInAnyLetterCase) {
    const RunResult r = run({"render", "-m", kCurve, "-o", path("a.aiff"), "--format", "PCM16",
                             "--oversample", "2", "--quality", "Hq", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json doc = json::parse(r.out);
    EXPECT_EQ(doc.at("format"), "pcm16");
    EXPECT_EQ(doc.at("resampler_quality"), "hq");
    Sound out;
    ASSERT_TRUE(readSound(path("a.aiff"), &out));
    EXPECT_EQ(out.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    EXPECT_EQ(run({"analyze", "-m", kFormula, "--oversample", "2", "--quality", "VHQ", "--harmonics", "2"})
                  .exitCode,
              0);
    EXPECT_EQ(run({"editor", "--render", path("e.wav"), "--format", "Pcm24"}).exitCode, 0);
    ASSERT_TRUE(readSound(path("e.wav"), &out));
    EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
}

TEST_F(ShaperhostConventions, StandardInputAndOutputCarryAudioOfTheGivenType) {
    writeSine(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 5000);
    ASSERT_EQ(
        run({"render", "-m", kFormula, "-t", "x*x", "-i", path("in.wav"), "-o", path("file.wav")}).exitCode,
        0);
    Sound expected;
    ASSERT_TRUE(readSound(path("file.wav"), &expected));

    const struct {
        const char* name;
        const char* type;
        bool pipe; // standard input a pipe, else the redirected file
        int format;
    } cases[] = {
        {"WAV from a redirected file", "wav", false, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"AIFF from a pipe", "AIFF", true, SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
        {"FLAC from a pipe", "flac", true, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> args = {"render", "-m", kFormula, "-t",     "x*x", "-i",
                                               "-",      "-o", "-",      "--type", c.type};
        const RunResult r =
            c.pipe ? shell("cat " + quoted(path("in.wav")) + " | " + programCommand(args), path("out.audio"))
                   : runStreams(args, path("in.wav"), path("out.audio"));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        // The summary goes to standard error: standard output holds the audio alone.
        EXPECT_NE(r.err.find("wrote standard output"), std::string::npos) << r.err;
        Sound out;
        ASSERT_TRUE(readSound(path("out.audio"), &out));
        EXPECT_EQ(out.format, c.format);
        // The same render as from the file (dither has a fixed seed); FLAC holds exactly 16 bits too.
        EXPECT_EQ(out.samples, expected.samples);
    }

    // A name without an extension takes --type; standard output needs it.
    ASSERT_EQ(
        run({"render", "-m", kCurve, "-o", path("noext"), "--type", "flac", "--format", "pcm24"}).exitCode,
        0);
    Sound flac;
    ASSERT_TRUE(readSound(path("noext"), &flac));
    EXPECT_EQ(flac.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    const struct {
        const char* name;
        std::vector<std::string> args;
        const char* message;
    } refused[] = {
        {"no type for standard output", {"-o", "-"}, "--type"},
        {"no type for a name without extension", {"-o", path("other")}, "--type"},
        {"JSON and audio on standard output", {"-o", "-", "--type", "wav", "--json"}, "standard output"},
        {"standard input twice", {"-i", "-", "-i", "-", "--out-dir", path("dir")}, "once"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"render", "-m", kCurve};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = runStreams(args, path("in.wav"));
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
        EXPECT_FALSE(exists("other"));
    }

    // diff reads either file from standard input.
    EXPECT_EQ(runStreams({"diff", "-", path("file.wav")}, path("file.wav")).exitCode, 0);
    EXPECT_EQ(runStreams({"diff", path("in.wav"), "-"}, path("file.wav")).exitCode, 1);
}

TEST_F(ShaperhostConventions, QuietLeavesResultsAndAProgressLineAppearsOnlyOnATerminalForLongWork) {
    writeSine(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4800);
    const RunResult render =
        run({"--quiet", "render", "-m", kCurve, "-i", path("in.wav"), "-o", path("o.wav")});
    EXPECT_EQ(render.exitCode, 0) << render.err;
    EXPECT_EQ(render.out, "");
    EXPECT_EQ(render.err, "");
    EXPECT_TRUE(exists("o.wav"));
    // Results asked for stay: the table's CSV, the diff's exit code.
    EXPECT_NE(run({"table", "-m", kFormula, "-q"}).out.find("index,input_volts"), std::string::npos);
    const RunResult same = run({"diff", "-q", path("in.wav"), path("in.wav")});
    EXPECT_EQ(same.exitCode, 0);
    EXPECT_EQ(same.out, "");
    const RunResult different = run({"diff", path("in.wav"), path("o.wav"), "--quiet"});
    EXPECT_EQ(different.exitCode, 1);
    EXPECT_EQ(different.out + different.err, "");

    // On a terminal (script gives the program one) a render that takes longer than two seconds shows
    // its progress, unless --quiet or --json. Half a minute oversampled 4 times takes that long in the
    // sanitizer build; where it was quicker, the line is only required to be absent when not wanted.
    if (!programUnderTest().runner.empty())
        GTEST_SKIP() << "a terminal is given to native programs only";
    writeSine(path("long.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000 * 30);
    for (const char* extra : {"", "--quiet", "--json"}) {
        SCOPED_TRACE(extra);
        std::vector<std::string> args = {
            "render",       "-m", kCurve,      "-i", path("long.wav"), "-o", path("long-out.wav"),
            "--oversample", "4",  "--quality", "hq"};
        if (*extra != '\0')
            args.push_back(extra);
        // script runs the command on a terminal of its own and copies what appears there.
        const std::string command = programCommand(args) + " > " + quoted(path("summary"));
        const auto started = std::chrono::steady_clock::now();
        const RunResult r =
            shell("script -qec " + quoted(command) + " /dev/null < /dev/null", path("terminal"));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
        const bool shown = r.out.find("shaperhost: rendering ") != std::string::npos;
        if (*extra != '\0') {
            EXPECT_FALSE(shown) << r.out;
        } else if (seconds > 3.0) {
            EXPECT_TRUE(shown) << "a render of " << seconds << " s showed no progress: " << r.out;
        }
        if (shown) {
            EXPECT_NE(r.out.find("%"), std::string::npos) << r.out;
        }
    }
    // Without a terminal, none.
    const RunResult piped = run({"render", "-m", kCurve, "-i", path("long.wav"), "-o", path("long-out.wav"),
                                 "--oversample", "4", "--quality", "hq"});
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.err.find("rendering"), std::string::npos) << piped.err;
}

TEST_F(ShaperhostConventions, TheOutputKeepsTheInputsSampleFormatWhereItsContainerHoldsIt) {
    writeSine(path("in16.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1000);
    writeSine(path("in24.aiff"), SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 1000);
    writeSine(path("inf.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1000);
    writeSine(path("in8.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1000);
    writeSine(path("in16.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1000);
    const struct {
        const char* name;
        const char* in; // "" the built-in signal
        const char* out;
        int format;
        const char* reason;
    } cases[] = {
        {"16-bit stays 16-bit", "in16.wav", "a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "as the input"},
        {"16-bit FLAC into AIFF", "in16.flac", "b.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, "as the input"},
        {"16-bit into FLAC", "in16.wav", "c.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "as the input"},
        {"24-bit stays 24-bit", "in24.aiff", "d.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, "as the input"},
        {"float stays float", "inf.wav", "e.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, "as the input"},
        {"float into FLAC takes 24 bits", "inf.wav", "f.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, "FLAC"},
        {"8-bit takes 16 bits", "in8.wav", "g.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "8-bit"},
        {"built-in signal as float", "", "h.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, "built-in"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"render", "-m", kCurve, "-o", path(c.out), "--json"};
        if (*c.in != '\0') {
            args.push_back("-i");
            args.push_back(path(c.in));
        }
        const RunResult r = run(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(json::parse(r.out).at("format_reason").get<std::string>().find(c.reason), std::string::npos)
            << r.out;
        Sound out;
        ASSERT_TRUE(readSound(path(c.out), &out));
        EXPECT_EQ(out.format, c.format);
    }
    // Asked for, the format is the one asked for.
    ASSERT_EQ(run({"render", "-m", kCurve, "-i", path("in16.wav"), "-o", path("i.wav"), "--format", "pcm24"})
                  .exitCode,
              0);
    Sound asked;
    ASSERT_TRUE(readSound(path("i.wav"), &asked));
    EXPECT_EQ(asked.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
}

uint32_t littleEndian32(const std::string& bytes, std::size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

TEST_F(ShaperhostConventions, FloatWavHasTheFullFormatChunkAndReadsBackExactly) {
    for (int channels : {1, 2, 5}) {
        SCOPED_TRACE(channels);
        writeSine(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, 3000, channels);
        const RunResult r = run({"render", "-m", kFormula, "-t", "x", "-i", path("in.wav"), "-o",
                                 path("f.wav"), "--format", "float"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::string bytes = readText(path("f.wav"));
        ASSERT_GT(bytes.size(), 64u);
        // "fmt " of 18 bytes: format 3 (IEEE float) with an extension size of 0, as readers expect of any
        // format but integer PCM.
        EXPECT_EQ(bytes.substr(12, 4), "fmt ");
        EXPECT_EQ(littleEndian32(bytes, 16), 18u);
        EXPECT_EQ(bytes[20], 3);
        EXPECT_EQ(bytes[36], 0);
        EXPECT_EQ(bytes[37], 0);
        EXPECT_EQ(littleEndian32(bytes, 4) + 8, bytes.size());
        // Every chunk lies within the file, and "data" holds every sample.
        std::size_t at = 12;
        std::size_t dataSize = 0;
        while (at + 8 <= bytes.size()) {
            const uint32_t size = littleEndian32(bytes, at + 4);
            if (bytes.substr(at, 4) == "data")
                dataSize = size;
            at += 8 + size + (size & 1u);
        }
        EXPECT_EQ(at, bytes.size());
        EXPECT_EQ(dataSize, 3000u * 4u * static_cast<unsigned>(channels));
        Sound in;
        Sound out;
        ASSERT_TRUE(readSound(path("in.wav"), &in));
        ASSERT_TRUE(readSound(path("f.wav"), &out));
        EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        EXPECT_EQ(out.samples, in.samples);
    }
}

TEST_F(ShaperhostConventions, NormalisingIntoIntegersAimsAtTheLargestValueTheFileHolds) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        long peakSteps; // the largest magnitude expected in the file
        double scale;
    } cases[] = {
        {"16-bit dithered", {"--format", "pcm16"}, 32766, 32768.0},
        {"16-bit without dither", {"--format", "pcm16", "--no-dither"}, 32767, 32768.0},
        {"24-bit", {"--format", "pcm24"}, 8388607, 8388608.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"render", "-m",          kFormula,      "-t", "x",
                                         "-o",     path("n.wav"), "--normalize", "0"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = run(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err.find("clipped"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("clipped in the file (beyond full scale): 0 (channel 1)"), std::string::npos)
            << r.out;
        Sound out;
        ASSERT_TRUE(readSound(path("n.wav"), &out));
        long peak = 0;
        for (float s : out.samples)
            peak = std::max(peak, std::labs(std::lround(s * c.scale)));
        // Dither moves the loudest sample by up to one step either way.
        EXPECT_LE(peak, c.peakSteps + 0);
        EXPECT_GE(peak, c.peakSteps - 1);
    }
}

TEST_F(ShaperhostConventions, ATextFileEndsBeforeItsTrailingLineBreaksAndSpaces) {
    const RunResult given = run({"table", "-m", kFormula, "-t", "tanh(x)*4"});
    ASSERT_EQ(given.exitCode, 0) << given.err;
    for (const char* contents : {"tanh(x)*4\n\n", "tanh(x)*4 \r\n \t\n\n", "tanh(x)*4"}) {
        SCOPED_TRACE(contents);
        writeText(path("f.txt"), contents);
        const RunResult r = run({"table", "-m", kFormula, "--text-file", path("f.txt")});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, given.out);
        EXPECT_EQ(r.err.find("note:"), std::string::npos) << r.err;
    }
}

TEST_F(ShaperhostConventions, DiffExitsAsCmpAndReportsFilesThatCannotBeCompared) {
    writeSine(path("a.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2000);
    writeSine(path("rate.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2000, 1, 44100);
    writeSine(path("stereo.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2000, 2);
    writeSine(path("short.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1999);
    writeSine(path("float.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2000);
    writeText(path("text.wav"), "not audio");
    const struct {
        const char* name;
        const char* b;
        int exitCode;
        const char* property; // "" comparable
        std::vector<int> values;
        const char* text; // on standard output, or on standard error for trouble
    } cases[] = {
        {"same", "a.wav", 0, "", {}, "same"},
        {"different samples", "float.wav", 1, "", {}, "different"},
        {"sample rate", "rate.wav", 1, "sample_rate", {48000, 44100}, "sample rates 48000 Hz and 44100 Hz"},
        {"channels", "stereo.wav", 1, "channels", {1, 2}, "channel counts 1 and 2"},
        {"length", "short.wav", 1, "frames", {2000, 1999}, "lengths 2000 frames and 1999 frames"},
        {"missing", "none.wav", 2, "", {}, "shaperhost: error: input file"},
        {"not audio", "text.wav", 2, "", {}, "shaperhost: error: input"},
        {"folder", ".", 2, "", {}, "shaperhost: error: input"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult r = run({"diff", path("a.wav"), path(c.b)});
        EXPECT_EQ(r.exitCode, c.exitCode);
        if (c.exitCode == 2) {
            EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
            continue;
        }
        // A result, never an error.
        EXPECT_EQ(r.err, "");
        EXPECT_NE(r.out.find(c.text), std::string::npos) << r.out;
        const bool comparable = *c.property == '\0';
        EXPECT_EQ(r.out.find("not comparable") == std::string::npos, comparable) << r.out;
        EXPECT_EQ(r.out.find("peak difference") != std::string::npos, comparable) << r.out;

        const RunResult j = run({"diff", path("a.wav"), path(c.b), "--json"});
        EXPECT_EQ(j.exitCode, c.exitCode);
        const json doc = json::parse(j.out);
        EXPECT_EQ(doc.at("comparable").get<bool>(), comparable);
        EXPECT_EQ(doc.at("same").get<bool>(), c.exitCode == 0);
        if (comparable) {
            EXPECT_TRUE(doc.at("mismatch_property").is_null());
            EXPECT_FALSE(doc.at("differing_samples").is_null());
        } else {
            EXPECT_EQ(doc.at("mismatch_property"), c.property);
            EXPECT_EQ(doc.at("mismatch_values"), json(c.values));
            EXPECT_NE(doc.at("mismatch").get<std::string>().find(c.text), std::string::npos) << doc;
            // No sample was compared.
            EXPECT_TRUE(doc.at("peak_difference").is_null());
            EXPECT_TRUE(doc.at("differing_samples").is_null());
            EXPECT_TRUE(doc.at("first_difference_frame").is_null());
        }
    }
    // A wrong command line is trouble too.
    EXPECT_EQ(run({"diff", path("a.wav")}).exitCode, 2);
}

TEST_F(ShaperhostConventions, DiffReadsLongFilesInBoundedMemory) {
    // Held whole, two ten-minute mono files took 2 x 28.8 million floats (230 MB); read in pieces the
    // program stays far below that, also where the first difference lies near the end.
    const int frames = 48000 * 600;
    writeSine(path("a.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, frames);
    writeSine(path("b.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, frames);
    {
        // One sample changed near the end of b.
        SF_INFO info{};
        SNDFILE* b = sf_open(path("b.wav").c_str(), SFM_RDWR, &info);
        ASSERT_NE(b, nullptr);
        ASSERT_EQ(sf_seek(b, frames - 10, SEEK_SET), frames - 10);
        const short loud = 30000;
        sf_write_short(b, &loud, 1);
        sf_close(b);
    }
    const long long addressLimit = kAddressSanitizer ? 0 : 512LL * 1024 * 1024;
    const int pid = start({"diff", path("a.wav"), path("b.wav"), "--json"}, path("out.json"), addressLimit);
    long peakKiB = 0;
    const RunResult r = finish(pid, nullptr, &peakKiB);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::cout << "diff of two ten-minute files: peak resident set " << peakKiB / 1024 << " MiB\n";
    EXPECT_LT(peakKiB, 100L * 1024);
    const json doc = json::parse(readText(path("out.json")));
    EXPECT_EQ(doc.at("first_difference_frame"), frames - 10);
    EXPECT_EQ(doc.at("differing_samples"), 1);
}

TEST_F(ShaperhostConventions, TheRenderSummaryRepeatsItsSettingsAndTheInputLevelBeforeTheGain) {
    writeSine(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 4800);
    const RunResult r =
        run({"render", "-m", kFormula, "-t", "x", "-i", path("in.wav"), "-o", path("o.wav"), "-g", "-6dB",
             "--mix", "0.5", "--dc-block", "--oversample", "2", "--output-gain", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* setting : {"gain 0.5011872 (-6.00 dB)", "oversampled 2x (VHQ)", "mix 0.5", "DC block on",
                                "output gain 2 (6.02 dB)"})
        EXPECT_NE(r.out.find(setting), std::string::npos) << setting << "\n" << r.out;
    // The input is the file as read (0.4 of full scale), the module's input after the gain.
    EXPECT_NE(r.out.find("input   peak 0.400000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("module in  peak 0.200475"), std::string::npos) << r.out;

    const RunResult j = run({"render", "-m", kFormula, "-i", path("in.wav"), "-o", path("o.wav"), "-g", "2",
                             "--normalize", "-6", "--json"});
    ASSERT_EQ(j.exitCode, 0) << j.err;
    const json doc = json::parse(j.out);
    EXPECT_NEAR(doc.at("input_levels").at("peak").get<double>(), 0.4, 1e-6);
    EXPECT_NEAR(doc.at("module_input_levels").at("peak").get<double>(), 0.8, 1e-6);
    EXPECT_EQ(doc.at("gain"), 2.0);
    EXPECT_NEAR(doc.at("normalize_dbfs").get<double>(), -6.0, 1e-9);
    EXPECT_TRUE(doc.at("output_gain").is_null());
}

TEST_F(ShaperhostConventions, AutomationKeysAreCheckedAndTheEditorSaysWhereItsEditWent) {
    writeText(path("a.json"), R"([{"seconds": 0.5, "text": "x"}, {"second": 1, "text": "x*x"}])");
    const RunResult r = run({"render", "-m", kFormula, "-o", path("o.wav"), "--automation", path("a.json")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("automation entry 2"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("unknown key \"second\""), std::string::npos) << r.err;
    EXPECT_FALSE(exists("o.wav"));

    const RunResult e =
        run({"editor", "--size", "100x100", "--drag", "50,50:50,30", "--render", path("e.wav")});
    ASSERT_EQ(e.exitCode, 0) << e.err;
    EXPECT_NE(e.out.find("edit routed: "), std::string::npos) << e.out;
    EXPECT_EQ(e.out.find("road"), std::string::npos) << e.out;
}

} // namespace
