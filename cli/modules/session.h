// What every command shares: the module library and its description, loaded on first use.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/modules/module_catalog.h"
#include "cli/modules/module_library.h"
#include "cli/output/output_file.h"

namespace shaperhost {

class Session {
public:
    std::string libraryPath;     // empty: beside the program
    std::string descriptionPath; // empty: beside the library
    // --quiet: no summaries of written files, no progress line; results asked for (CSV, JSON, reports),
    // warnings and errors still appear.
    bool quiet = false;

    const ModuleLibrary& library();
    const ModuleCatalog& catalog();
    // The module library and its description file, as files a command reads: no output may be one.
    std::vector<ReadFile> moduleFiles() const;

private:
    std::unique_ptr<ModuleLibrary> loadedLibrary;
    std::unique_ptr<ModuleCatalog> loadedCatalog;
};

} // namespace shaperhost
