#include "cli/output/progress.h"

#include <algorithm>
#include <iostream>

#include "cli/common/cli_error.h"
#include "cli/platform/terminal.h"

namespace shaperhost {

ProgressLine::ProgressLine(const std::string& work, bool wanted)
    : what(work), enabled(wanted && progressTerminal()), started(std::chrono::steady_clock::now()) {}

ProgressLine::~ProgressLine() {
    if (shown >= 0)
        std::cerr << "\r" << std::string(width, ' ') << "\r" << std::flush;
}

void ProgressLine::update(int64_t done, int64_t total) {
    if (!enabled || total <= 0)
        return;
    const int percent = static_cast<int>(std::min<int64_t>(done, total) * 100 / total);
    if (percent == shown)
        return;
    if (shown < 0 && std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() <
                         kProgressAfterSeconds)
        return;
    shown = percent;
    const std::string line = std::string(kProgramPrefix) + what + " " + std::to_string(percent) + "%";
    width = std::max(width, line.size());
    std::cerr << "\r" << line << std::flush;
}

} // namespace shaperhost
