// Counts the program's operator new calls: the program that links allocation_counter.cpp replaces
// the global operator new and delete. Single-threaded use: the count is a plain integer.
#pragma once

namespace allocationcount {

// operator new calls so far, all forms.
long allocations();

} // namespace allocationcount
