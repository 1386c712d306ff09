// Loads the module library the way a host does, after a look at its headers, and finds its entry point. The
// library stays loaded while the PluginLibrary object lives: every object obtained from it must be released
// before.
#pragma once

#include <cstdint>
#include <string>

#include "factory/abi.h"

namespace mphost {

using GetFactoryFunction = int32_t(MP_CALL*)(void** factory);

class PluginLibrary {
public:
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    bool loaded() const { return handle != nullptr; }
    // True when the file was refused before the system loader saw it: its headers name parts beyond
    // its end (host/library_file_check.h); error() then says which.
    bool damaged() const { return fileDamaged; }
    const std::string& error() const { return message; }
    // An exported symbol by its exact name, or null.
    void* symbol(const char* name) const;
    GetFactoryFunction getFactory() const {
        return reinterpret_cast<GetFactoryFunction>(symbol("MP_GetFactory"));
    }

    // The library's file name on this platform, e.g. in the folder of the running program.
    static std::string fileName();
    // Folder of the running program, with a trailing separator.
    static std::string programFolder();

private:
    void* handle = nullptr;
    std::string message;
    bool fileDamaged = false;
};

} // namespace mphost
