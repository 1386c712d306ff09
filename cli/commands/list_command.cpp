// list: the modules the library describes, each confirmed with the factory.
#include <iostream>

#include "cli/commands/command_line.h"
#include "cli/commands/json_reports.h"
#include "cli/common/cli_error.h"
#include "factory/result_codes.h"

namespace shaperhost {

namespace {

std::string padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

void runListJson(Session& session) {
    const ModuleCatalog& catalog = session.catalog();
    const ModuleLibrary& library = session.library();
    int32_t version = 0;
    Json doc;
    doc["command"] = "list";
    doc["library"] = library.path();
    doc["sdk_information"] = library.sdkInformation(&version);
    doc["sdk_version"] = version;
    doc["description_file"] = catalog.path;
    doc["modules"] = Json::array();
    int unconfirmed = 0;
    for (const ModuleDescription& m : catalog.modules) {
        const int32_t result = library.confirm(m.id, m.kind);
        unconfirmed += result != gmpi::kResultOk;
        doc["modules"].push_back(moduleJson(m, result == gmpi::kResultOk, result));
    }
    printJson(doc);
    if (unconfirmed > 0)
        throw failure(std::to_string(unconfirmed) + " described module(s) are not created by the library");
}

void runList(Session& session, bool json) {
    if (json)
        return runListJson(session);
    const ModuleCatalog& catalog = session.catalog();
    const ModuleLibrary& library = session.library();
    int32_t version = 0;
    const std::string sdk = library.sdkInformation(&version);
    std::cout << "Module library: " << library.path() << "\n"
              << "  built with \"" << sdk << "\", SDK version " << version << "\n"
              << "Description:    " << catalog.path << "\n";
    if (!catalog.description.empty())
        std::cout << "  " << catalog.description << "\n";

    int unconfirmed = 0;
    for (const ModuleDescription& m : catalog.modules) {
        const int32_t result = library.confirm(m.id, m.kind);
        std::cout << "\n"
                  << m.id << "  kind " << m.kind << (m.kind == 0 ? " (processing)" : " (editor)") << "  \""
                  << m.name << "\"  createInstance2: ";
        if (result == gmpi::kResultOk) {
            std::cout << "ok\n";
        } else {
            std::cout << "FAILED (result " << result << ")\n";
            ++unconfirmed;
        }
        if (!m.description.empty())
            std::cout << "    " << m.description << "\n";
        for (const PinDescription& pin : m.pins) {
            std::cout << "    pin " << pin.number << "  " << padded(pin.direction, 4)
                      << padded(pin.datatype, 6) << padded(pin.name, 12);
            if (pin.hasDefault)
                std::cout << "default \"" << pin.defaultValue << "\"";
            std::cout << "\n";
        }
    }
    if (unconfirmed > 0)
        throw failure(std::to_string(unconfirmed) + " described module(s) are not created by the library");
}

} // namespace

void addListCommand(CLI::App& app, Session& session) {
    CLI::App* command =
        app.add_subcommand("list", "List the modules the library offers, as its description file "
                                   "gives them, each confirmed with createInstance2");
    auto json = std::make_shared<bool>(false);
    command->add_flag("--json", *json, "one JSON document on standard output instead of the text");
    command->callback([&session, json] { runList(session, *json); });
}

} // namespace shaperhost
