// Errors that end a command, with the exit code the program returns for them.
#pragma once

#include <stdexcept>
#include <string>

namespace shaperhost {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1, // the command was understood but could not be carried out
    kExitUsage = 2,   // the command line itself is wrong
};

// The program's name, which begins every message it writes to standard error.
constexpr const char* kProgramPrefix = "shaperhost: ";

// A command that ends with an exit code other than 0. The message is printed as "shaperhost: usage: ..."
// for a wrong command line and "shaperhost: error: ..." otherwise; an empty message prints nothing, for
// a result that the command already reported and that only its exit code carries (diff's "different").
class CliError : public std::runtime_error {
public:
    CliError(ExitCode code, const std::string& message)
        : std::runtime_error(message), exitCode(code), usage(code == kExitUsage) {}
    // `isUsage` false with kExitUsage: trouble that is no fault of the command line (diff's exit 2).
    CliError(ExitCode code, const std::string& message, bool isUsage)
        : std::runtime_error(message), exitCode(code), usage(isUsage) {}
    ExitCode exitCode;
    bool usage;
};

inline CliError usageError(const std::string& message) {
    return CliError(kExitUsage, message);
}
inline CliError failure(const std::string& message) {
    return CliError(kExitFailure, message);
}

} // namespace shaperhost
