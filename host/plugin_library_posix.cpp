#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "host/library_file_check.h"
#include "host/plugin_library.h"

namespace mphost {

PluginLibrary::PluginLibrary(const std::string& path) {
    message = libraryFileDamage(path);
    if (!message.empty()) {
        fileDamaged = true;
        return;
    }
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        message = reason != nullptr ? reason : "cannot load " + path;
    }
}

PluginLibrary::~PluginLibrary() {
    if (handle != nullptr)
        dlclose(handle);
}

void* PluginLibrary::symbol(const char* name) const {
    return handle != nullptr ? dlsym(handle, name) : nullptr;
}

std::string PluginLibrary::fileName() {
    return "libwaveshapers.so";
}

std::string PluginLibrary::programFolder() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0)
        return "./";
    std::string folder(path, static_cast<std::size_t>(n));
    return folder.substr(0, folder.rfind('/') + 1);
}

} // namespace mphost
