#include <unistd.h>

#include "cli/platform/terminal.h"

namespace shaperhost {

bool progressTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

} // namespace shaperhost
