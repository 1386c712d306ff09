#include "cli/modules/module_library.h"

#include <filesystem>
#include <system_error>

#include "cli/common/cli_error.h"
#include "factory/interface_id.h"
#include "factory/result_codes.h"
#include "host/raw_calls.h"

namespace shaperhost {

namespace raw = mphost::raw;

std::wstring wideIdentifier(const std::string& id) {
    return wideFromPinText(pinTextFromUtf8(id));
}

namespace {

// Checked before loading, so the common mistakes get a plain sentence instead of the loader's text.
const std::string& existingLibrary(const std::string& path) {
    std::error_code error;
    const std::filesystem::path file = std::filesystem::u8path(path);
    if (!std::filesystem::exists(file, error))
        throw failure("cannot load the module library '" + path + "': the file does not exist");
    if (std::filesystem::is_directory(file, error))
        throw failure("cannot load the module library '" + path + "': it is a folder");
    return path;
}

} // namespace

ModuleLibrary::ModuleLibrary(const std::string& path) : libraryPath(path), library(existingLibrary(path)) {
    if (library.damaged())
        throw failure("cannot load the module library '" + path + "': " + library.error());
    if (!library.loaded())
        throw failure(
            "cannot load the module library '" + path +
            "': it is not a shared library this program can load (the system says: " + library.error() + ")");
    mphost::GetFactoryFunction getFactory = library.getFactory();
    if (getFactory == nullptr)
        throw failure("'" + path + "' is not a module library: it exports no MP_GetFactory");
    void* unknown = nullptr;
    if (getFactory(&unknown) != gmpi::kResultOk || unknown == nullptr)
        throw failure("MP_GetFactory of '" + path + "' gave no factory");
    void* second = nullptr;
    const int32_t result = raw::queryInterface(unknown, gmpi::kIidFactory2, &second);
    raw::release(unknown);
    if (result != gmpi::kResultOk || second == nullptr)
        throw failure("the factory of '" + path + "' does not offer createInstance2");
    factoryObject = second;
}

ModuleLibrary::~ModuleLibrary() {
    if (factoryObject != nullptr)
        raw::release(factoryObject);
}

int32_t ModuleLibrary::confirm(const std::string& id, int32_t kind) const {
    void* object = nullptr;
    const std::wstring wide = wideIdentifier(id);
    const int32_t result = raw::createInstance2(factoryObject, wide.c_str(), kind, &object);
    if (object != nullptr)
        raw::release(object);
    return result == gmpi::kResultOk && object == nullptr ? gmpi::kResultFailed : result;
}

std::string ModuleLibrary::sdkInformation(int32_t* version) const {
    wchar_t text[64] = {};
    *version = 0;
    raw::querySdkInformation(factoryObject, version, 0, text);
    text[63] = L'\0';
    return utf8FromPinText(pinTextFromWide(text));
}

std::string ModuleLibrary::besideProgram() {
    return mphost::PluginLibrary::programFolder() + mphost::PluginLibrary::fileName();
}

ProcessingModule::ProcessingModule(const ModuleLibrary& library, mphost::SharedMemoryPool& sharedPool,
                                   const std::string& id, int32_t instanceHandle, int32_t blockSize)
    : pool(sharedPool), host(sharedPool, instanceHandle, blockSize),
      inputBuffer(static_cast<std::size_t>(blockSize), 0.0f),
      outputBuffer(static_cast<std::size_t>(blockSize), 0.0f) {
    const std::wstring wide = wideIdentifier(id);
    void* object = nullptr;
    int32_t result = raw::createInstance2(library.factory(), wide.c_str(), 0, &object);
    if (result != gmpi::kResultOk || object == nullptr)
        throw failure("the library does not create module '" + id + "' (createInstance2 result " +
                      std::to_string(result) + ")");
    result = raw::queryInterface(object, gmpi::kIidPlugin2, &plugin);
    raw::release(object);
    if (result != gmpi::kResultOk || plugin == nullptr)
        throw failure("module '" + id + "' does not offer IMpPlugin2");
    result = raw::plugin2::attachHost(plugin, static_cast<gmpi::IMpUnknown*>(&host));
    if (result != gmpi::kResultOk) {
        raw::release(plugin);
        throw failure("module '" + id + "' refused its host (attachHost result " + std::to_string(result) +
                      ")");
    }
    raw::plugin2::open(plugin);
    raw::plugin2::assignPinBuffer(plugin, 1, inputBuffer.data());
    raw::plugin2::assignPinBuffer(plugin, 2, outputBuffer.data());
    for (const mphost::HostCall& call : host.calls(mphost::HostCall::kObtainSharedMemory))
        sharedName = call.name;
    // From here on only the sleep count matters; the call log would grow with every block.
    host.logging = false;
}

ProcessingModule::~ProcessingModule() {
    if (plugin != nullptr)
        raw::release(plugin);
}

void ProcessingModule::processBlock(int32_t sampleFrames, const mphost::EventList& events) {
    raw::plugin2::processBlock(plugin, sampleFrames, events.head());
}

const float* ProcessingModule::table() const {
    return sharedName.empty() ? nullptr : static_cast<const float*>(pool.find(sharedName));
}

} // namespace shaperhost
