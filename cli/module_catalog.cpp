#include "cli/module_catalog.h"

#include <fstream>
#include <nlohmann/json.hpp>

#include "cli/cli_error.h"

namespace shaperhost {

namespace {

std::string lowered(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

PinDescription readPin(const nlohmann::json& entry) {
    PinDescription pin;
    pin.number = entry.at("number").get<int>();
    pin.direction = entry.at("direction").get<std::string>();
    pin.datatype = entry.at("datatype").get<std::string>();
    pin.name = entry.value("name", std::string());
    if (entry.contains("default")) {
        pin.hasDefault = true;
        pin.defaultValue = entry.at("default").get<std::string>();
    }
    if (pin.direction != "in" && pin.direction != "out")
        throw std::runtime_error("pin " + std::to_string(pin.number) + " has direction '" + pin.direction +
                                 "'");
    return pin;
}

} // namespace

const PinDescription* ModuleDescription::pin(int number) const {
    for (const PinDescription& p : pins) {
        if (p.number == number)
            return &p;
    }
    return nullptr;
}

std::string ModuleDescription::defaultText() const {
    const PinDescription* text = pin(0);
    return text != nullptr ? text->defaultValue : std::string();
}

const ModuleDescription* ModuleCatalog::find(const std::string& which, int kind) const {
    const std::string key = lowered(which);
    for (const ModuleDescription& m : modules) {
        if (m.kind == kind && (lowered(m.id) == key || lowered(m.name) == key))
            return &m;
    }
    return nullptr;
}

const ModuleDescription& ModuleCatalog::processingModule(const std::string& which) const {
    if (const ModuleDescription* m = find(which, 0))
        return *m;
    std::string known;
    for (const ModuleDescription& m : modules) {
        if (m.kind == 0)
            known += (known.empty() ? "" : ", ") + ("'" + m.id + "' (" + m.name + ")");
    }
    throw usageError("unknown module '" + which + "'; the waveshaper modules are " + known +
                     " (see 'shaperhost list')");
}

ModuleCatalog loadCatalog(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw failure("cannot open the module description file '" + path + "' (it ships beside the library)");
    ModuleCatalog catalog;
    catalog.path = path;
    try {
        const nlohmann::json root = nlohmann::json::parse(file);
        catalog.library = root.value("library", std::string());
        catalog.description = root.value("description", std::string());
        for (const nlohmann::json& entry : root.at("modules")) {
            ModuleDescription m;
            m.id = entry.at("id").get<std::string>();
            m.kind = entry.at("kind").get<int>();
            m.name = entry.value("name", m.id);
            m.description = entry.value("description", std::string());
            for (const nlohmann::json& pin : entry.at("pins"))
                m.pins.push_back(readPin(pin));
            catalog.modules.push_back(std::move(m));
        }
    } catch (const std::exception& e) {
        throw failure("the module description file '" + path + "' is malformed: " + e.what());
    }
    return catalog;
}

std::string catalogPathBeside(const std::string& libraryPath) {
    const std::size_t cut = libraryPath.find_last_of("/\\");
    const std::string folder = cut == std::string::npos ? std::string() : libraryPath.substr(0, cut + 1);
    return folder + "waveshapers.json";
}

} // namespace shaperhost
