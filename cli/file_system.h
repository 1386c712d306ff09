// What differs between systems when shaperhost handles its output files: creating a file only when the
// name is free, and removing unfinished files when the program is interrupted (Ctrl-C, a terminal
// closed, a kill).
#pragma once

#include <string>

namespace shaperhost {

// Creates an empty file at path, only when nothing exists there yet. Returns 0, or the errno value of
// the failure (EEXIST when the name is taken).
int createNewFile(const std::string& path);

// Installs the handlers that remove every registered unfinished file when the program is interrupted,
// then end the program as the interruption would have. Called once at start-up.
void installInterruptCleanup();

// Registers a file to remove on interruption; `path` must stay valid until it is withdrawn. Returns a
// slot number for withdrawPartialFile, or -1 when every slot is taken (the file is then not removed
// on interruption, only by its owner).
int registerPartialFile(const char* path);
void withdrawPartialFile(int slot);

} // namespace shaperhost
