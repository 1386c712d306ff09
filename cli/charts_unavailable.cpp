// Builds without the drawing library (the Windows build: no cairo for mingw-w64 on the build machine)
// draw no charts; the plain PNG plots remain.
#include "cli/charts.h"
#include "cli/cli_error.h"
#include "cli/output_file.h"

namespace shaperhost {

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
