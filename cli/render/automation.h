// Text changes read from an automation file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace shaperhost {

// A text change from an automation file, its time in samples, seconds or percent of the input.
struct AutomationPoint {
    enum class Unit { Samples, Seconds, Percent };
    Unit unit = Unit::Seconds;
    double at = 0.0;
    std::string text;
};

// Reads a JSON list of {"sample": N | "seconds": S | "percent": P, "text": "..."}, at most 1 MiB like
// every text file. A missing or malformed file is a usage error that says where it is wrong; a folder,
// an unreadable or a larger file is a failure that says which.
std::vector<AutomationPoint> readAutomationFile(const std::string& path);

// The point's time as given: "sample 96000", "1.5 s", "75 %".
std::string automationTime(const AutomationPoint& point);

// The sample of the point in an input of `frames` frames at `sampleRate`; `frames` for a point at or
// after the end, however far (the time is compared before it is converted).
int64_t automationSample(const AutomationPoint& point, int sampleRate, int64_t frames);

} // namespace shaperhost
