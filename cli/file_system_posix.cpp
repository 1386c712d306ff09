#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <initializer_list>

#include "cli/file_system.h"

namespace shaperhost {

namespace {

extern "C" void removePartialFilesAndEnd(int signalNumber) {
    removePartialFiles(unlink);
    // End as the signal would have ended the program, so the caller sees the usual status.
    signal(signalNumber, SIG_DFL);
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

void useBinaryMode(std::FILE*) {}

// SIGPIPE too: a pipe output whose reader went away ends the program as before, but not before the
// staging file is removed.
void installInterruptCleanup() {
    struct sigaction action {};
    action.sa_handler = removePartialFilesAndEnd;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaddset(&action.sa_mask, signalNumber);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        // A signal ignored by whoever started the program stays ignored (e.g. under nohup).
        struct sigaction previous {};
        sigaction(signalNumber, nullptr, &previous);
        if (previous.sa_handler != SIG_IGN)
            sigaction(signalNumber, &action, nullptr);
    }
}

} // namespace shaperhost
