#include "cli_test_support.h"

#include <fcntl.h>
#include <png.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "host/plugin_library.h"

namespace fs = std::filesystem;

namespace clitest {

const char* const kIdentityCurve =
    "(-5.0,-5.0)(-4.0,-4.0)(-3.0,-3.0)(-2.0,-2.0)(-1.0,-1.0)(0.0,0.0)(1.0,1.0)(2.0,2.0)"
    "(3.0,3.0)(4.0,4.0)(5.0,5.0)";

namespace {

std::string quoted(const std::string& word) {
    std::string q = "'";
    for (char c : word) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

} // namespace

void ProgramTest::SetUp() {
    std::random_device random;
    const std::string name = std::string("shaperhost-") +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
                             std::to_string(random() % 1000000u);
    folder = (fs::temp_directory_path() / name).string();
    fs::remove_all(folder);
    fs::create_directories(folder);
}

void ProgramTest::TearDown() {
    if (!HasFailure())
        fs::remove_all(folder);
}

std::string nativeProgram() {
    return mphost::PluginLibrary::programFolder() + "shaperhost";
}

ProgramUnderTest programUnderTest() {
    ProgramUnderTest program;
    const char* path = std::getenv("SHAPERHOST_PROGRAM");
    const char* runner = std::getenv("SHAPERHOST_RUNNER");
    program.path = path != nullptr && *path != '\0' ? path : nativeProgram();
    program.runner = runner != nullptr ? runner : "";
    return program;
}

std::string programFolder() {
    const std::string program = programUnderTest().path;
    return program.substr(0, program.find_last_of('/') + 1);
}

std::string programLibrary() {
    const std::string program = programUnderTest().path;
    const bool windows = program.size() > 4 && program.compare(program.size() - 4, 4, ".exe") == 0;
    return programFolder() + (windows ? "waveshapers.dll" : "libwaveshapers.so");
}

RunResult ProgramTest::run(const std::vector<std::string>& args) const {
    return runProgram(programUnderTest(), args);
}

RunResult ProgramTest::runProgram(const ProgramUnderTest& program,
                                  const std::vector<std::string>& args) const {
    std::string command = quoted(program.path);
    if (!program.runner.empty())
        command = quoted(program.runner) + " " + command;
    for (const std::string& a : args)
        command += " " + quoted(a);
    const std::string errFile = folder + "/../" + fs::path(folder).filename().string() + ".stderr";
    command += " 2>" + quoted(errFile);
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = readText(errFile);
    fs::remove(errFile);
    // A Windows program writes its console lines with CR LF; the expectations are about the text.
    if (!program.runner.empty()) {
        for (std::string* text : {&result.out, &result.err}) {
            std::string::size_type at = 0;
            while ((at = text->find("\r\n", at)) != std::string::npos)
                text->erase(at, 1);
        }
    }
    return result;
}

int ProgramTest::start(const std::vector<std::string>& args, const std::string& out,
                       long long addressLimit) const {
    const ProgramUnderTest under = programUnderTest();
    const std::string program = under.runner.empty() ? under.path : under.runner;
    const std::string errFile = folder + ".stderr";
    std::vector<std::string> words = {program};
    if (!under.runner.empty())
        words.push_back(under.path);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int errFd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (outFd < 0 || errFd < 0)
            _exit(127);
        dup2(outFd, 1);
        dup2(errFd, 2);
        if (addressLimit > 0) {
            const rlimit limit{static_cast<rlim_t>(addressLimit), static_cast<rlim_t>(addressLimit)};
            setrlimit(RLIMIT_AS, &limit);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

RunResult ProgramTest::finish(int pid, int* signal, long* peakKiB) const {
    RunResult result;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return result;
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    if (signal != nullptr)
        *signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (peakKiB != nullptr)
        *peakKiB = usage.ru_maxrss;
    const std::string errFile = folder + ".stderr";
    result.err = readText(errFile);
    fs::remove(errFile);
    return result;
}

bool ProgramTest::exists(const std::string& name) const {
    return fs::exists(path(name));
}

std::vector<std::string> ProgramTest::files() const {
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    return names;
}

bool readSound(const std::string& path, Sound* sound) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        return false;
    sound->channels = info.channels;
    sound->sampleRate = info.samplerate;
    sound->format = info.format;
    sound->samples.assign(static_cast<std::size_t>(info.frames * info.channels), 0.0f);
    const sf_count_t got = sf_readf_float(file, sound->samples.data(), info.frames);
    sf_close(file);
    return got == info.frames;
}

void writePcm16(const std::string& path, int channels, int sampleRate, const std::vector<short>& samples) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sampleRate;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_writef_short(file, samples.data(), static_cast<sf_count_t>(samples.size()) / channels);
    sf_close(file);
}

void writeSparseWav8(const std::string& path, int channels, int sampleRate, int64_t frames,
                     const std::string& head, const std::string& tail) {
    const uint64_t dataBytes = static_cast<uint64_t>(frames) * static_cast<uint64_t>(channels);
    ASSERT_LE(dataBytes + 36, 0xFFFFFFFFull) << "a WAV header states sizes in 32 bits";
    ASSERT_LE(head.size() + tail.size(), dataBytes);
    std::string header;
    auto put16 = [&header](uint32_t v) {
        header += static_cast<char>(v & 0xFF);
        header += static_cast<char>((v >> 8) & 0xFF);
    };
    auto put32 = [&put16](uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    header += "RIFF";
    put32(static_cast<uint32_t>(36 + dataBytes));
    header += "WAVEfmt ";
    put32(16);
    put16(1); // integer PCM
    put16(static_cast<uint32_t>(channels));
    put32(static_cast<uint32_t>(sampleRate));
    put32(static_cast<uint32_t>(sampleRate * channels));
    put16(static_cast<uint32_t>(channels));
    put16(8);
    header += "data";
    put32(static_cast<uint32_t>(dataBytes));
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << header << head;
        ASSERT_TRUE(out.good()) << path;
    }
    fs::resize_file(path, header.size() + dataBytes);
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(header.size() + dataBytes - tail.size()));
    out << tail;
    ASSERT_TRUE(out.good()) << path;
}

bool readPng(const std::string& path, Picture* picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGB;
    picture->rgb.assign(PNG_IMAGE_SIZE(image), 0);
    const bool ok = png_image_finish_read(&image, nullptr, picture->rgb.data(), 0, nullptr) != 0;
    picture->width = static_cast<int>(image.width);
    picture->height = static_cast<int>(image.height);
    return ok;
}

bool readPngSize(const std::string& path, int* width, int* height) {
    Picture picture;
    const bool ok = readPng(path, &picture);
    *width = picture.width;
    *height = picture.height;
    return ok;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string identityWith(int index, const std::string& point) {
    std::string text;
    for (int k = 0; k <= 10; ++k) {
        if (k == index) {
            text += point;
        } else {
            const int v = k - 5;
            text += "(" + std::to_string(v) + ".0," + std::to_string(v) + ".0)";
        }
    }
    return text;
}

} // namespace clitest
