// The program's subcommands. Each adds itself to the command line; its callback does the work and
// reports problems by throwing CliError.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/modules/session.h"
#include "cli/render/render_settings.h"

namespace shaperhost {

void addListCommand(CLI::App& app, Session& session);
void addTableCommand(CLI::App& app, Session& session);
// help [COMMAND], and the hidden command that writes the shell completion and the man page's command
// sections from the option definitions (run by the build).
void addHelpCommands(CLI::App& app);
void addRenderCommand(CLI::App& app, Session& session);
void addAnalyzeCommand(CLI::App& app, Session& session);
void addEditorCommand(CLI::App& app, Session& session);
void addDemoCommand(CLI::App& app, Session& session);
void addDiffCommand(CLI::App& app, Session& session);

// Text of the module text options shared by several commands. -t and --text-file exclude each other.
struct TextOptions {
    std::string text;
    std::string file;
    void addTo(CLI::App& command, const std::string& what);
};

// Number options: refuse what does not read as a number, NaN, infinities and values outside min..max,
// with the option's name in the message (CLI11's own range check lets NaN through).
CLI::Validator numberRange(double min, double max);
// A whole number from min to max, read as every number option is (numberRange's message form).
CLI::Validator wholeNumberRange(long long min, long long max);
// One of the listed whole numbers.
CLI::Validator wholeNumberChoice(const std::vector<long long>& choices);
// File name options: refuse an empty name instead of taking it as "not given".
CLI::Validator fileName();
// Options that take one of a few words: the value is taken in any letter case and handed on in lower
// case; anything else is refused with the choices named. The choices become the option's type name
// ("hq|vhq"), shown by the help and offered by the shell completion.
CLI::Option* restrictToChoices(CLI::Option* option, const std::vector<std::string>& choices);
// ASCII letters in lower case.
std::string lowerCase(std::string text);

// --oversample and --quality on a command; the factor is checked when the command runs.
void addOversampleOptions(CLI::App& command, int& factor, std::string& quality);
// The quality named on the command line ("hq" or "vhq"); a usage error otherwise.
ResamplerQuality resamplerQualityNamed(const std::string& name);
// "" at 1x, else ", oversampled 8x (VHQ)" for summaries.
std::string oversampleNote(int factor, ResamplerQuality quality);

} // namespace shaperhost
