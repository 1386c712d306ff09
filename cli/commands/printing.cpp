#include "cli/commands/printing.h"

#include <cmath>
#include <string>

#include "cli/common/text_args.h"

namespace shaperhost {

namespace {

std::string decibels(double value) {
    if (value <= 0.0)
        return "-inf";
    return formatFixed(20.0 * std::log10(value), 2);
}

} // namespace

void printLevels(std::ostream& out, const char* label, const Levels& levels) {
    out << "  " << label << "  peak " << formatFixed(levels.peak, 6) << " ("
        << formatFixed(levels.peak * 10.0, 3) << " V, " << decibels(levels.peak) << " dBFS)  RMS "
        << formatFixed(levels.rms, 6) << " (" << formatFixed(levels.rms * 10.0, 3) << " V, "
        << decibels(levels.rms) << " dBFS)\n";
}

} // namespace shaperhost
