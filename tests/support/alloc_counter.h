// Counts a test program's allocations: the program that links alloc_counter.cpp replaces the global
// operator new and delete, so every allocation of the library (and of the standard library on its
// behalf) passes through here, and a test can make it fail. Single-threaded use: the counters are plain
// integers.
#pragma once

#include <cstdint>

namespace alloc {

struct Counts {
    int64_t allocations = 0; // operator new calls while counting
    int64_t releases = 0;    // operator delete calls (non-null) while counting
};

// Starts counting from zero; stopCounting returns what happened since.
void startCounting();
Counts stopCounting();

// While set, every allocation fails: operator new throws std::bad_alloc and the nothrow forms return
// null, as when memory runs out.
void failAllocations(bool fail);

// Blocks allocated through operator new and not yet released, and their bytes, over the whole run.
int64_t liveBlocks();
int64_t liveBytes();

} // namespace alloc
