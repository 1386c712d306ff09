#include "cli/commands/command_line.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "cli/common/cli_error.h"
#include "cli/common/text_args.h"
#include "cli/render/oversampling.h"

namespace shaperhost {

void TextOptions::addTo(CLI::App& command, const std::string& what) {
    CLI::Option* textOption = command.add_option(
        "-t,--text", text, what + " (default: the module's default from the description file)");
    command.add_option("--text-file", file, "read the text from this file instead")
        ->check(fileName())
        ->excludes(textOption);
}

CLI::Validator numberRange(double min, double max) {
    const std::string range = formatDouble(min) + " to " + formatDouble(max);
    return CLI::Validator(
        [min, max, range](std::string& value) -> std::string {
            double number = 0.0;
            if (!readNumber(value, &number))
                return "'" + value + "' is not a number";
            if (!(number >= min && number <= max))
                return "'" + value + "' is not a number from " + range;
            return std::string();
        },
        "NUMBER " + range);
}

CLI::Validator wholeNumberRange(long long min, long long max) {
    const std::string range = std::to_string(min) + " to " + std::to_string(max);
    return CLI::Validator(
        [min, max, range](std::string& value) -> std::string {
            double number = 0.0;
            // Only digits after the sign, so the option's own conversion to a whole number agrees.
            const bool digits = value.find_first_not_of("+-0123456789") == std::string::npos;
            if (!digits || !readNumber(value, &number) ||
                !(number >= static_cast<double>(min) && number <= static_cast<double>(max)))
                return "'" + value + "' is not a whole number from " + range;
            return std::string();
        },
        "INTEGER " + range);
}

CLI::Validator wholeNumberChoice(const std::vector<long long>& choices) {
    std::string list;
    for (std::size_t i = 0; i < choices.size(); ++i)
        list += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + std::to_string(choices[i]);
    return CLI::Validator(
        [choices, list](std::string& value) -> std::string {
            double number = 0.0;
            const bool digits = value.find_first_not_of("+-0123456789") == std::string::npos;
            if (digits && readNumber(value, &number)) {
                for (long long choice : choices) {
                    if (number == static_cast<double>(choice))
                        return std::string();
                }
            }
            return "'" + value + "' is not " + list;
        },
        "{" + list + "}");
}

std::string lowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

CLI::Option* restrictToChoices(CLI::Option* option, const std::vector<std::string>& choices) {
    std::string names;
    for (const std::string& choice : choices)
        names += (names.empty() ? "" : "|") + choice;
    option->check(CLI::Validator(
        [choices, names](std::string& value) -> std::string {
            const std::string lower = lowerCase(value);
            for (const std::string& choice : choices) {
                if (lower == choice) {
                    value = lower;
                    return std::string();
                }
            }
            return "'" + value + "' is not one of " + names;
        },
        ""));
    return option->type_name(names);
}

CLI::Validator fileName() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            return value.empty() ? std::string("the file name is empty") : std::string();
        },
        "FILE");
}

void addOversampleOptions(CLI::App& command, int& factor, std::string& quality) {
    command
        .add_option(
            "--oversample", factor,
            "run the module at 1, 2, 4, 8 or 16 times the sample rate between linear-phase resamplers")
        ->check(wholeNumberChoice({1, 2, 4, 8, 16}))
        ->capture_default_str();
    restrictToChoices(command.add_option("--quality", quality, "resampler quality when oversampling"),
                      {"hq", "vhq"})
        ->capture_default_str();
}

ResamplerQuality resamplerQualityNamed(const std::string& given) {
    const std::string name = lowerCase(given);
    if (name == "hq")
        return ResamplerQuality::High;
    if (name == "vhq")
        return ResamplerQuality::VeryHigh;
    throw usageError("unknown resampler quality '" + given + "' (hq or vhq)");
}

std::string oversampleNote(int factor, ResamplerQuality quality) {
    if (factor == 1)
        return "";
    return ", oversampled " + std::to_string(factor) + "x (" +
           (quality == ResamplerQuality::High ? "HQ" : "VHQ") + ")";
}

} // namespace shaperhost
