// shaperhost: loads the waveshaper module library as a host does and lets a person hear and see each
// module without the host application.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <new>
#include <string>

#include "cli/commands/command_line.h"
#include "cli/common/cli_error.h"
#include "cli/common/text_args.h"
#include "cli/platform/file_system.h"

namespace {

int reportError(shaperhost::ExitCode code, const std::string& message, bool usage) {
    std::cout.flush();
    if (!message.empty())
        std::cerr << shaperhost::kProgramPrefix << (usage ? "usage: " : "error: ") << message << '\n';
    return code;
}

// The program's version and, when the module library loads, its build text and SDK version.
std::string versionText(shaperhost::Session& session) {
    std::string text = "shaperhost " SHAPERHOST_VERSION "\n";
    try {
        const shaperhost::ModuleLibrary& library = session.library();
        int32_t sdkVersion = 0;
        const std::string sdk = library.sdkInformation(&sdkVersion);
        text += "Module library: " + library.path() + "\n  built with \"" + sdk + "\", SDK version " +
                std::to_string(sdkVersion);
    } catch (const std::exception& e) {
        text += "Module library: not loaded (" + std::string(e.what()) + ")";
    }
    return text;
}

int reportError(shaperhost::ExitCode code, const std::string& message) {
    return reportError(code, message, code == shaperhost::kExitUsage);
}

} // namespace

int main(int argc, char** argv) {
    using namespace shaperhost;
    CLI::App app("Runs the waveshaper modules of the module library the way a host does, so they can be "
                 "heard and seen without the host application.",
                 "shaperhost");
    app.require_subcommand(1);
    app.fallthrough();
    // Words starting with a slash are paths, never options, on every system (the parser would take
    // "/tmp/a.wav" for an option on Windows).
    app.allow_windows_style_options(false);
    app.footer("Exit codes: 0 success, 1 the command failed, 2 the command line is wrong (diff: 0 same, "
               "1 different, 2 trouble). 'shaperhost help COMMAND' shows a command's options.");
    // The parser's own complaints carry the program's name like every other message.
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return std::string(kProgramPrefix) + "usage: " + e.what() + "\n" + kProgramPrefix +
               "'shaperhost help' lists the commands, 'shaperhost help COMMAND' their options\n";
    });

    Session session;
    app.add_option("--library", session.libraryPath, "module library to load (default: beside this program)")
        ->check(fileName());
    app.add_option("--description", session.descriptionPath,
                   "module description file (default: waveshapers.json beside the library)")
        ->check(fileName());
    // After --library, whose value the version text uses: CLI11 runs option callbacks in order.
    app.set_version_flag(
        "--version", [&session] { return versionText(session); },
        "print the program's version and the module library's SDK information, then exit");
    app.add_flag("-q,--quiet", session.quiet,
                 "no summaries of written files and no progress line; results, warnings and errors still "
                 "appear (diff: the exit code alone tells)");

    addHelpCommands(app);
    addListCommand(app, session);
    addTableCommand(app, session);
    addRenderCommand(app, session);
    addAnalyzeCommand(app, session);
    addEditorCommand(app, session);
    addDemoCommand(app, session);
    addDiffCommand(app, session);

    installInterruptCleanup();
    int exitCode = kExitOk;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        exitCode = app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        exitCode = app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        exitCode = app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        exitCode = kExitUsage;
    } catch (const CliError& e) {
        exitCode = reportError(e.exitCode, e.what(), e.usage);
    } catch (const std::bad_alloc&) {
        exitCode = reportError(kExitFailure, "out of memory");
    } catch (const std::exception& e) {
        // Every expected failure is a CliError with a sentence of the program's own; anything else is a
        // fault of the program, so its text is kept for the report.
        exitCode = reportError(kExitFailure, std::string("unexpected internal error (") + e.what() + ")");
    }
    // Results go to standard output: a write that failed there (a full disk, a closed pipe) is a failure.
    std::cout.flush();
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || !std::cout) {
        std::cerr << "shaperhost: error: cannot write to standard output\n";
        if (exitCode == kExitOk)
            exitCode = kExitFailure;
    }
    return exitCode;
}
