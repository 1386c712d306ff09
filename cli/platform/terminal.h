// Whether progress can be drawn: only when standard error is an interactive terminal.
#pragma once

namespace shaperhost {

bool progressTerminal();

} // namespace shaperhost
