// Replacement global operator new and delete that count calls and keep the live total. Each block
// carries a header with its size, so the live byte count stays exact across sized, unsized and array
// forms. Over-aligned forms are not replaced: nothing in the library asks for them.
#include "support/alloc_counter.h"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

bool counting = false;
bool failing = false;
alloc::Counts counts;
int64_t blocks = 0;
int64_t bytes = 0;

constexpr std::size_t kHeader = alignof(std::max_align_t) > sizeof(std::size_t) ? alignof(std::max_align_t)
                                                                                : sizeof(std::size_t);

void* allocate(std::size_t size) noexcept {
    if (counting)
        ++counts.allocations;
    if (failing)
        return nullptr;
    unsigned char* raw = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (raw == nullptr)
        return nullptr;
    *reinterpret_cast<std::size_t*>(raw) = size;
    ++blocks;
    bytes += static_cast<int64_t>(size);
    return raw + kHeader;
}

void release(void* pointer) noexcept {
    if (pointer == nullptr)
        return;
    if (counting)
        ++counts.releases;
    unsigned char* raw = static_cast<unsigned char*>(pointer) - kHeader;
    --blocks;
    bytes -= static_cast<int64_t>(*reinterpret_cast<std::size_t*>(raw));
    std::free(raw);
}

void* allocateOrThrow(std::size_t size) {
    void* pointer = allocate(size);
    if (pointer == nullptr)
        throw std::bad_alloc();
    return pointer;
}

} // namespace

namespace alloc {

void startCounting() {
    counts = Counts{};
    counting = true;
}

Counts stopCounting() {
    counting = false;
    return counts;
}

void failAllocations(bool fail) {
    failing = fail;
}

int64_t liveBlocks() {
    return blocks;
}
int64_t liveBytes() {
    return bytes;
}

} // namespace alloc

void* operator new(std::size_t size) {
    return allocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return allocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void operator delete(void* pointer) noexcept {
    release(pointer);
}
void operator delete[](void* pointer) noexcept {
    release(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
    release(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
    release(pointer);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept {
    release(pointer);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
    release(pointer);
}
