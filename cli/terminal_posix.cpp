#include <unistd.h>

#include "cli/terminal.h"

namespace shaperhost {

bool progressTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

} // namespace shaperhost
