#include "cli/commands/json_reports.h"

#include <cmath>
#include <iostream>

#include "cli/modules/module_library.h"

namespace shaperhost {

Json decibelsJson(double value) {
    if (!(value > 0.0))
        return nullptr;
    return 20.0 * std::log10(value);
}

Json levelsJson(double peak, double rms) {
    Json levels;
    levels["peak"] = peak;
    levels["peak_volts"] = peak * 10.0;
    levels["peak_dbfs"] = decibelsJson(peak);
    levels["rms"] = rms;
    levels["rms_volts"] = rms * 10.0;
    levels["rms_dbfs"] = decibelsJson(rms);
    return levels;
}

Json moduleJson(const ModuleDescription& module, bool created, int32_t result) {
    Json m;
    m["id"] = module.id;
    m["kind"] = module.kind;
    m["kind_name"] = module.kind == 0 ? "processing" : "editor";
    m["name"] = module.name;
    m["description"] = module.description;
    m["created"] = created;
    m["create_result"] = result;
    m["pins"] = Json::array();
    for (const PinDescription& pin : module.pins) {
        Json p;
        p["number"] = pin.number;
        p["direction"] = pin.direction;
        p["datatype"] = pin.datatype;
        p["name"] = pin.name;
        p["default"] = pin.hasDefault ? Json(pin.defaultValue) : Json(nullptr);
        m["pins"].push_back(p);
    }
    return m;
}

Json tableJson(const std::string& moduleId, const std::string& text, const std::vector<float>& table) {
    Json doc;
    doc["command"] = "table";
    doc["module"] = moduleId;
    doc["text"] = text;
    doc["zero_volts_gives_volts"] = table.size() > 256 ? static_cast<double>(table[256]) * 10.0 : 0.0;
    doc["entries"] = Json::array();
    for (std::size_t i = 0; i < table.size(); ++i) {
        Json e;
        e["index"] = i;
        e["input_volts"] = tableInputVolts(static_cast<int>(i));
        e["output_volts"] = static_cast<double>(table[i]) * kVoltsPerUnit;
        e["table_value"] = table[i];
        doc["entries"].push_back(e);
    }
    return doc;
}

void printJson(const Json& document) {
    // File names and texts are byte strings that need not be UTF-8: bytes that are not valid UTF-8
    // become U+FFFD, so every document is valid JSON.
    std::cout << document.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}

} // namespace shaperhost
