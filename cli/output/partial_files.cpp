// The unfinished output files an interruption must remove: a fixed set of lock-free slots, so the
// platform layers' interrupt handlers can walk it without locks or allocation.
#include <atomic>

#include "cli/platform/file_system.h"

namespace shaperhost {

namespace {

// More than any command stages at once (the demo writes eight files, a batch of renders commits its
// outputs in groups of 200).
constexpr int kSlots = 256;

// A slot holds a path only while its file may exist.
std::atomic<const char*> partialFiles[kSlots];

static_assert(std::atomic<const char*>::is_always_lock_free, "interrupt handlers read the slots");

} // namespace

int registerPartialFile(const char* path) {
    for (int i = 0; i < kSlots; ++i) {
        const char* empty = nullptr;
        if (partialFiles[i].compare_exchange_strong(empty, path))
            return i;
    }
    return -1;
}

void withdrawPartialFile(int slot) {
    if (slot >= 0 && slot < kSlots)
        partialFiles[slot].store(nullptr);
}

void removePartialFiles(int (*remove)(const char* path)) {
    for (std::atomic<const char*>& slot : partialFiles) {
        const char* path = slot.load();
        if (path != nullptr)
            remove(path);
    }
}

} // namespace shaperhost
