#include "cli/common/text_args.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/common/cli_error.h"

namespace shaperhost {

bool looksLikeModuleText(const std::string& name) {
    return name.find('(') != std::string::npos || name.find(')') != std::string::npos ||
           name.find('*') != std::string::npos || name.find('^') != std::string::npos;
}

std::string moduleText(const std::string& text, const std::string& file, const std::string& fallback) {
    if (!text.empty())
        return text;
    if (file.empty())
        return fallback;
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::u8path(file), error)) {
        std::string message = "cannot read the text file '" + file + "': it does not exist";
        if (looksLikeModuleText(file))
            message += "; this looks like a module text, not a file name; give the text itself with --text";
        throw usageError(message);
    }
    std::string contents = readSmallFile(file, kMaxTextFileBytes, "the text file");
    // Editors end a file with a line break, some with several, or leave spaces behind the text: none
    // of that is part of the text.
    while (!contents.empty() && (contents.back() == '\n' || contents.back() == '\r' ||
                                 contents.back() == ' ' || contents.back() == '\t'))
        contents.pop_back();
    return contents;
}

std::string readSmallFile(const std::string& path, long long limit, const std::string& what) {
    std::error_code error;
    if (std::filesystem::is_directory(std::filesystem::u8path(path), error))
        throw failure("cannot read " + what + " '" + path + "': it is a folder");
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        throw failure("cannot read " + what + " '" + path + "' (" + std::generic_category().message(errno) +
                      ")");
    std::string contents;
    char buffer[65536];
    bool tooLong = false;
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof(buffer), file);
        if (n == 0)
            break;
        if (static_cast<long long>(contents.size() + n) > limit) {
            tooLong = true;
            break;
        }
        contents.append(buffer, n);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (tooLong)
        throw failure("cannot read " + what + " '" + path + "': it is larger than the " +
                      std::to_string(limit / 1024) + " KiB allowed");
    if (failed)
        throw failure("cannot read " + what + " '" + path + "': reading failed");
    return contents;
}

bool readNumber(const std::string& text, double* value) {
    if (text.empty())
        return false;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    // One sign: from_chars takes a "-" itself, a "+" is skipped here, and a second sign is refused.
    if (*first == '+')
        ++first;
    if (first == last || (first != text.data() && *first == '-'))
        return false;
    const std::from_chars_result result = std::from_chars(first, last, *value);
    return result.ec == std::errc() && result.ptr == last;
}

namespace {

bool endsWithNoCase(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size())
        return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        const char c = text[text.size() - suffix.size() + i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != suffix[i])
            return false;
    }
    return true;
}

} // namespace

bool readQuantity(const std::string& text, Quantity* quantity) {
    std::string number = text;
    quantity->decibels = false;
    for (const char* unit : {"dbfs", "db"}) {
        if (endsWithNoCase(number, unit)) {
            number.resize(number.size() - std::string(unit).size());
            while (!number.empty() && number.back() == ' ')
                number.pop_back();
            quantity->decibels = true;
            break;
        }
    }
    return readNumber(number, &quantity->value) && std::isfinite(quantity->value);
}

CliError badOptionValue(const std::string& option, const std::string& text, const std::string& expected) {
    return usageError(option + ": '" + text + "' is not " + expected);
}

double readGain(const std::string& text, const std::string& option) {
    const std::string expected = "a factor within +-" + formatFixed(kMaxGainFactor, 0) +
                                 " (e.g. 0.5) or a level from " + formatDouble(kMinGainDb) + " to +" +
                                 formatDouble(kMaxGainDb) + " dB (e.g. -6dB)";
    Quantity q;
    if (!readQuantity(text, &q))
        throw badOptionValue(option, text, expected);
    if (!q.decibels) {
        if (!(std::fabs(q.value) <= kMaxGainFactor))
            throw badOptionValue(option, text, expected);
        return q.value;
    }
    if (!(q.value >= kMinGainDb && q.value <= kMaxGainDb))
        throw badOptionValue(option, text, expected);
    return std::pow(10.0, q.value / 20.0);
}

double readLevelDb(const std::string& text, const std::string& option) {
    const std::string expected =
        "a level in dBFS from " + formatDouble(kMinGainDb) + " to 0 (e.g. -1 or -1dB)";
    Quantity q;
    if (!readQuantity(text, &q) || !(q.value <= 0.0 && q.value >= kMinGainDb))
        throw badOptionValue(option, text, expected);
    return q.value;
}

TimedText parseTimedText(const std::string& value) {
    const std::size_t colon = value.find(':');
    if (colon == std::string::npos)
        throw usageError("--text-at expects SECONDS:TEXT, e.g. 1.5:tanh(x), not '" + value + "'");
    TimedText timed;
    const std::string time = value.substr(0, colon);
    if (!readNumber(time, &timed.seconds) || !(timed.seconds >= 0.0 && timed.seconds <= kMaxSeconds))
        throw usageError("--text-at: '" + time + "' is not a time in seconds (0 to " +
                         formatFixed(kMaxSeconds, 0) + ")");
    timed.text = value.substr(colon + 1);
    return timed;
}

std::string formatFloat(float value) {
    char buffer[64];
    const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof(buffer), value);
    return std::string(buffer, r.ptr);
}

std::string formatDouble(double value) {
    char buffer[64];
    const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof(buffer), value);
    return std::string(buffer, r.ptr);
}

} // namespace shaperhost
