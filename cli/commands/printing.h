// Printed summaries shared by several commands.
#pragma once

#include <ostream>

#include "cli/render/levels.h"

namespace shaperhost {

void printLevels(std::ostream& out, const char* label, const Levels& levels);

} // namespace shaperhost
