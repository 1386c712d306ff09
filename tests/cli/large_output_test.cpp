// Outputs at the 4 GiB a WAV header's 32-bit sizes can state, written for real: 256 channels of float
// (1 KiB a frame, the fewest frames per byte the program writes) from a sparse 8-bit input, so that
// only the output takes disk. Each case renders about a gigasample, which takes minutes under the
// sanitizers: these tests run against a Release build (CTest label `large`).
#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace fs = std::filesystem;

namespace {

using namespace clitest;

constexpr int kChannels = 256;
constexpr int64_t kFrameBytes = 4 * kChannels; // float output
constexpr int kRate = 48000;
constexpr int kEdgeFrames = 3;

// Frames of float output whose sample data is just beyond 2^32 bytes, and the largest number the
// program still writes as plain WAV (it keeps 64 KiB of the 32-bit size for the header).
constexpr int64_t kBeyondFrames = (int64_t{1} << 32) / kFrameBytes + 1;
constexpr int64_t kUnderFrames = (0xFFFFFFFFLL - 65536) / kFrameBytes;

// Distinct bytes for the first and the last frames of the input.
std::string edgeBytes(int seed) {
    std::string bytes;
    for (int i = 0; i < kEdgeFrames * kChannels; ++i)
        bytes += static_cast<char>((i * 7 + seed * 31 + 1) % 256);
    return bytes;
}

// The float an unsigned 8-bit sample stands for.
float fromByte(char byte) {
    return static_cast<float>(static_cast<int>(static_cast<unsigned char>(byte)) - 128) / 128.0f;
}

std::string shellQuoted(const std::string& word) {
    std::string q = "'";
    for (char c : word)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The first line a shell command prints.
std::string firstLine(const std::string& command) {
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return "";
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr)
        text += buffer;
    pclose(pipe);
    return text.substr(0, text.find('\n'));
}

bool soxInstalled() {
    return std::system("command -v sox >/dev/null 2>&1 && command -v soxi >/dev/null 2>&1") == 0;
}

class ShaperhostLargeOutput : public ProgramTest {
protected:
    // Skips (true) when the test folder's file system has not room for `bytes` more.
    bool lacksRoomFor(uint64_t bytes) const {
        std::error_code error;
        const fs::space_info space = fs::space(folder, error);
        return error || space.available < bytes;
    }

    // A sparse input of `frames` frames, its first and last frames from edgeBytes(1) and edgeBytes(2).
    std::string makeInput(int64_t frames) const {
        const std::string input = path("in.wav");
        writeSparseWav8(input, kChannels, kRate, frames, edgeBytes(1), edgeBytes(2));
        return input;
    }

    // The command rendering `input` dry (--mix 0: the output is the input, exactly) as float.
    std::vector<std::string> renderArgs(const std::string& input, const std::string& output) const {
        return {"render", "-m",       "Curve Waveshaper",
                "-i",     input,      "-o",
                output,   "--format", "float",
                "--mix",  "0",        "-b",
                "65536"};
    }

    // The file read back by libsndfile: its container, length and first and last frames.
    void expectReadBack(const std::string& file, int container, int64_t frames) const {
        SF_INFO info{};
        SNDFILE* sound = sf_open(file.c_str(), SFM_READ, &info);
        ASSERT_NE(sound, nullptr) << sf_strerror(nullptr);
        EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, container);
        EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
        EXPECT_EQ(info.channels, kChannels);
        EXPECT_EQ(info.frames, frames);
        std::vector<float> head(kEdgeFrames * kChannels);
        std::vector<float> tail(kEdgeFrames * kChannels);
        EXPECT_EQ(sf_readf_float(sound, head.data(), kEdgeFrames), kEdgeFrames);
        EXPECT_EQ(sf_seek(sound, frames - kEdgeFrames, SEEK_SET), frames - kEdgeFrames);
        EXPECT_EQ(sf_readf_float(sound, tail.data(), kEdgeFrames), kEdgeFrames);
        sf_close(sound);
        const std::string first = edgeBytes(1);
        const std::string last = edgeBytes(2);
        for (std::size_t i = 0; i < head.size(); ++i) {
            ASSERT_EQ(head[i], fromByte(first[i])) << "sample " << i;
            ASSERT_EQ(tail[i], fromByte(last[i])) << "sample " << i << " of the last frames";
        }
    }

