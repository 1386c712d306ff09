#include <io.h>

#include <cstdio>

#include "cli/platform/terminal.h"

namespace shaperhost {

bool progressTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

} // namespace shaperhost
