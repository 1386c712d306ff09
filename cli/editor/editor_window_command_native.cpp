// The native build's windows are the library's own records with a software canvas: nothing to show
// on a screen, so the editor runs only with PNG pictures and drags.
#include "cli/common/cli_error.h"
#include "cli/editor/editor_window.h"

namespace shaperhost {

bool interactiveEditorAvailable() {
    return false;
}

void showInteractiveEditor(const ModuleLibrary&, const std::string&, const std::string&, int, int) {
    throw usageError("--window: this build has no screen windows");
}

} // namespace shaperhost
