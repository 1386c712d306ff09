// shaperhost: loads the waveshaper module library as a host does and lets a person hear and see each
// module without the host application.
#include <cstdio>
#include <iostream>

#include "cli/cli_error.h"
#include "cli/commands.h"

namespace shaperhost {

const ModuleLibrary& Session::library() {
    if (!loadedLibrary)
        loadedLibrary = std::make_unique<ModuleLibrary>(libraryPath.empty() ? ModuleLibrary::besideProgram()
                                                                            : libraryPath);
    return *loadedLibrary;
}

const ModuleCatalog& Session::catalog() {
    if (!loadedCatalog) {
        std::string path = descriptionPath;
        if (path.empty())
            path = catalogPathBeside(libraryPath.empty() ? ModuleLibrary::besideProgram() : libraryPath);
        loadedCatalog = std::make_unique<ModuleCatalog>(loadCatalog(path));
    }
    return *loadedCatalog;
}

void TextOptions::addTo(CLI::App& command, const std::string& what) {
    command.add_option("-t,--text", text,
                       what + " (default: the module's default from the description file)");
    command.add_option("--text-file", file, "read the text from this file instead");
}

} // namespace shaperhost

int main(int argc, char** argv) {
    using namespace shaperhost;
    CLI::App app("Runs the waveshaper modules of the module library the way a host does, so they can be "
                 "heard and seen without the host application.",
                 "shaperhost");
    app.require_subcommand(1);
    app.fallthrough();
    app.footer("Exit codes: 0 success, 1 the command failed, 2 the command line is wrong.");

    Session session;
    app.add_option("--library", session.libraryPath, "module library to load (default: beside this program)");
    app.add_option("--description", session.descriptionPath,
                   "module description file (default: waveshapers.json beside the library)");

    addListCommand(app, session);
    addTableCommand(app, session);
    addMediaCommands(app, session);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    } catch (const CliError& e) {
        std::cout.flush();
        std::cerr << "shaperhost: " << (e.exitCode == kExitUsage ? "usage: " : "error: ") << e.what() << '\n';
        return e.exitCode;
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << "shaperhost: error: " << e.what() << '\n';
        return kExitFailure;
    }
    return kExitOk;
}
