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

class CliError : public std::runtime_error {
public:
    CliError(ExitCode code, const std::string& message) : std::runtime_error(message), exitCode(code) {}
    ExitCode exitCode;
};

inline CliError usageError(const std::string& message) {
    return CliError(kExitUsage, message);
}
inline CliError failure(const std::string& message) {
    return CliError(kExitFailure, message);
}

} // namespace shaperhost
