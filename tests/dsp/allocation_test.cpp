// The block loop and the pins allocate nothing: this program counts allocations
// (tests/support/alloc_counter.cpp replaces the global allocation functions) and drives a module through
// blocks with every kind of event.
#include <gtest/gtest.h>

#include <vector>

#include "host/event_list.h"
#include "host/raw_calls.h"
#include "host/stand_in_processing_host.h"
#include "probe_module.h"
#include "support/alloc_counter.h"

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

    alloc::startCounting();
    for (int round = 0; round < 3; ++round) {
        for (const EventList& events : blocks)
            raw::plugin::processBlock(plugin, 64, events.head());
        raw::plugin::processBlock(plugin, 64, nullptr); // sleeps
    }
    const alloc::Counts counts = alloc::stopCounting();

    EXPECT_EQ(counts.allocations + counts.releases, 0);
    EXPECT_EQ(module->textPin.value, longText);
    EXPECT_GT(module->stretchCount, 0);
    raw::release(plugin);
}

} // namespace
