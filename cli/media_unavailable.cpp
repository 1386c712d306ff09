// The Windows build: no libsndfile, libpng or FFTW cross builds, so the commands that read or write
// audio files, pictures or spectra are left out; list and table (CSV) remain.
#include "cli/commands.h"

namespace shaperhost {

void addMediaCommands(CLI::App& app, Session&) {
    app.footer(
        "This Windows build has only 'list' and 'table' (CSV). Left out, for want of libsndfile, libpng "
        "and FFTW: 'render' (audio files), 'analyze' (spectra), 'editor' and 'demo' (PNG pictures and "
        "WAV files), and table --png. Use the Linux build for those.\n"
        "Exit codes: 0 success, 1 the command failed, 2 the command line is wrong.");
}

} // namespace shaperhost
