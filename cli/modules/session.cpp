#include "cli/modules/session.h"

namespace shaperhost {

const ModuleLibrary& Session::library() {
    if (!loadedLibrary)
        loadedLibrary = std::make_unique<ModuleLibrary>(libraryPath.empty() ? ModuleLibrary::besideProgram()
                                                                            : libraryPath);
    return *loadedLibrary;
}

std::vector<ReadFile> Session::moduleFiles() const {
    const std::string library = libraryPath.empty() ? ModuleLibrary::besideProgram() : libraryPath;
    return {{library, "the module library"},
            {descriptionPath.empty() ? catalogPathBeside(library) : descriptionPath,
             "the module description file"}};
}

const ModuleCatalog& Session::catalog() {
    // The library first: a library that will not load is the problem to report, not its description.
    library();
    if (!loadedCatalog) {
        std::string path = descriptionPath;
        if (path.empty())
            path = catalogPathBeside(libraryPath.empty() ? ModuleLibrary::besideProgram() : libraryPath);
        loadedCatalog = std::make_unique<ModuleCatalog>(loadCatalog(path));
    }
    return *loadedCatalog;
}

} // namespace shaperhost
