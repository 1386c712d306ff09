// One JSON document on standard output per command run with --json, for scripts. The keys are part
// of the program's interface (README, "Results for scripts"): add keys, never rename or drop them.
// Levels in dBFS of silence, which are minus infinity, are written as null.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "cli/modules/module_catalog.h"

namespace shaperhost {

using Json = nlohmann::ordered_json;

// 20 log10(value), or null for 0.
Json decibelsJson(double value);

// peak and rms in sample units, volts and dBFS.
Json levelsJson(double peak, double rms);

// A described module with its pins and whether the library creates it.
Json moduleJson(const ModuleDescription& module, bool created, int32_t result);

// The table entries of a module: index, input volts, output volts, table value.
Json tableJson(const std::string& moduleId, const std::string& text, const std::vector<float>& table);

// Writes the document to standard output, indented, with a final line end; bytes of its texts that
// are not valid UTF-8 are written as U+FFFD.
void printJson(const Json& document);

} // namespace shaperhost
