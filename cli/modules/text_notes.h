// What a waveshaper module will make of a text it does not take literally. The modules are lenient by
// design: a formula is read up to the first token that cannot continue it and evaluates to 0 where it
// fails; a curve text with too few, too many or non-finite points is repaired. These notes tell the
// user so, in one line each, without changing what the module does.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace shaperhost {

// Notes for `text` (UTF-8) given to the module `moduleId`; none for a text taken as written or for a
// module the program does not know.
std::vector<std::string> textNotes(const std::string& moduleId, const std::string& text);

// Writes each note as "shaperhost: note: <where><note>" on its own line.
void printTextNotes(std::ostream& out, const std::string& moduleId, const std::string& text,
                    const std::string& where = std::string());

} // namespace shaperhost
