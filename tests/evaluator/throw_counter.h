// Counts C++ throws made by code linked into this program, where the toolchain lets the test see
// them; elsewhere the count is unknown.
#pragma once

namespace throwcount {

// Throws so far, or -1 when this build cannot count them.
long thrown();

} // namespace throwcount
