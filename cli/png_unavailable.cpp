// The Windows build has no libpng: pictures are left out there.
#include "cli/charts.h"
#include "cli/cli_error.h"
#include "cli/output_file.h"
#include "cli/plots.h"

namespace shaperhost {

bool pngAvailable() {
    return false;
}

void writePng(const std::string& path, const Image&) {
    throw usageError("cannot write '" + path + "': this build writes no PNG files (use the Linux build)");
}

void writePng(const StagedOutput& output, const Image& image) {
    writePng(output.targetPath(), image);
}

bool chartsAvailable() {
    return false;
}

void writeTransferChart(const StagedOutput& output, const TransferChart&, int) {
    throw usageError("cannot write '" + output.targetPath() +
                     "': this build draws no charts (use the Linux build)");
}

void writeSpectrumChart(const StagedOutput& output, const SpectrumChart&, int, int) {
    throw usageError("cannot write '" + output.targetPath() +
                     "': this build draws no charts (use the Linux build)");
}

} // namespace shaperhost
