// The block loop and the pins allocate nothing: this program replaces the global allocation functions
// with counting ones and drives a module through blocks with every kind of event.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "host/event_list.h"
#include "host/processing_host.h"
#include "host/raw_calls.h"
#include "probe_module.h"

namespace {
long allocations = 0;
}

void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace mphost;

TEST(Allocation, BlockLoopAndPinsAllocateNothing) {
    SharedMemoryPool pool;
    ProcessingHost host(pool, 0, 100);
    host.logging = false;
    auto* module = new ProbeModule();
    void* plugin = static_cast<gmpi::IMpPlugin*>(module);
    static_cast<IoldSchoolInitialisation*>(module)->attachHost(&host);
    raw::plugin::open(plugin);
    std::vector<float> in(64, 0.0f), out(64, 0.0f);
    raw::plugin::assignPinBuffer(plugin, 1, in.data());
    raw::plugin::assignPinBuffer(plugin, 2, out.data());

    // A long text arrives through dataPointer, a short one inline.
    const PinText longText(600, u'x');
    EventList blocks[4];
    blocks[0].start(0).pinValue(0, 0, longText).streaming(0, 1, true);
    blocks[1]
        .pinValue(10, 0, u"abc")
        .other(20, gmpi::kEventPinOther, 0)
        .streaming(30, 1, false)
        .other(40, 99, 5);
    blocks[2].pinValue(63, 0, longText).pinValue(70, 0, u"ab");
    blocks[3].streaming(-3, 1, false);

    const long before = allocations;
    for (int round = 0; round < 3; ++round) {
        for (const EventList& events : blocks)
            raw::plugin::processBlock(plugin, 64, events.head());
        raw::plugin::processBlock(plugin, 64, nullptr); // sleeps
    }
    const long during = allocations - before;

    EXPECT_EQ(during, 0);
    EXPECT_EQ(module->textPin.value, longText);
    EXPECT_GT(module->stretchCount, 0);
    raw::release(plugin);
}

} // namespace