    // The same through sox, when installed: the file's type and length, and its last frame.
    void expectSoxReadsIt(const std::string& file, const std::string& type, int64_t frames) const {
        if (!soxInstalled()) {
            std::cout << "sox is not installed: the file was read back with libsndfile only\n";
            return;
        }
        EXPECT_EQ(firstLine("soxi -s " + shellQuoted(file)), std::to_string(frames));
        EXPECT_EQ(firstLine("soxi -t " + shellQuoted(file)), type);
        // The last frame, channels 1 and 256, as text.
        const std::string lastFrame =
            firstLine("sox " + shellQuoted(file) + " -t dat - trim " + std::to_string(frames - 1) +
                      "s remix 1 " + std::to_string(kChannels) + " 2>/dev/null | tail -n 1");
        const std::string last = edgeBytes(2);
        float time = 0.0f;
        float first = 0.0f;
        float lastChannel = 0.0f;
        ASSERT_EQ(std::sscanf(lastFrame.c_str(), "%f %f %f", &time, &first, &lastChannel), 3) << lastFrame;
        const std::size_t at = static_cast<std::size_t>(kEdgeFrames - 1) * kChannels;
        EXPECT_NEAR(first, fromByte(last[at]), 1e-6);
        EXPECT_NEAR(lastChannel, fromByte(last[at + kChannels - 1]), 1e-6);
    }
};

TEST_F(ShaperhostLargeOutput, AWavBeyondFourGibibytesIsWrittenAsRf64) {
    const uint64_t bytes = static_cast<uint64_t>(kBeyondFrames) * kFrameBytes;
    if (lacksRoomFor(bytes + (uint64_t{256} << 20)))
        GTEST_SKIP() << "the test folder's file system has not " << bytes / (1 << 20) << " MiB free";
    const std::string input = makeInput(kBeyondFrames);
    const RunResult r = run(renderArgs(input, path("out.wav")));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_GT(fs::file_size(path("out.wav")), bytes);
    expectReadBack(path("out.wav"), SF_FORMAT_RF64, kBeyondFrames);
    expectSoxReadsIt(path("out.wav"), "wav", kBeyondFrames);
}

TEST_F(ShaperhostLargeOutput, AWavJustUnderTheLimitStaysPlainWav) {
    const uint64_t bytes = static_cast<uint64_t>(kUnderFrames) * kFrameBytes;
    if (lacksRoomFor(bytes + (uint64_t{256} << 20)))
        GTEST_SKIP() << "the test folder's file system has not " << bytes / (1 << 20) << " MiB free";
    const std::string input = makeInput(kUnderFrames);
    const RunResult r = run(renderArgs(input, path("out.wav")));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectReadBack(path("out.wav"), SF_FORMAT_WAV, kUnderFrames);
    expectSoxReadsIt(path("out.wav"), "wav", kUnderFrames);
    // A plain RIFF header whose size is the file's own.
    std::FILE* file = std::fopen(path("out.wav").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    unsigned char riff[8] = {};
    ASSERT_EQ(std::fread(riff, 1, 8, file), 8u);
    std::fclose(file);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(riff), 4), "RIFF");
    const uint64_t riffSize =
        uint64_t{riff[4]} | uint64_t{riff[5]} << 8 | uint64_t{riff[6]} << 16 | uint64_t{riff[7]} << 24;
    EXPECT_EQ(riffSize + 8, fs::file_size(path("out.wav")));
}

// From a pipe the length is not known before the end: the output stops before its sample data would
// pass what a WAV header states, with a failure and no file. Normalised, the output is held in a
// scratch file first, which stops at the same point. Writing beyond 4 GiB + 64 KiB is made to fail
// (ulimit -f) with another message, so that an overrun of either file would show.
TEST_F(ShaperhostLargeOutput, AWavFromAPipeThatWouldPassFourGibibytesIsRefusedAtTheLimit) {
    const uint64_t limit = (uint64_t{1} << 32) + 65536;
    if (lacksRoomFor(limit + (uint64_t{256} << 20)))
        GTEST_SKIP() << "the test folder's file system has not " << limit / (1 << 20) << " MiB free";
    const std::string input = makeInput(kBeyondFrames);
    const ProgramUnderTest program = programUnderTest();
    const struct {
        const char* name;
        std::vector<std::string> options;
    } cases[] = {{"written as it comes", {}}, {"normalised", {"--normalize", "-1"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The scratch file goes to the test folder, whose free space was checked.
        std::string command = "ulimit -f " + std::to_string(limit / 1024) + "; cat " + shellQuoted(input) +
                              " | TMPDIR=" + shellQuoted(folder) + " " +
                              (program.runner.empty() ? "" : shellQuoted(program.runner) + " ") +
                              shellQuoted(program.path);
        std::vector<std::string> args = renderArgs("-", path("out.wav"));
        args.insert(args.end(), c.options.begin(), c.options.end());
        for (const std::string& word : args)
            command += " " + shellQuoted(word);
        command += " >" + shellQuoted(path("stdout.txt")) + " 2>" + shellQuoted(path("stderr.txt"));
        const int status = std::system(("bash -c " + shellQuoted(command)).c_str());
        const std::string err = readText(path("stderr.txt"));
        ASSERT_TRUE(WIFEXITED(status)) << err;
        EXPECT_EQ(WEXITSTATUS(status), 1) << err;
        EXPECT_NE(err.find("32-bit sizes"), std::string::npos) << err;
        EXPECT_EQ(err.find("File too large"), std::string::npos) << err;
        std::vector<std::string> names = files();
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"in.wav", "stderr.txt", "stdout.txt"}));
    }
}

} // namespace
