// Runs third-party LV2 hosts and tools as a user does, each test in a folder of its own, and reads
// and writes the audio files they take and make.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lv2test {

struct RunResult {
    int exitCode = -1; // -1 when a signal or the time limit ended the program
    std::string out;
    std::string err;
};

// Runs argv[0] (looked up in PATH) with the arguments and extra environment ("NAME=value"), standard
// input from `input`, and kills it after `seconds`.
RunResult runCommand(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {},
                     const std::string& input = "", int seconds = 120);

// A started program, its standard output and error going to files; stop() ends it by its process id.
class Background {
public:
    // Standard input from inputFd when given (the child gets its own copy), else /dev/null.
    Background(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
               const std::string& outPath, int inputFd = -1);
    ~Background();
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;
    bool running() const;
    void stop();

private:
    int pid = -1;
};

struct Sound {
    int channels = 0;
    int sampleRate = 0;
    std::vector<float> samples; // interleaved
};

bool readSound(const std::string& path, Sound* sound);
// A 32-bit float WAV file.
void writeFloatWav(const std::string& path, int channels, int sampleRate, const std::vector<float>& samples);
void writeText(const std::string& path, const std::string& text);
std::string readText(const std::string& path);
bool fileExists(const std::string& path);

// Where the build put things: the folder holding waveshapers.lv2 (for LV2_PATH), shaperhost, the
// state tool.
std::string lv2Folder();
std::string shaperhost();
std::string stateTool();

// Each test gets an empty folder of its own, removed afterwards, and LV2_PATH naming only our bundle's
// folder (no system folder, so the tests see our plugins whatever else is installed).
class HostTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string path(const std::string& name) const { return folder + "/" + name; }
    std::vector<std::string> lv2Environment() const;

    std::string folder;
};

} // namespace lv2test
