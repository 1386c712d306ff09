#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

#include "cli/platform/file_system.h"

namespace shaperhost {

namespace {

// The C runtime runs these handlers on a thread of their own, where removing files is allowed. A file
// still open (the output being written) goes when the program ends and its handles close: it was
// opened with delete sharing (openStagingFile).
extern "C" void removePartialFilesAndEnd(int signalNumber) {
    removePartialFiles([](const char* path) { return std::remove(path); });
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

} // namespace

void useBinaryMode(std::FILE* stream) {
    std::fflush(stream);
    _setmode(_fileno(stream), _O_BINARY);
}

int createNewFile(const std::string& path) {
    const int file = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (file < 0)
        return errno;
    _close(file);
    return 0;
}

namespace {

std::FILE* openFile(const std::string& path, bool readBack, DWORD flags) {
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, nullptr, 0);
    if (length <= 0) {
        errno = EINVAL;
        return nullptr;
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, &wide[0], length);
    const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      CREATE_ALWAYS, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            errno = ENOENT;
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            errno = EACCES;
            break;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            errno = ENOSPC;
            break;
        default:
            errno = EIO;
        }
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* file = _fdopen(descriptor, readBack ? "w+b" : "wb");
    if (file == nullptr)
        _close(descriptor); // closes the handle too
    return file;
}

} // namespace

std::FILE* openStagingFile(const std::string& path, bool readBack) {
    return openFile(path, readBack, FILE_ATTRIBUTE_NORMAL);
}

// The system removes the file when its last handle closes, also when the program is killed.
std::FILE* openScratchFile(const std::string& path) {
    return openFile(path, true, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
}

void installInterruptCleanup() {
    std::signal(SIGINT, removePartialFilesAndEnd);
    std::signal(SIGTERM, removePartialFilesAndEnd);
    std::signal(SIGBREAK, removePartialFilesAndEnd); // Ctrl-Break and a closed console window
}

} // namespace shaperhost
