#include <windows.h>

#include "host/library_file_check.h"
#include "host/plugin_library.h"

namespace mphost {

PluginLibrary::PluginLibrary(const std::string& path) {
    message = libraryFileDamage(path);
    if (!message.empty()) {
        fileDamaged = true;
        return;
    }
    handle = LoadLibraryA(path.c_str());
    if (handle == nullptr)
        message = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
}

PluginLibrary::~PluginLibrary() {
    if (handle != nullptr)
        FreeLibrary(static_cast<HMODULE>(handle));
}

void* PluginLibrary::symbol(const char* name) const {
    if (handle == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

std::string PluginLibrary::fileName() {
    return "waveshapers.dll";
}

std::string PluginLibrary::programFolder() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n);
    const std::size_t cut = folder.find_last_of("\\/");
    return cut == std::string::npos ? std::string(".\\") : folder.substr(0, cut + 1);
}

} // namespace mphost
