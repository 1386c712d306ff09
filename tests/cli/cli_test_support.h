// Runs the built shaperhost program as a user does and reads the files it writes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace clitest {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

struct Sound {
    int channels = 0;
    int sampleRate = 0;
    int format = 0;             // libsndfile format word
    std::vector<float> samples; // interleaved
};

// Each test gets an empty folder of its own, removed afterwards.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs shaperhost with the arguments, each passed as one word.
    RunResult run(const std::vector<std::string>& args) const;
    // Starts shaperhost without waiting: standard output to `out` (a path), standard error to a file
    // that finish() reads. `addressLimit` > 0 limits the program's address space (bytes).
    int start(const std::vector<std::string>& args, const std::string& out, long long addressLimit = 0) const;
    // Waits for a started program. exitCode is -1 and *signal the signal when a signal ended it; the
    // largest resident set it had, in KiB, goes to *peakKiB when given.
    RunResult finish(int pid, int* signal = nullptr, long* peakKiB = nullptr) const;
    std::string path(const std::string& name) const { return folder + "/" + name; }
    bool exists(const std::string& name) const;
    // Names of all files in the test's folder, hidden ones included.
    std::vector<std::string> files() const;

    std::string folder;
};

// libsndfile reading; false when it cannot open the file.
bool readSound(const std::string& path, Sound* sound);
void writePcm16(const std::string& path, int channels, int sampleRate, const std::vector<short>& samples);
bool readPngSize(const std::string& path, int* width, int* height);
void writeText(const std::string& path, const std::string& text);
std::string readText(const std::string& path);

// The identity curve text with point `index` replaced.
std::string identityWith(int index, const std::string& point);
extern const char* const kIdentityCurve;

} // namespace clitest
