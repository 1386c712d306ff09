#include "cli/modules/module_catalog.h"

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <system_error>

#include "cli/common/cli_error.h"
#include "cli/common/text_args.h"

namespace shaperhost {

namespace {

// A description lists a handful of modules; a larger file is not one.
constexpr long long kMaxDescriptionBytes = 1024 * 1024;

std::string lowered(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The description's entries are checked one by one, so a wrong file is reported in the program's words
// with the entry that is wrong.
class Malformed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string textField(const nlohmann::json& entry, const char* key, const std::string& where, bool required,
                      const std::string& fallback = std::string()) {
    const auto found = entry.find(key);
    if (found == entry.end()) {
        if (required)
            throw Malformed(where + " has no \"" + key + "\"");
        return fallback;
    }
    if (!found->is_string())
        throw Malformed(where + ": \"" + key + "\" is not a text");
    return found->get<std::string>();
}

int integerField(const nlohmann::json& entry, const char* key, const std::string& where) {
    const auto found = entry.find(key);
    if (found == entry.end())
        throw Malformed(where + " has no \"" + key + "\"");
    if (!found->is_number_integer() || *found < INT32_MIN || *found > INT32_MAX)
        throw Malformed(where + ": \"" + key + "\" is not a whole number");
    return found->get<int>();
}

const nlohmann::json& listField(const nlohmann::json& entry, const char* key, const std::string& where) {
    const auto found = entry.find(key);
    if (found == entry.end() || !found->is_array())
        throw Malformed(where + " has no list \"" + key + "\"");
    return *found;
}

PinDescription readPin(const nlohmann::json& entry, const std::string& where) {
    if (!entry.is_object())
        throw Malformed(where + " is not an object");
    PinDescription pin;
    pin.number = integerField(entry, "number", where);
    pin.direction = textField(entry, "direction", where, true);
    pin.datatype = textField(entry, "datatype", where, true);
    pin.name = textField(entry, "name", where, false);
    if (entry.contains("default")) {
        pin.hasDefault = true;
        pin.defaultValue = textField(entry, "default", where, true);
    }
    if (pin.direction != "in" && pin.direction != "out")
        throw Malformed(where + " has direction '" + pin.direction + "' (in or out)");
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
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::u8path(path), error))
        throw failure("cannot open the module description file '" + path + "' (it ships beside the library)");
    const std::string text = readSmallFile(path, kMaxDescriptionBytes, "the module description file");
    const nlohmann::json root = nlohmann::json::parse(text, nullptr, false);
    if (root.is_discarded())
        throw failure("the module description file '" + path + "' is not valid JSON");
    ModuleCatalog catalog;
    catalog.path = path;
    try {
        if (!root.is_object())
            throw Malformed("the top level is not an object");
        catalog.library = textField(root, "library", "the top level", false);
        catalog.description = textField(root, "description", "the top level", false);
        const nlohmann::json& modules = listField(root, "modules", "the top level");
        for (std::size_t i = 0; i < modules.size(); ++i) {
            const nlohmann::json& entry = modules[i];
            const std::string where = "module " + std::to_string(i + 1);
            if (!entry.is_object())
                throw Malformed(where + " is not an object");
            ModuleDescription m;
            m.id = textField(entry, "id", where, true);
            m.kind = integerField(entry, "kind", where);
            m.name = textField(entry, "name", where, false, m.id);
            m.description = textField(entry, "description", where, false);
            const nlohmann::json& pins = listField(entry, "pins", where);
            for (std::size_t p = 0; p < pins.size(); ++p)
                m.pins.push_back(readPin(pins[p], where + ", pin entry " + std::to_string(p + 1)));
            catalog.modules.push_back(std::move(m));
        }
    } catch (const Malformed& e) {
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
