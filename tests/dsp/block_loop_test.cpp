// The processing module base and pins, driven as a host drives them: through the raw operation tables,
// with the host stand-in recording what the module reported and sentinel-filled buffers showing which
// samples the process function wrote.
#include <gtest/gtest.h>

#include <tuple>
#include <type_traits>
#include <vector>

#include "host/event_list.h"
#include "host/raw_calls.h"
#include "host/stand_in_processing_host.h"
#include "probe_module.h"

namespace {

using namespace mphost;
using Report = std::tuple<int32_t, int32_t, int32_t>; // timestamp, pin, streaming

constexpr float kSentinel = -1234.0f;
constexpr int32_t kBlock = 64;

struct Range {
    int begin;
    int end;
    float value;
};

// The buffer a host expects after a block: sentinel everywhere but the written ranges.
std::vector<float> layout(std::initializer_list<Range> ranges) {
    std::vector<float> expected(kBlock, kSentinel);
    for (const Range& r : ranges) {
        for (int i = r.begin; i < r.end; ++i)
            expected[i] = r.value;
    }
    return expected;
}

class BlockLoop : public ::testing::Test {
protected:
    void SetUp() override {
        module = new ProbeModule(duplicatePin);
        plugin = static_cast<gmpi::IMpPlugin*>(module);
        ASSERT_EQ(raw::queryInterface(plugin, gmpi::kIidPlugin2, &plugin2), gmpi::kResultOk);
        EXPECT_EQ(raw::plugin2::attachHost(plugin2, static_cast<gmpi::IMpProcessingHost*>(&host)),
                  gmpi::kResultOk);
        raw::release(plugin2);
        EXPECT_EQ(raw::plugin::open(plugin), gmpi::kResultOk);
        EXPECT_EQ(raw::plugin::assignPinBuffer(plugin, 1, input.data()), gmpi::kResultOk);
        EXPECT_EQ(raw::plugin::assignPinBuffer(plugin, 2, output.data()), gmpi::kResultOk);
    }
    void TearDown() override {
        if (module != nullptr) {
            EXPECT_EQ(raw::release(plugin), 0);
        }
    }

    // One block through the primary face, output refilled with the sentinel first.
    void block(const EventList& events, int32_t frames = kBlock) {
        output.assign(kBlock, kSentinel);
        module->clearRecords();
        host.clearLog();
        raw::plugin::processBlock(plugin, frames, events.head());
    }
    // Starts the module with a streaming input: the output streams from now on.
    void start() {
        EventList events;
        events.start(0).streaming(0, 1, true);
        block(events);
    }

    std::vector<Report> reports() const {
        std::vector<Report> result;
        for (const HostCall& call : host.calls(HostCall::kSendPinStreaming))
            result.emplace_back(call.timestamp, call.pinId, call.value);
        return result;
    }
    std::vector<std::pair<int32_t, int32_t>> stretches() const {
        std::vector<std::pair<int32_t, int32_t>> result;
        for (int i = 0; i < module->stretchCount; ++i)
            result.emplace_back(module->stretches[i].offset, module->stretches[i].frames);
        return result;
    }
    std::vector<int32_t> updatePositions() const {
        std::vector<int32_t> result;
        for (int i = 0; i < module->updateCount; ++i)
            result.push_back(module->updates[i].blockPosition);
        return result;
    }

