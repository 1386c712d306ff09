#include "host_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef LV2_TEST_LV2_FOLDER
#error "LV2_TEST_LV2_FOLDER must name the build's lv2 folder"
#endif

namespace lv2test {

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings)
        result.push_back(&s[0]);
    result.push_back(nullptr);
    return result;
}

// The environment of this process with `extra` set on top.
std::vector<std::string> environmentWith(const std::vector<std::string>& extra) {
    std::vector<std::string> result;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& x : extra)
            replaced = replaced || x.compare(0, name.size() + 1, name + "=") == 0;
        // Our sanitizers' settings are not the hosts' business; the hosts are not instrumented.
        if (!replaced && name != "LD_PRELOAD")
            result.push_back(entry);
    }
    result.insert(result.end(), extra.begin(), extra.end());
    return result;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

RunResult runCommand(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                     const std::string& input, int seconds) {
    char outName[] = "/tmp/lv2test-out-XXXXXX";
    char errName[] = "/tmp/lv2test-err-XXXXXX";
    char inName[] = "/tmp/lv2test-in-XXXXXX";
    const int outFd = mkstemp(outName);
    const int errFd = mkstemp(errName);
    const int inFd = mkstemp(inName);
    if (write(inFd, input.data(), input.size()) != static_cast<ssize_t>(input.size()))
        ADD_FAILURE() << "cannot write the standard input file";
    lseek(inFd, 0, SEEK_SET);
    std::vector<std::string> args = argv;
    std::vector<std::string> env = environmentWith(environment);
    std::vector<char*> argp = pointers(args);
    std::vector<char*> envp = pointers(env);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(inFd, 0);
        dup2(outFd, 1);
        dup2(errFd, 2);
        execvpe(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    RunResult result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (true) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << argv[0] << " did not finish within " << seconds << " s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    close(outFd);
    close(errFd);
    close(inFd);
    result.out = readAll(outName);
    result.err = readAll(errName);
    unlink(outName);
    unlink(errName);
    unlink(inName);
    return result;
}

Background::Background(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                       const std::string& outPath, int inputFd) {
    std::vector<std::string> args = argv;
    std::vector<std::string> env = environmentWith(environment);
    std::vector<char*> argp = pointers(args);
    std::vector<char*> envp = pointers(env);
    const int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid = fork();
    if (pid == 0) {
        dup2(inputFd >= 0 ? inputFd : open("/dev/null", O_RDONLY), 0);
        dup2(outFd, 1);
        dup2(outFd, 2);
        execvpe(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    close(outFd);
}

Background::~Background() {
    stop();
}

bool Background::running() const {
    if (pid <= 0)
        return false;
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == 0;
}

void Background::stop() {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    pid = -1;
}

bool readSound(const std::string& path, Sound* sound) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        return false;
    sound->channels = info.channels;
    sound->sampleRate = info.samplerate;
    sound->samples.assign(static_cast<std::size_t>(info.frames * info.channels), 0.0f);
    sf_readf_float(file, sound->samples.data(), info.frames);
    sf_close(file);
    return true;
}

void writeFloatWav(const std::string& path, int channels, int sampleRate, const std::vector<float>& samples) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sampleRate;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size() / channels));
    sf_close(file);
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string readText(const std::string& path) {
    return readAll(path);
}

bool fileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string lv2Folder() {
    return LV2_TEST_LV2_FOLDER;
}

std::string shaperhost() {
    return LV2_TEST_SHAPERHOST;
}

std::string stateTool() {
    return LV2_TEST_STATE_TOOL;
}

void HostTest::SetUp() {
    char name[] = "/tmp/lv2-host-test-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder = name;
}

void HostTest::TearDown() {
    std::error_code error;
    std::filesystem::remove_all(folder, error);
}

std::vector<std::string> HostTest::lv2Environment() const {
    return {"LV2_PATH=" + lv2Folder(), "HOME=" + folder};
}

} // namespace lv2test
