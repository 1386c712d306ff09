// help [COMMAND], and what the build makes from the option definitions: the bash completion and the
// command sections of the man page. Both are written by a hidden command, so they always list the
// options this program has.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands/command_line.h"
#include "cli/common/cli_error.h"

namespace shaperhost {

namespace {

const char* const kDocsCommand = "docs";

// The commands a user sees: every subcommand but the hidden ones.
std::vector<const CLI::App*> visibleCommands(const CLI::App& app) {
    return app.get_subcommands([](const CLI::App* sub) { return !sub->get_group().empty(); });
}

bool takesValue(const CLI::Option* option) {
    return option->get_expected_max() != 0;
}

bool isPositional(const CLI::Option* option) {
    return option->get_lnames().empty() && option->get_snames().empty();
}

// "-m --module" for an option.
std::string namesOf(const CLI::Option* option) {
    std::string names;
    for (const std::string& s : option->get_snames())
        names += (names.empty() ? "-" : " -") + s;
    for (const std::string& l : option->get_lnames())
        names += (names.empty() ? "--" : " --") + l;
    return names;
}

// "a|b|c" for an option restricted to choices, else empty.
std::string choicesOf(const CLI::Option* option) {
    const std::string type = option->get_type_name();
    if (type.find('|') == std::string::npos || type.find(' ') != std::string::npos)
        return std::string();
    return type;
}

bool takesFile(const CLI::Option* option) {
    return option->get_type_name().find("FILE") != std::string::npos;
}

std::string replaceAll(std::string text, char from, char to) {
    for (char& c : text) {
        if (c == from)
            c = to;
    }
    return text;
}

// A bash function that completes commands, each command's options and the values of options with
// choices or file names.
std::string bashCompletion(const CLI::App& app) {
    std::string commands;
    for (const CLI::App* sub : visibleCommands(app))
        commands += (commands.empty() ? "" : " ") + sub->get_name();
    std::string globalOptions;
    std::string valueCases;
    auto addValueCases = [&valueCases](const std::string& command, const CLI::Option* option) {
        if (!takesValue(option) || isPositional(option))
            return;
        std::string patterns;
        for (const std::string& name : CLI::detail::split(namesOf(option), ' '))
            patterns += (patterns.empty() ? "" : "|") + command + ":" + name;
        const std::string choices = choicesOf(option);
        if (!choices.empty())
            valueCases += "        " + patterns + ")\n            COMPREPLY=($(compgen -W \"" +
                          replaceAll(choices, '|', ' ') + "\" -- \"$cur\"))\n            return ;;\n";
        else if (takesFile(option))
            valueCases += "        " + patterns + ")\n            _shaperhost_files\n            return ;;\n";
        else
            valueCases += "        " + patterns + ")\n            return ;;\n";
    };
    for (const CLI::Option* option : app.get_options()) {
        globalOptions += (globalOptions.empty() ? "" : " ") + namesOf(option);
        addValueCases("*", option);
    }
    std::string optionCases;
    std::string positionalCases;
    for (const CLI::App* sub : visibleCommands(app)) {
        std::string options;
        bool files = false;
        for (const CLI::Option* option : sub->get_options()) {
            if (isPositional(option)) {
                files = files || option->get_name() != "command";
                continue;
            }
            options += " " + namesOf(option);
            addValueCases(sub->get_name(), option);
        }
        optionCases += "        " + sub->get_name() + ") options=\"" + globalOptions + options + "\" ;;\n";
        if (files)
            positionalCases += "        " + sub->get_name() + ") _shaperhost_files ;;\n";
        else if (sub->get_name() == "help")
            positionalCases += "        help) COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\")) ;;\n";
    }
    return "# bash completion for shaperhost, generated from its option definitions by the build\n"
           "_shaperhost_files() {\n"
           "    compopt -o filenames 2>/dev/null\n"
           "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
           "}\n"
           "\n"
           "_shaperhost() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
           "    local commands=\"" +
           commands +
           "\"\n"
           "    local command=\"\" options i\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        if [[ \" $commands \" == *\" ${COMP_WORDS[i]} \"* ]]; then\n"
           "            command=${COMP_WORDS[i]}\n"
           "            break\n"
           "        fi\n"
           "    done\n"
           "    case \"${command:-*}:$prev\" in\n" +
           valueCases +
           "    esac\n"
           "    case $command in\n" +
           optionCases + "        *) options=\"" + globalOptions +
           "\" ;;\n"
           "    esac\n"
           "    if [[ $cur == -* ]]; then\n"
           "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    case $command in\n"
           "        \"\") COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\")) ;;\n" +
           positionalCases +
           "        *) COMPREPLY=($(compgen -W \"$options\" -- \"$cur\")) ;;\n"
           "    esac\n"
           "}\n"
           "complete -F _shaperhost shaperhost\n";
}

// Text as roff that keeps every character: backslashes escaped, no line read as a request.
std::string roffText(const std::string& text) {
    std::string out;
    bool lineStart = true;
    for (char c : text) {
        if (lineStart && (c == '.' || c == '\''))
            out += "\\&";
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
        lineStart = c == '\n';
    }
    return out;
}

// The man page's sections beyond what help2man reads from --help: each command's own help.
std::string manInclude(const CLI::App& app) {
    std::string include = "[COMMANDS]\n";
    for (const CLI::App* sub : visibleCommands(app)) {
        // Each command inherits the program's footer; the page has it once, at the top.
        std::string help = sub->help("shaperhost");
        const std::size_t footer = app.get_footer().empty() ? std::string::npos : help.find(app.get_footer());
        if (footer != std::string::npos)
            help.erase(footer, app.get_footer().size());
        while (help.size() > 1 && help[help.size() - 1] == '\n' && help[help.size() - 2] == '\n')
            help.pop_back();
        include += ".SS " + sub->get_name() + "\n.nf\n" + roffText(help) + ".fi\n";
    }
    include += "[EXIT STATUS]\n0 success, 1 the command failed, 2 the command line is wrong. diff, as cmp: "
               "0 the files are the same (within the tolerance), 1 they differ or are not comparable, 2 "
               "trouble (a missing or unreadable file, a wrong command line).\n";
    return include;
}

} // namespace

void addHelpCommands(CLI::App& app) {
    auto topic = std::make_shared<std::string>();
    CLI::App* help = app.add_subcommand("help", "Show the commands, or the options of one command");
    help->add_option("command", *topic, "the command to explain");
    help->callback([&app, topic] {
        if (topic->empty()) {
            // The program's own help: app.help() would describe the command running now, this one.
            std::cout << app.get_formatter()->make_help(&app, "shaperhost", CLI::AppFormatMode::Normal);
            return;
        }
        for (const CLI::App* sub : visibleCommands(app)) {
            if (sub->get_name() == lowerCase(*topic)) {
                std::cout << sub->help("shaperhost");
                return;
            }
        }
        throw usageError("no command '" + *topic + "': 'shaperhost help' lists the commands");
    });

    auto what = std::make_shared<std::string>();
    CLI::App* docs = app.add_subcommand(kDocsCommand, "");
    docs->group("");
    restrictToChoices(docs->add_option("what", *what, "bash or man")->required(), {"bash", "man"});
    docs->callback([&app, what] { std::cout << (*what == "bash" ? bashCompletion(app) : manInclude(app)); });
}

} // namespace shaperhost