    bool duplicatePin = false;
    SharedMemoryPool pool;
    ProcessingHost host{pool, 0, kBlock};
    ProbeModule* module = nullptr;
    void* plugin = nullptr;
    void* plugin2 = nullptr;
    std::vector<float> input = std::vector<float>(kBlock, 0.0f);
    std::vector<float> output = std::vector<float>(kBlock, kSentinel);
};

TEST_F(BlockLoop, FirstBlockWithStartAndTextAtZero) {
    module->followInput = false; // onPinsUpdated changes no streaming state
    EventList events;
    events.start(0).pinValue(0, 0, u"abc");
    block(events);

    // onStart made the output stream and reported it before onPinsUpdated saw the text.
    ASSERT_EQ(module->updateCount, 1);
    EXPECT_TRUE(module->updates[0].textUpdated);
    EXPECT_EQ(module->updates[0].streamingCount, 1);
    EXPECT_FALSE(module->updates[0].wrapperActive);
    EXPECT_EQ(reports(), (std::vector<Report>{{0, 2, 1}}));
    EXPECT_EQ(module->textPin.value, u"abc");
    EXPECT_FALSE(module->textPin.isUpdated());
    EXPECT_EQ(stretches(), (std::vector<std::pair<int32_t, int32_t>>{{0, 64}}));
    EXPECT_EQ(output, layout({{0, 64, 1}}));
}

TEST_F(BlockLoop, EventsCutTheBlockIntoStretches) {
    start();
    struct Case {
        const char* name;
        std::vector<int32_t> timestamps;
        std::vector<std::pair<int32_t, int32_t>> stretches;
        std::vector<int32_t> updates; // blockPosition at each onPinsUpdated
        int32_t finalPosition;
    };
    const Case cases[] = {
        {"no events", {}, {{0, 64}}, {}, 0},
        {"10 and 30", {10, 30}, {{0, 10}, {10, 20}, {30, 34}}, {10, 30}, 30},
        {"two at 0", {0, 0}, {{0, 64}}, {0}, 0},
        {"at the end stays unhandled", {64}, {{0, 64}}, {}, 0},
        {"past the end is clamped and unhandled", {1000}, {{0, 64}}, {}, 0},
        {"negative is clamped to 0", {-5}, {{0, 64}}, {0}, 0},
        {"decreasing: no stretch back", {30, 10}, {{0, 30}, {30, 34}}, {30, 10}, 10},
        {"last sample", {63}, {{0, 63}, {63, 1}}, {63}, 63},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EventList events;
        for (int32_t t : c.timestamps)
            events.pinValue(t, 0, u"x");
        block(events);
        EXPECT_EQ(stretches(), c.stretches);
        EXPECT_EQ(updatePositions(), c.updates);
        EXPECT_EQ(module->blockPosition, c.finalPosition);
        // Every sample written exactly by its stretch, nothing outside the block.
        std::vector<float> expected(kBlock, kSentinel);
        for (std::size_t s = 0; s < c.stretches.size(); ++s) {
            for (int32_t i = 0; i < c.stretches[s].second; ++i)
                expected[c.stretches[s].first + i] = static_cast<float>(s + 1);
        }
        EXPECT_EQ(output, expected);
    }
}

TEST_F(BlockLoop, WhichEventsCallOnPinsUpdated) {
    start();
    struct Case {
        const char* name;
        int32_t type;
        int32_t pinId;
        int updates;
    };
    const Case cases[] = {
        {"pin value", gmpi::kEventPinValue, 0, 1},
        {"other pin event", gmpi::kEventPinOther, 0, 0},
        {"value for unknown pin", gmpi::kEventPinValue, 9, 1},
        {"unknown type", 99, 0, 0},
        {"streaming off", gmpi::kEventStreamingOff, 1, 1}, // last: the module may sleep after it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EventList events;
        events.other(20, c.type, c.pinId);
        block(events);
        EXPECT_EQ(module->updateCount, c.updates);
        // Every event type divides the block at its timestamp.
        EXPECT_EQ(stretches(), (std::vector<std::pair<int32_t, int32_t>>{{0, 20}, {20, 44}}));
    }
}

TEST_F(BlockLoop, BeforeTheStartEventTheModuleSleepsAtOnce) {
    block(EventList());
    EXPECT_EQ(host.sleepRequests, 1);
    EXPECT_EQ(module->stretchCount, 0);
    EXPECT_EQ(output, layout({}));
}

// The output turns static when the input does: the host's block size (100 here) becomes the countdown.
class SleepCountdown : public BlockLoop {
protected:
    void SetUp() override {
        host.blockSize = 100;
        BlockLoop::SetUp();
        EventList events;
        events.start(0).streaming(0, 1, false);
        block(events);
        EXPECT_EQ(reports(), (std::vector<Report>{{0, 2, 1}, {0, 2, 0}}));
        EXPECT_EQ(host.calls(HostCall::kQueryBlockSize).size(), 1u);
        EXPECT_EQ(output, layout({{0, 64, 1}}));
        EXPECT_EQ(host.sleepRequests, 0);
        EXPECT_EQ(module->sleepCountdown, 36);
    }
};

TEST_F(SleepCountdown, SecondBlockProcessesTheRestThenAsksForSleep) {
    block(EventList());
    EXPECT_EQ(output, layout({{0, 36, 1}}));
    EXPECT_EQ(host.sleepRequests, 1);
}

TEST_F(SleepCountdown, EventInsideTheLastBlockReloadsTheCountdownForTheStretch) {
    EventList events;
    events.pinValue(40, 0, u"abc");
    block(events);
    // 36 left of the countdown, then 4 more to finish the stretch before the event; after the event
    // the countdown is spent and the module sleeps at once.
    EXPECT_EQ(stretches(), (std::vector<std::pair<int32_t, int32_t>>{{0, 36}, {36, 4}}));
    EXPECT_EQ(output, layout({{0, 36, 1}, {36, 40, 2}}));
    EXPECT_EQ(module->updateCount, 1);
    EXPECT_EQ(host.sleepRequests, 1);
}

TEST_F(SleepCountdown, StreamingInputWakesTheModule) {
    EventList events;
    events.streaming(10, 1, true);
    block(events);
    EXPECT_EQ(reports(), (std::vector<Report>{{10, 2, 1}}));
    EXPECT_EQ(output, layout({{0, 10, 1}, {10, 64, 2}}));
    EXPECT_EQ(host.sleepRequests, 0);
    EXPECT_EQ(module->streamingCount, 2);
}

TEST_F(BlockLoop, StreamingEventsAndFlags) {
    module->followInput = false;
    EventList first;
    first.start(0);
    block(first);
    EXPECT_EQ(module->streamingCount, 1);
    EXPECT_TRUE(module->inputPin.streamingChanged); // set until the first streaming event settled

    EventList on;
    on.streaming(0, 1, true).streaming(5, 1, true);
    block(on);
    EXPECT_EQ(module->streamingCount, 2); // counted once
    ASSERT_EQ(module->updateCount, 2);
    EXPECT_TRUE(module->updates[1].inputStreamingChanged); // a repeat still marks the change
    EXPECT_FALSE(module->inputPin.streamingChanged);

    EventList off;
    off.streaming(0, 1, false).streaming(0, 1, false);
    block(off);
    EXPECT_EQ(module->streamingCount, 1);
}

TEST_F(BlockLoop, OutputStreamingReports) {
    module->followInput = false;
    EventList first;
    first.start(0);
    block(first);
    host.clearLog();
    module->outputPin.setStreaming(false);
    module->outputPin.setStreaming(false); // already static: reloads and reports again
    EXPECT_EQ(reports(), (std::vector<Report>{{0, 2, 0}, {0, 2, 0}}));
    EXPECT_EQ(host.calls(HostCall::kQueryBlockSize).size(), 2u);
    EXPECT_EQ(module->streamingCount, 0);
    EXPECT_EQ(module->sleepCountdown, kBlock);

    // The start event reports streaming again although the module made the output static.
    EventList events;
    events.pinValue(7, 0, u"a").start(7);
    block(events);
    EXPECT_EQ(reports(), (std::vector<Report>{{7, 2, 1}}));
    EXPECT_EQ(module->streamingCount, 1);
}

TEST_F(BlockLoop, TextValues) {
    const char16_t chars[] = u"abcdefgh";
    struct Case {
        const char* name;
        uint32_t byteSize;
        bool inlineData;
        PinText expected;
    };
    const Case cases[] = {
        {"3 characters inline", 6, true, u"abc"},
        {"empty", 0, true, u""},
        {"odd byte dropped", 7, false, u"abc"},
        {"pointed", 16, false, u"abcdefgh"},
        {"too long for inline: the 4 held", 16, true, u"abcd"},
        {"huge size inline: the 4 held", 0xFFFFFFFFu, true, u"abcd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        module->textPin.value = u"old";
        EventList events;
        events.pinBytes(3, 0, c.byteSize, chars, c.inlineData);
        block(events);
        ASSERT_EQ(module->updateCount, 1);
        EXPECT_TRUE(module->updates[0].textUpdated);
        EXPECT_EQ(module->textPin.value, c.expected);
        EXPECT_FALSE(module->textPin.isUpdated());
    }
}

TEST_F(BlockLoop, AnExceptionInModuleCodeEndsAtTheTableAsFailed) {
    start();
    module->throwOnUpdate = true;
    EventList events;
    events.pinValue(5, 0, u"abc");
    for (void* face : {plugin, plugin2}) {
        output.assign(kBlock, kSentinel);
        module->clearRecords();
        // Both faces' processBlock come back with a result instead of unwinding into the host.
        const int32_t result = face == plugin ? raw::plugin::processBlock(plugin, kBlock, events.head())
                                              : raw::plugin2::processBlock(plugin2, kBlock, events.head());
        EXPECT_EQ(result, gmpi::kResultFailed);
        EXPECT_EQ(output, layout({{0, 5, 1.0f}}));
    }
    module->throwOnUpdate = false;
    block(events);
    EXPECT_EQ(output, layout({{0, 5, 1.0f}, {5, kBlock, 2.0f}}));
}

TEST_F(BlockLoop, ZeroCharactersInsideTheTextStay) {
    const char16_t chars[] = {u'a', 0, u'b'};
    EventList events;
    events.pinBytes(0, 0, 6, chars, false);
    block(events);
    EXPECT_EQ(module->textPin.value, PinText(chars, 3));
}

TEST_F(BlockLoop, UnknownPinBufferIsRefused) {
    float other[kBlock];
    EXPECT_EQ(raw::plugin2::assignPinBuffer(plugin2, 3, other), gmpi::kResultFailed);
    EXPECT_EQ(raw::plugin2::assignPinBuffer(plugin2, 2, other), gmpi::kResultOk);
    EXPECT_EQ(module->outputPin.buffer, other);
    EXPECT_EQ(raw::plugin::assignPinBuffer(plugin, 0, other), gmpi::kResultOk); // control pin ignores it
}

TEST_F(BlockLoop, BothFacesProcessTheSameBlockLoop) {
    start();
    output.assign(kBlock, kSentinel);
    module->clearRecords();
    EventList events;
    events.pinValue(16, 0, u"z");
    raw::plugin2::processBlock(plugin2, kBlock, events.head());
    EXPECT_EQ(output, layout({{0, 16, 1}, {16, 64, 2}}));
    EXPECT_EQ(module->textPin.value, u"z");
}

TEST_F(BlockLoop, SetProcessFunctionKeepsTheWrapperInFront) {
    // Not started: the wrapper is active, and stays so when the module installs its function again.
    EXPECT_EQ(module->activeProcess, &MpBase::sleepAwareProcess);
    module->setProcessFunction(&ProbeModule::process);
    EXPECT_EQ(module->activeProcess, &MpBase::sleepAwareProcess);
    start();
    EXPECT_EQ(module->activeProcess, static_cast<MpBase::ProcessFunction>(&ProbeModule::process));
}

class DuplicatePin : public BlockLoop {
protected:
    void SetUp() override {
        duplicatePin = true;
        BlockLoop::SetUp();
    }
};

TEST_F(DuplicatePin, TheFirstPinKeepsTheNumber) {
    EventList events;
    events.start(0).pinValue(0, 0, u"ab");
    block(events);
    EXPECT_EQ(module->textPin.value, u"ab");
    EXPECT_TRUE(module->secondTextPin.value.empty());
    EXPECT_EQ(module->secondTextPin.id, 0); // registered, but without events
}

// ---- Interfaces and reference counting ----

TEST(PluginFaces, QueryInterfaceAndOneReferenceCount) {
    bool destroyed = false;
    SharedMemoryPool pool;
    ProcessingHost host(pool);
    auto* module = new ProbeModule(false, &destroyed);
    void* plugin = static_cast<gmpi::IMpPlugin*>(module);

    const gmpi::InterfaceId osUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    void* object = &host;
    EXPECT_EQ(raw::queryInterface(plugin, osUnknown, &object), gmpi::kResultUnsupported);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(raw::queryInterface(plugin, gmpi::kIidProcessingHost, &object), gmpi::kResultUnsupported);

    void* unknown = nullptr;
    void* primary = nullptr;
    void* second = nullptr;
    ASSERT_EQ(raw::queryInterface(plugin, gmpi::kIidUnknown, &unknown), gmpi::kResultOk);
    ASSERT_EQ(raw::queryInterface(plugin, gmpi::kIidPlugin, &primary), gmpi::kResultOk);
    ASSERT_EQ(raw::queryInterface(plugin, gmpi::kIidPlugin2, &second), gmpi::kResultOk);
    EXPECT_EQ(unknown, plugin);
    EXPECT_EQ(primary, plugin);
    EXPECT_NE(second, plugin);
    EXPECT_EQ(raw::addRef(second), 5);
    EXPECT_EQ(raw::release(plugin), 4);

    // The legacy face, as the factory finds it, hands the host over too.
    auto* legacy = dynamic_cast<IoldSchoolInitialisation*>(
        static_cast<gmpi::IMpUnknown*>(static_cast<gmpi::IMpPlugin*>(module)));
    ASSERT_NE(legacy, nullptr);
    EXPECT_EQ(legacy->attachHost(&host), gmpi::kResultOk);
    EXPECT_EQ(host.referenceCount(), 2);

    EXPECT_EQ(raw::release(second), 3);
    EXPECT_EQ(raw::release(primary), 2);
    EXPECT_EQ(raw::release(unknown), 1);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(raw::release(second), 0);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(host.referenceCount(), 1); // the module released the host it held
}

// A module may override either face's deliverMessage; a call through either face reaches it once.
class PrimaryMessages : public ProbeModule {
protected:
    int32_t primaryDeliverMessage(int32_t a, int32_t b, int32_t c) override {
        ++calls;
        return a + b + c;
    }

public:
    int calls = 0;
};

class SecondMessages : public ProbeModule {
protected:
    int32_t plugin2DeliverMessage(int32_t a, int32_t b, int32_t c) override {
        ++calls;
        return a * b * c;
    }

public:
    int calls = 0;
};

template <class Module> void expectMessages(int32_t expected) {
    auto* module = new Module();
    void* plugin = static_cast<gmpi::IMpPlugin*>(module);
    void* plugin2 = nullptr;
    ASSERT_EQ(raw::queryInterface(plugin, gmpi::kIidPlugin2, &plugin2), gmpi::kResultOk);
    EXPECT_EQ(raw::plugin::deliverMessage(plugin, 2, 3, 4), expected);
    EXPECT_EQ(raw::plugin2::deliverMessage(plugin2, 2, 3, 4), expected);
    EXPECT_FALSE(module->messageGuard);
    if constexpr (!std::is_same_v<Module, ProbeModule>) {
        EXPECT_EQ(module->calls, 2);
    }
    raw::release(plugin2);
    EXPECT_EQ(raw::release(plugin), 0);
}

TEST(PluginFaces, DeliverMessageThroughEitherFace) {
    expectMessages<ProbeModule>(0);
    expectMessages<PrimaryMessages>(9);
    expectMessages<SecondMessages>(24);
}

// ---- Without processing services ----

TEST(NullHost, NothingIsCalledThroughAMissingHost) {
    SharedMemoryPool pool;
    ProcessingHost host(pool);
    host.refuseProcessingHost = true;
    auto* module = new ProbeModule();
    void* plugin = static_cast<gmpi::IMpPlugin*>(module);
    void* plugin2 = nullptr;
    ASSERT_EQ(raw::queryInterface(plugin, gmpi::kIidPlugin2, &plugin2), gmpi::kResultOk);
    EXPECT_EQ(raw::plugin2::attachHost(plugin2, &host), gmpi::kResultUnsupported);
    EXPECT_EQ(module->host, nullptr);
    EXPECT_EQ(raw::plugin2::attachHost(plugin2, nullptr), gmpi::kResultFailed);
    raw::release(plugin2);
    EXPECT_EQ(raw::plugin::open(plugin), gmpi::kResultOk);

    std::vector<float> out(kBlock, kSentinel);
    raw::plugin::assignPinBuffer(plugin, 2, out.data());
    EventList first;
    first.start(0).streaming(10, 1, true).streaming(20, 1, false);
    raw::plugin::processBlock(plugin, kBlock, first.head()); // start, streaming reports, countdown
    module->textPin.sendInitialState();
    EventList none;
    raw::plugin::processBlock(plugin, kBlock, none.head()); // the sleep request
    raw::plugin::processBlock(plugin, kBlock, none.head());
    EXPECT_EQ(module->streamingCount, 0);
    // Static again at 20 without a host to give a block size: the countdown is spent, the rest is idle.
    EXPECT_EQ(out, layout({{0, 10, 1}, {10, 20, 2}}));
    EXPECT_EQ(host.log.size(), 1u); // only the refused queryInterface
    EXPECT_EQ(raw::release(plugin), 0);
}

TEST(NoBuffers, BlocksRunWithoutAssignedBuffers) {
    SharedMemoryPool pool;
    ProcessingHost host(pool);
    auto* module = new ProbeModule();
    void* plugin = static_cast<gmpi::IMpPlugin*>(module);
    static_cast<IoldSchoolInitialisation*>(module)->attachHost(&host);
    raw::plugin::open(plugin);
    EventList events;
    events.start(0).pinValue(5, 0, u"abcdef");
    EXPECT_EQ(raw::plugin::processBlock(plugin, kBlock, events.head()), gmpi::kResultOk);
    EXPECT_EQ(module->stretchCount, 2);
    EXPECT_EQ(raw::release(plugin), 0);
}

} // namespace
