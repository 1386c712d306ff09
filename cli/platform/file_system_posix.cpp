#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <iterator>
#include <vector>

#include "cli/platform/file_system.h"

namespace shaperhost {

namespace {

// The signals that end the program by default and can be caught. SIGXFSZ is not among them: it is
// ignored, so a write beyond the file size limit fails as a write does (EFBIG) and is reported so.
constexpr int kEndingSignals[] = {
    SIGINT,    SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
    SIGXCPU,   SIGPOLL, SIGSYS, SIGTRAP, SIGABRT, SIGSEGV, SIGBUS,  SIGFPE,  SIGILL,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

// Signals a fault raises in the instruction that caused it; 64 covers every real-time signal too.
constexpr int kMaxSignal = 65;
struct sigaction previousActions[kMaxSignal];

extern "C" void removePartialFilesAndEnd(int signalNumber, siginfo_t* info, void*) {
    removePartialFiles(unlink);
    // End as the signal would have ended the program, so the caller sees the usual status: with the
    // action there was before (the default, or a sanitizer's report of a fault). A fault the system
    // raised happens again when the handler returns; any other signal is raised again.
    if (signalNumber > 0 && signalNumber < kMaxSignal)
        sigaction(signalNumber, &previousActions[signalNumber], nullptr);
    else
        signal(signalNumber, SIG_DFL);
    const bool fault =
        signalNumber == SIGSEGV || signalNumber == SIGBUS || signalNumber == SIGFPE || signalNumber == SIGILL;
    if (fault && info != nullptr && info->si_code > 0)
        return;
    raise(signalNumber);
}

} // namespace

int createNewFile(const std::string& path) {
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file < 0)
        return errno;
    close(file);
    return 0;
}

std::FILE* openStagingFile(const std::string& path, bool readBack) {
    return std::fopen(path.c_str(), readBack ? "w+b" : "wb");
}

// The name goes at once: the data stays until the file is closed, and nothing is left behind whatever
// ends the program, SIGKILL included.
std::FILE* openScratchFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "w+b");
    if (file != nullptr)
        unlink(path.c_str());
    return file;
}
void useBinaryMode(std::FILE*) {}

// SIGPIPE too: a pipe output whose reader went away ends the program as before, but not before the
// staging file is removed. The real-time signals end the program by default as well.
void installInterruptCleanup() {
    signal(SIGXFSZ, SIG_IGN);
    std::vector<int> signals(std::begin(kEndingSignals), std::end(kEndingSignals));
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX && signalNumber < kMaxSignal; ++signalNumber)
        signals.push_back(signalNumber);
    struct sigaction action {};
    action.sa_sigaction = removePartialFilesAndEnd;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : signals)
        sigaddset(&action.sa_mask, signalNumber);
    for (int signalNumber : signals) {
        // A signal ignored by whoever started the program stays ignored (e.g. under nohup).
        struct sigaction previous {};
        if (sigaction(signalNumber, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
            continue;
        previousActions[signalNumber] = previous;
        sigaction(signalNumber, &action, nullptr);
    }
}

} // namespace shaperhost
