#include "cli/output_stage.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <random>

#include "cli/cli_error.h"
#include "cli/text_args.h"

namespace shaperhost {

namespace {

constexpr double kPi = 3.14159265358979323846;

bool endsWithDecibels(std::string& text) {
    for (const char* unit : {"dB", "db", "DB", "dBFS", "dbfs"}) {
        const std::string u = unit;
        if (text.size() > u.size() && text.compare(text.size() - u.size(), u.size(), u) == 0) {
            text.resize(text.size() - u.size());
            while (!text.empty() && text.back() == ' ')
                text.pop_back();
            return true;
        }
    }
    return false;
}

} // namespace

double parseGain(const std::string& text, const std::string& what) {
    std::string number = text;
    const bool decibels = endsWithDecibels(number);
    if (!number.empty() && number.front() == '+')
        number.erase(0, 1);
    double value = 0.0;
    if (!readNumber(number, &value) || !std::isfinite(value))
        throw usageError(what + " must be a factor (e.g. 0.5) or a level in dB (e.g. -6dB), not '" + text +
                         "'");
    if (!decibels)
        return value;
    if (value > 200.0 || value < -400.0)
        throw usageError(what + " of " + text + " is out of range (-400 dB to +200 dB)");
    return std::pow(10.0, value / 20.0);
}

void countBeyondTable(const float* samples, std::size_t count, std::vector<int64_t>& counts) {
    for (std::size_t i = 0; i < count; ++i) {
        if (!(std::fabs(samples[i]) <= 0.5f))
            ++counts[i % counts.size()];
    }
}

OutputProcessor::OutputProcessor(const OutputStage& stage, int channels, int sampleRate)
    : stage(stage), channels(channels),
      // y[n] = x[n] - x[n-1] + r y[n-1]: a zero at DC and a pole just inside it, -3 dB near kDcBlockHz.
      pole(std::exp(-2.0 * kPi * kDcBlockHz / sampleRate)),
      previousIn(static_cast<std::size_t>(channels), 0.0),
      previousOut(static_cast<std::size_t>(channels), 0.0) {}

void OutputProcessor::process(const float* dry, float* wet, int64_t frames) {
    const std::size_t count = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels);
    for (std::size_t i = 0; i < count; ++i) {
        double x = wet[i];
        if (stage.mix != 1.0)
            x = stage.mix * x + (1.0 - stage.mix) * dry[i];
        if (stage.dcBlock) {
            const std::size_t c = i % static_cast<std::size_t>(channels);
            const double y = x - previousIn[c] + pole * previousOut[c];
            previousIn[c] = x;
            previousOut[c] = y;
            x = y;
        }
        if (!stage.normalize)
            x *= stage.gain;
        wet[i] = static_cast<float>(x);
    }
}

TpdfDither::TpdfDither(int bits) : step(std::ldexp(1.0, 1 - bits)), random(0x5eed) {}

void TpdfDither::apply(float* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<float>(samples[i] + (uniform(random) + uniform(random)) * step);
}

std::vector<AutomationPoint> readAutomationFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw usageError("cannot read the automation file '" + path + "'");
    nlohmann::json root;
    try {
        root = nlohmann::json::parse(in);
    } catch (const nlohmann::json::exception& e) {
        throw usageError("the automation file '" + path + "' is not JSON: " + e.what());
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
        if (point.at > 9.0e15)
            throw usageError(where + ": the time is too large");
        points.push_back(point);
    }
    return points;
}

int64_t automationSample(const AutomationPoint& point, int sampleRate, int64_t frames) {
    switch (point.unit) {
    case AutomationPoint::Unit::Samples:
        return static_cast<int64_t>(point.at);
    case AutomationPoint::Unit::Seconds:
        return std::llround(point.at * sampleRate);
    case AutomationPoint::Unit::Percent:
        break;
    }
    return std::llround(point.at / 100.0 * static_cast<double>(frames));
}

} // namespace shaperhost
