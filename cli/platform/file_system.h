// What differs between systems when shaperhost handles its output files: creating a file only when the
// name is free, and removing unfinished files when the program is interrupted (Ctrl-C, a terminal
// closed, a kill).
#pragma once

#include <cstdio>
#include <string>

namespace shaperhost {

// Creates an empty file at path, only when nothing exists there yet. Returns 0, or the errno value of
// the failure (EEXIST when the name is taken).
int createNewFile(const std::string& path);

// Opens the staging file at path (created by createNewFile) for writing from its start. The file can
// be removed while it is open, as the interrupt handlers must (Windows allows that only to files opened
// for it). With `readBack`, the file can also be read (after a seek). Returns nullptr with errno set on
// failure.
std::FILE* openStagingFile(const std::string& path, bool readBack = false);

// Opens the scratch file at path (created by createNewFile) for writing and reading back, and has the
// system remove it when it is closed or the program ends in any way, even by SIGKILL: on POSIX systems
// the name is removed at once. Returns nullptr with errno set on failure.
std::FILE* openScratchFile(const std::string& path);
// Puts a standard stream into binary mode, so audio data passes unchanged (Windows turns line ends of
// text-mode streams into CR LF; elsewhere nothing changes).
void useBinaryMode(std::FILE* stream);

// Installs the handlers that remove every registered unfinished file when the program is interrupted,
// then end the program as the interruption would have. Called once at start-up.
void installInterruptCleanup();

// Registers a file to remove on interruption; `path` must stay valid until it is withdrawn. Returns a
// slot number for withdrawPartialFile, or -1 when every slot is taken (the file is then not removed
// on interruption, only by its owner).
int registerPartialFile(const char* path);
void withdrawPartialFile(int slot);
// For the interrupt handlers: calls `remove` on every registered file. Takes no lock and allocates
// nothing, so it is safe in a signal handler when `remove` is (partial_files.cpp).
void removePartialFiles(int (*remove)(const char* path));

} // namespace shaperhost
