// Runs the built shaperhost program as a user does and reads the files it writes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace clitest {

// Whether the tests run under AddressSanitizer, whose allocator reserves terabytes of address space:
// address limits and resident-memory bounds are then left out or widened.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

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

// A build of shaperhost and the command that starts it (empty: started directly).
struct ProgramUnderTest {
    std::string path;
    std::string runner;
};

// The program beside the test program (the native build).
std::string nativeProgram();
// The program the end-to-end tests run: $SHAPERHOST_PROGRAM started through $SHAPERHOST_RUNNER
// (for example the Windows build through scripts/wine-run), else the native build.
ProgramUnderTest programUnderTest();
// The folder of that program (with its separator) and the module library beside it.
std::string programFolder();
std::string programLibrary();

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
    RunResult runProgram(const ProgramUnderTest& program, const std::vector<std::string>& args) const;
    std::string path(const std::string& name) const { return folder + "/" + name; }
    bool exists(const std::string& name) const;
    // Names of all files in the test's folder, hidden ones included.
    std::vector<std::string> files() const;

    std::string folder;
};

// libsndfile reading; false when it cannot open the file.
bool readSound(const std::string& path, Sound* sound);
void writePcm16(const std::string& path, int channels, int sampleRate, const std::vector<short>& samples);
// A WAV of unsigned 8-bit samples whose sample data is a hole in the file (sparse where the file system
// allows), so that a file of gigabytes takes next to no disk: `head` bytes at the start of the data,
// `tail` bytes at its end, 0 bytes (-1.0) between.
void writeSparseWav8(const std::string& path, int channels, int sampleRate, int64_t frames,
                     const std::string& head, const std::string& tail);
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb; // rows top to bottom, three bytes a pixel
    uint32_t pixel(int x, int y) const {
        const unsigned char* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
        return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    }
};
bool readPng(const std::string& path, Picture* picture);
bool readPngSize(const std::string& path, int* width, int* height);
void writeText(const std::string& path, const std::string& text);
std::string readText(const std::string& path);

// The identity curve text with point `index` replaced.
std::string identityWith(int index, const std::string& point);
extern const char* const kIdentityCurve;

} // namespace clitest
