// The module library loaded the way a host loads it: the file is opened at run time, the factory comes
// from MP_GetFactory, and every call into a module goes through its table of operations by slot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "factory/pin_text.h"
#include "host/event_list.h"
#include "host/plugin_library.h"
#include "host/stand_in_processing_host.h"
#include "waveshaper/table_layout.h"

namespace shaperhost {

class ModuleLibrary {
public:
    // Loads the library at path; a library that cannot be loaded or has no factory is a failure.
    explicit ModuleLibrary(const std::string& path);
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    const std::string& path() const { return libraryPath; }
    const mphost::PluginLibrary& file() const { return library; }
    // The factory's second-generation face (IMpFactory2).
    void* factory() const { return factoryObject; }

    // Creates (id, kind) with createInstance2 and releases it again: the factory's result code.
    int32_t confirm(const std::string& id, int32_t kind) const;
    // The factory's build text and version.
    std::string sdkInformation(int32_t* version) const;

    // The library file beside the running program.
    static std::string besideProgram();

private:
    std::string libraryPath;
    mphost::PluginLibrary library;
    void* factoryObject = nullptr;
};

// Identifiers travel as zero-terminated wide strings of the platform.
std::wstring wideIdentifier(const std::string& id);

// One processing module instance with its own host object and block buffers, as a host runs it: created
// with createInstance2, handed its host with attachHost, opened, given its two audio buffers.
class ProcessingModule {
public:
    ProcessingModule(const ModuleLibrary& library, mphost::SharedMemoryPool& pool, const std::string& id,
                     int32_t instanceHandle, int32_t blockSize);
    ~ProcessingModule();
    ProcessingModule(const ProcessingModule&) = delete;
    ProcessingModule& operator=(const ProcessingModule&) = delete;

    // Block buffers of pin 1 (input) and pin 2 (output), blockSize samples each.
    float* input() { return inputBuffer.data(); }
    const float* output() const { return outputBuffer.data(); }
    int32_t blockSize() const { return static_cast<int32_t>(inputBuffer.size()); }

    void processBlock(int32_t sampleFrames, const mphost::EventList& events);

    // The module's lookup table: the shared block the host stand-in gave it at open, or null.
    const float* table() const;
    const std::wstring& tableName() const { return sharedName; }
    int32_t sleepRequests() const { return host.sleepRequests; }

private:
    mphost::SharedMemoryPool& pool;
    mphost::ProcessingHost host;
    void* plugin = nullptr; // the IMpPlugin2 face
    std::vector<float> inputBuffer;
    std::vector<float> outputBuffer;
    std::wstring sharedName;
};

// The text pin's value for a module: UTF-8 from the command line, UTF-16 on the wire.
inline PinText pinText(const std::string& utf8) {
    return pinTextFromUtf8(utf8);
}

} // namespace shaperhost
