// The Windows build: no libsndfile, libpng or FFTW cross builds, so the commands that read or write
// audio files, pictures or spectra are left out; list, table (CSV) and the editor in a real window remain.
#include "cli/commands.h"

namespace shaperhost {

void addEditorWindowCommand(CLI::App& app, Session& session);

void addMediaCommands(CLI::App& app, Session& session) {
    addEditorWindowCommand(app, session);
    app.footer(
        "This Windows build has 'list', 'table' (CSV) and 'editor --window' (the editor in a real window). "
        "Left out, for want of libsndfile, libpng and FFTW: 'render' (audio files), 'analyze' (spectra), "
        "'demo' (WAV files and PNG pictures), the editor's PNG, drags and rendering, and table --png. Use "
        "the "
        "Linux build for those.\n"
        "Exit codes: 0 success, 1 the command failed, 2 the command line is wrong.");
}

} // namespace shaperhost
