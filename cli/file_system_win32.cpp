#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "cli/file_system.h"

namespace shaperhost {

namespace {

constexpr int kSlots = 32;

std::atomic<const char*> partialFiles[kSlots];

// The C runtime runs these handlers on a thread of their own, where removing files is allowed.
extern "C" void removePartialFilesAndEnd(int signalNumber) {
    for (std::atomic<const char*>& slot : partialFiles) {
        const char* path = slot.load();
        if (path != nullptr)
            std::remove(path);
    }
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

} // namespace

int createNewFile(const std::string& path) {
    const int file = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (file < 0)
        return errno;
    _close(file);
    return 0;
}

void installInterruptCleanup() {
    std::signal(SIGINT, removePartialFilesAndEnd);
    std::signal(SIGTERM, removePartialFilesAndEnd);
    std::signal(SIGBREAK, removePartialFilesAndEnd); // Ctrl-Break and a closed console window
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
