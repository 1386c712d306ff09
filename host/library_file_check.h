// A look at a module library file before the system loader maps it. The loader trusts the file's
// headers: a file cut short still names segments beyond its end, which the loader maps, and the first
// touch of such a page ends the process with a bus error. So the headers are read here, with bounded
// reads, and every part of the file they name must lie within it.
#pragma once

#include <istream>
#include <string>

namespace mphost {

// What is wrong with the library file in `file` (opened in binary mode), as a sentence naming the part
// that lies beyond the end, or empty when nothing is. ELF files: the header, the program header table
// and every segment with bytes in the file, the section header table and every section with bytes in
// the file. PE files: the DOS and PE headers, the optional header and its headers size, the
// certificate table, a symbol table and its string table, the section table and every section's raw
// data. A file in neither format is left to the loader (empty).
std::string libraryFileDamage(std::istream& file);

// The same for the file at path; empty when it is not a regular file or cannot be opened, which the
// loader reports in its own terms.
std::string libraryFileDamage(const std::string& path);

} // namespace mphost
