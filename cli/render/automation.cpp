#include "cli/render/automation.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <utility>

#include "cli/common/cli_error.h"
#include "cli/common/text_args.h"

namespace shaperhost {

namespace {

// "line 3, column 14" of the byte at `offset` (counted from 1) in `text`.
std::string placeOf(const std::string& text, std::size_t offset) {
    std::size_t line = 1;
    std::size_t column = 1;
    for (std::size_t i = 0; i + 1 < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

} // namespace

std::vector<AutomationPoint> readAutomationFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::u8path(path), error))
        throw usageError("cannot read the automation file '" + path + "': it does not exist");
    // Bounded like the text files: an endless or huge file stops at the limit.
    const std::string contents = readSmallFile(path, kMaxTextFileBytes, "the automation file");
    nlohmann::json root;
    try {
        root = nlohmann::json::parse(contents);
    } catch (const nlohmann::json::parse_error& e) {
        throw usageError("the automation file '" + path + "' is not valid JSON (the error is at " +
                         placeOf(contents, e.byte) + ")");
    } catch (const nlohmann::json::exception&) {
        throw usageError("the automation file '" + path + "' is not valid JSON");
    }
    if (!root.is_array())
        throw usageError("the automation file '" + path + "' must hold a list of text changes");
    std::vector<AutomationPoint> points;
    for (std::size_t i = 0; i < root.size(); ++i) {
        const nlohmann::json& entry = root[i];
        const std::string where = "automation entry " + std::to_string(i + 1) + " of '" + path + "'";
        if (!entry.is_object() || !entry.contains("text") || !entry["text"].is_string())
            throw usageError(where + " needs a \"text\" string");
        // A misspelt key would otherwise be ignored and its change land elsewhere.
        for (const auto& item : entry.items()) {
            if (item.key() != "text" && item.key() != "sample" && item.key() != "seconds" &&
                item.key() != "percent")
                throw usageError(
                    where + ": unknown key \"" + item.key() +
                    "\" (the keys are \"text\" and one of \"sample\", \"seconds\", \"percent\")");
        }
        AutomationPoint point;
        point.text = entry["text"].get<std::string>();
        int times = 0;
        const std::pair<const char*, AutomationPoint::Unit> units[] = {
            {"sample", AutomationPoint::Unit::Samples},
            {"seconds", AutomationPoint::Unit::Seconds},
            {"percent", AutomationPoint::Unit::Percent}};
        for (const auto& unit : units) {
            if (!entry.contains(unit.first))
                continue;
            ++times;
            const nlohmann::json& value = entry[unit.first];
            if (!value.is_number() || !std::isfinite(value.get<double>()) || value.get<double>() < 0.0)
                throw usageError(where + ": \"" + unit.first + "\" must be a number at or above 0");
            if (unit.second == AutomationPoint::Unit::Samples && !value.is_number_integer() &&
                !value.is_number_unsigned())
                throw usageError(where + ": \"sample\" must be a whole number");
            point.unit = unit.second;
            point.at = value.get<double>();
        }
        if (times != 1)
            throw usageError(where + " needs exactly one of \"sample\", \"seconds\" and \"percent\"");
        if (point.unit == AutomationPoint::Unit::Percent && point.at > 100.0)
            throw usageError(where + ": \"percent\" must lie between 0 and 100");
        if (point.unit == AutomationPoint::Unit::Seconds && point.at > kMaxSeconds)
            throw usageError(where + ": \"seconds\" must lie between 0 and " + formatFixed(kMaxSeconds, 0));
        points.push_back(point);
    }
    return points;
}

std::string automationTime(const AutomationPoint& point) {
    switch (point.unit) {
    case AutomationPoint::Unit::Samples:
        return "sample " + formatDouble(point.at);
    case AutomationPoint::Unit::Seconds:
        return formatDouble(point.at) + " s";
    case AutomationPoint::Unit::Percent:
        break;
    }
    return formatDouble(point.at) + " %";
}

int64_t automationSample(const AutomationPoint& point, int sampleRate, int64_t frames) {
    // Compared with the length before any conversion to a whole number, which could overflow.
    double at = point.at;
    if (point.unit == AutomationPoint::Unit::Seconds)
        at = point.at * sampleRate;
    else if (point.unit == AutomationPoint::Unit::Percent)
        at = point.at / 100.0 * static_cast<double>(frames);
    if (!(at < static_cast<double>(frames)))
        return frames;
    return std::min<int64_t>(std::llround(at), frames);
}

} // namespace shaperhost
