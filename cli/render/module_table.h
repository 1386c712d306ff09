// The module's lookup table: as the module builds it from a text, and drawn as a transfer curve.
#pragma once

#include <string>
#include <vector>

#include "cli/modules/module_library.h"
#include "cli/modules/session.h"
#include "cli/output/output_file.h"
#include "factory/pin_text.h"

namespace shaperhost {

// The module's 513 table entries after it took `text` in a start block.
std::vector<float> readModuleTable(const ModuleLibrary& library, const std::string& moduleId,
                                   const PinText& text);

// Transfer curve of (module, text) as PNG into a staged output; returns the table.
std::vector<float> writeTransferPng(Session& session, const std::string& moduleId, const std::string& text,
                                    const StagedOutput& output, int size);

} // namespace shaperhost
