// A progress line on standard error for work that takes a while: drawn only when standard error is a
// terminal, and only once the work has taken more than about two seconds, so short runs and scripts
// see nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace shaperhost {

class ProgressLine {
public:
    // `what` names the work ("rendering"); `wanted` false (--quiet, --json) draws nothing.
    ProgressLine(const std::string& what, bool wanted);
    // Clears the line when one was drawn.
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // `done` of `total` units; redraws when the percentage changed.
    void update(int64_t done, int64_t total);

private:
    std::string what;
    bool enabled;
    std::chrono::steady_clock::time_point started;
    int shown = -1;
    std::size_t width = 0;
};

// Work shorter than this shows no progress.
constexpr double kProgressAfterSeconds = 2.0;

} // namespace shaperhost
