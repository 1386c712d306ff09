// The description of the library's modules, read from the file that ships beside the library: the
// library itself carries no description of its modules, only their identifiers in its registry.
#pragma once

#include <string>
#include <vector>

namespace shaperhost {

struct PinDescription {
    int number = 0;
    std::string direction; // "in" or "out"
    std::string datatype;  // "text" or "audio"
    std::string name;
    bool hasDefault = false;
    std::string defaultValue;
};

struct ModuleDescription {
    std::string id;
    int kind = 0; // 0 processing, 1 editor
    std::string name;
    std::string description;
    std::vector<PinDescription> pins;

    const PinDescription* pin(int number) const;
    // Default of the text pin (pin 0), empty when the file gives none.
    std::string defaultText() const;
};

struct ModuleCatalog {
    std::string path;
    std::string library;
    std::string description;
    std::vector<ModuleDescription> modules;

    // The module of that kind whose identifier or name equals `which` (case-insensitive), or null.
    const ModuleDescription* find(const std::string& which, int kind) const;
    // The processing module for `which`, or a usage error naming the modules there are.
    const ModuleDescription& processingModule(const std::string& which) const;
};

// Reads and checks the description file; a missing or malformed file is a failure.
ModuleCatalog loadCatalog(const std::string& path);

// The description file beside the library file.
std::string catalogPathBeside(const std::string& libraryPath);

} // namespace shaperhost
