#include "cli/text_args.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <locale>
#include <sstream>
#include <system_error>

#include "cli/cli_error.h"

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
    if (*first == '+')
        ++first;
    const std::from_chars_result result = std::from_chars(first, last, *value);
    return result.ec == std::errc() && result.ptr == last;
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

std::string formatFixed(double value, int decimals) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.setf(std::ios::fixed);
    out.precision(decimals);
    // A value that rounds to zero is written without a sign.
    if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals))
        value = 0.0;
    out << value;
    return out.str();
}

} // namespace shaperhost
