// The chart font, DejaVu Sans in its regular and bold faces, carried inside the program: the files are
// embedded at build time (cmake/embed-file.cmake), so every build draws its charts with the same glyphs
// whatever fonts the machine it runs on has.
#pragma once

#include <cstddef>

namespace shaperhost {

extern const unsigned char kDejaVuSans[];
extern const std::size_t kDejaVuSansSize;
extern const unsigned char kDejaVuSansBold[];
extern const std::size_t kDejaVuSansBoldSize;

} // namespace shaperhost
