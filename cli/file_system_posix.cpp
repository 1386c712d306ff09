#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <atomic>
#include <initializer_list>

#include "cli/file_system.h"

namespace shaperhost {

namespace {

// More than any command stages at once (the demo writes eight files).
constexpr int kSlots = 32;

// The handler reads these; a slot holds a path only while its file may exist.
std::atomic<const char*> partialFiles[kSlots];

static_assert(std::atomic<const char*>::is_always_lock_free, "the signal handler reads the slots");

extern "C" void removePartialFilesAndEnd(int signalNumber) {
    for (std::atomic<const char*>& slot : partialFiles) {
        const char* path = slot.load();
        if (path != nullptr)
            unlink(path);
    }
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

int registerPartialFile(const char* path) {
    for (int i = 0; i < kSlots; ++i) {
        const char* empty = nullptr;
        if (partialFiles[i].compare_exchange_strong(empty, path))
            return i;
    }
    return -1;
}

void withdrawPartialFile(int slot) {
    if (slot >= 0 && slot < kSlots)
        partialFiles[slot].store(nullptr);
}

} // namespace shaperhost
