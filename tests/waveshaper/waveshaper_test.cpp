// The curve-points waveshaper as a host sees it: created through the factory with the host stand-in,
// driven through the raw operation tables, its table read from the host's shared block.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "curve/curve_text.h"
#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "host/event_list.h"
#include "host/raw_calls.h"
#include "host/stand_in_processing_host.h"
#include "waveshaper/curve_waveshaper.h"
#include "waveshaper/table_layout.h"

namespace {

using namespace mphost;
using Report = std::tuple<int32_t, int32_t, int32_t>; // timestamp, pin, streaming

constexpr int32_t kBlock = 64;
constexpr float kSentinel = -1234.0f;

// The identity curve as the rules give it: entry i is the input sample i/512 - 0.5.
float identity(int i) {
    return static_cast<float>(i) / kTableStepsPerUnit - kTableOffset;
}

// One module instance with its own host object, sharing a memory pool with others.
struct Instance {
    Instance(SharedMemoryPool& pool, int32_t handle) : pool(pool), host(pool, handle, kBlock) {
        void* factory = MpFactory::instance();
        EXPECT_EQ(raw::createInstance(factory, kCurveWaveshaperId, kProcessingModule,
                                      static_cast<gmpi::IMpProcessingHost*>(&host), &plugin),
                  gmpi::kResultOk);
        EXPECT_EQ(raw::plugin::open(plugin), gmpi::kResultOk);
        raw::plugin::assignPinBuffer(plugin, kWaveshaperAudioInPin, input.data());
        raw::plugin::assignPinBuffer(plugin, kWaveshaperAudioOutPin, output.data());
    }
    ~Instance() { EXPECT_EQ(raw::release(plugin), 0); }

    void block(const EventList& events) {
        output.assign(kBlock, kSentinel);
        host.clearLog();
        raw::plugin::processBlock(plugin, kBlock, events.head());
    }
    void sendText(const PinText& text, int32_t timestamp = 0) {
        EventList events;
        events.pinValue(timestamp, kWaveshaperTextPin, text);
        block(events);
    }
    // The block as the host holds it.
    float* table() const {
        wchar_t name[kTableNameLength];
        formatTableName(static_cast<uint32_t>(host.instanceHandle), name);
        return static_cast<float*>(pool.find(name));
    }
    std::vector<Report> reports() const {
        std::vector<Report> result;
        for (const HostCall& call : host.calls(HostCall::kSendPinStreaming))
            result.emplace_back(call.timestamp, call.pinId, call.value);
        return result;
    }

    SharedMemoryPool& pool;
    ProcessingHost host;
    void* plugin = nullptr;
    std::vector<float> input = std::vector<float>(kBlock, 0.0f);
    std::vector<float> output = std::vector<float>(kBlock, kSentinel);
};

class WaveshaperTest : public ::testing::Test {
protected:
    Instance& make(int32_t handle = 0x1A2B) {
        instances.emplace_back(new Instance(pool, handle));
        return *instances.back();
    }
    SharedMemoryPool pool;
    std::vector<std::unique_ptr<Instance>> instances;
};

PinText pin(const std::string& ascii) {
    return PinText(ascii.begin(), ascii.end());
}

// The default text with point k replaced.
PinText defaultWith(int k, const std::string& point) {
    const std::string points[] = {"(-5.0,-5.0)", "(-4.0,-4.0)", "(-3.0,-3.0)", "(-2.0,-2.0)",
                                  "(-1.0,-1.0)", "(0.0,0.0)",   "(1.0,1.0)",   "(2.0,2.0)",
                                  "(3.0,3.0)",   "(4.0,4.0)",   "(5.0,5.0)"};
    std::string text;
    for (int i = 0; i < kCurvePointCount; ++i)
        text += i == k ? point : points[i];
    return pin(text);
}

TEST_F(WaveshaperTest, OpenNamesTheTableAfterTheHandle) {
    struct Case {
        int32_t handle;
        const wchar_t* name;
    };
    const Case cases[] = {
        {0, L"DV waveshaper3 0 curve"},
        {0x1A2B, L"DV waveshaper3 1a2b curve"},
        {-1, L"DV waveshaper3 ffffffff curve"},
    };
    for (const Case& c : cases) {
        Instance& module = make(c.handle);
        const auto calls = module.host.calls(HostCall::kObtainSharedMemory);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].name, c.name);
        EXPECT_EQ(calls[0].value, kTableBytes);
        EXPECT_EQ(calls[0].sampleRate, -1.0f);
        EXPECT_NE(module.table(), nullptr);
    }
}

TEST_F(WaveshaperTest, DefaultCurveIsTheIdentity) {
    pool.fill = 0x7F; // a fresh block full of a pattern no entry holds
    Instance& module = make();
    const PinText texts[] = {u"", kDefaultCurveText};
    for (const PinText& text : texts) {
        std::memset(module.table(), 0x7F, kTableBytes);
        module.sendText(text);
        const float* table = module.table();
        for (int i = 0; i < kTableEntries; ++i)
            ASSERT_EQ(table[i], identity(i)) << "entry " << i;
        EXPECT_EQ(table[0], -0.5f);
        EXPECT_EQ(table[256], 0.0f);
        EXPECT_EQ(table[kLastTableEntry], 0.5f);
        unsigned char guard[4];
        std::memcpy(guard, &table[kTableEntries], 4);
        EXPECT_EQ(guard[0], 0x7F); // the 514th float is never touched
        EXPECT_EQ(guard[3], 0x7F);
    }
}

TEST_F(WaveshaperTest, CurveTexts) {
    const PinText identityText = kDefaultCurveText;
    const float unchanged = 42.0f;
    struct Case {
        const char* name;
        PinText text;
        // expected entry i; unchanged means the table kept its earlier contents
        float (*entry)(int i);
    };
    const Case cases[] = {
        {"missing (", pin("-5.0,-5.0)") + identityText.substr(11), identity},
        {"white space",
         pin("( -5.0 , -5.0 )(-4.0,-4.0)  (-3.0,-3.0)(-2.0,-2.0)(-1.0,-1.0)(0.0,0.0)"
             "(1.0,1.0)(2.0,2.0)(3.0,3.0)(4.0,4.0)( 5.0 ,5.0 )"),
         identity},
        {"text between points", pin("a") + identityText.substr(0, 44) + pin(" b ") + identityText.substr(44),
         identity},
        {"12 points", identityText + pin("(5.0,-5.0)"), identity},
        {"15 points", identityText + pin("(1,1)(2,-2)(3,3)(4,-4)"), identity},
        {"11 points then no )", identityText + pin("(9,9"), identity},
        {"leading )", pin(")") + identityText, [](int) { return 42.0f; }},
        {"last ) removed", identityText.substr(0, identityText.size() - 1), [](int) { return 42.0f; }},
        {"no ) at all", pin("(1,2"), [](int) { return 42.0f; }},
        // Fewer than 11 points: the last point read holds from its x up to +5 V.
        {"one point", pin("(0,2)"), [](int) { return 0.2f; }},
        {"two points", pin("(-5,-5)(0,0)"), [](int i) { return i < 256 ? identity(i) : 0.0f; }},
        // Points 9 and 10 at the same x: point 10's y from that x (index 460) on.
        {"zero-width last segment", defaultWith(10, "(4.0,5.0)"),
         [](int i) { return i < 460 ? identity(i) : 0.5f; }},
        // Entries that would not be finite are stored as 0.
        {"infinite y", defaultWith(10, "(5.0,1e39)"), [](int i) { return i < 460 ? identity(i) : 0.0f; }},
        {"inf text", defaultWith(10, "(5.0,inf)"), [](int i) { return i < 460 ? identity(i) : 0.0f; }},
        {"nan x", defaultWith(10, "(nan,5.0)"), [](int i) { return i < 460 ? identity(i) : 0.0f; }},
        // A point at +inf x ends its segment at 512; the last segment still gives entry 512.
        // A point at a huge or infinite x: its segment holds point 4's y (-1 V) up to entry 511 without
        // converting the position to an integer; the last segment still gives entry 512.
        {"infinite inner x", defaultWith(5, "(inf,0.0)"),
         [](int i) { return i < 204   ? identity(i)
                            : i < 512 ? -0.1f
                                      : 0.5f; }},
        {"huge inner x", defaultWith(5, "(1e30,0.0)"),
         [](int i) { return i < 204   ? identity(i)
                            : i < 512 ? -0.1f
                                      : 0.5f; }},
    };
    Instance& module = make();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        float* table = module.table();
        for (int i = 0; i < kTableEntries; ++i)
            table[i] = unchanged;
        module.sendText(c.text);
        for (int i = 0; i < kTableEntries; ++i)
            ASSERT_EQ(table[i], c.entry(i)) << "entry " << i;
    }
}

TEST_F(WaveshaperTest, FirstPointXIsNotUsed) {
    // Point 0 at -3 V: the first segment still starts at entry 0 with point 0's y, towards point 1.
    Instance& module = make();
    module.sendText(defaultWith(0, "(-3.0,-3.0)"));
    const float* table = module.table();
    EXPECT_EQ(table[0], -0.3f);
    EXPECT_NEAR(table[50], -0.3 - 50.0 / 512.0, 1e-7); // falling towards (-4 V, -4 V) at entry 51.2
    for (int i = 51; i < kTableEntries; ++i)
        ASSERT_EQ(table[i], identity(i)) << "entry " << i;
}

// Shaping with a table whose entry i is i: the output shows which entries were used.
TEST_F(WaveshaperTest, ShapingEdgeInputs) {
    Instance& module = make();
    float* table = module.table();
    for (int i = 0; i < kTableEntries; ++i)
        table[i] = static_cast<float>(i);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float input;
        float output;
    };
    const Case cases[] = {
        {-0.5f, 0.0f},
        {-0.5000001f, 0.0f},
        {-3.0f, 0.0f},
        {-1e30f, 0.0f},
        {-FLT_MAX, 0.0f},
        {-inf, 0.0f},
        {std::copysign(nan, -1.0f), 0.0f},
        {0.0f, 256.0f},
        {-0.0f, 256.0f},
        {FLT_TRUE_MIN, 256.0f},
        {0.25f, 384.0f},
        {-0.25f, 128.0f},
        {0.498046875f, 511.0f},
        {0.4990234375f, 511.5f},
        {0.5f, 512.0f},
        {0.5000001f, 512.0f},
        {3.0f, 512.0f},
        {1e30f, 512.0f},
        {FLT_MAX, 512.0f},
        {inf, 512.0f},
        {std::copysign(nan, 1.0f), 512.0f},
    };
    const int count = static_cast<int>(sizeof(cases) / sizeof(cases[0]));
    ASSERT_LE(count, kBlock);
    EventList start;
    start.start(0).streaming(0, kWaveshaperAudioInPin, true);
    module.block(start);
    for (int n = 0; n < count; ++n)
        module.input[n] = cases[n].input;
    module.block(EventList());
    for (int n = 0; n < count; ++n)
        EXPECT_EQ(module.output[n], cases[n].output) << "input " << cases[n].input;

    // The same buffer for both pins: each sample is read before it is overwritten.
    std::vector<float> shared(module.input);
    raw::plugin::assignPinBuffer(module.plugin, kWaveshaperAudioInPin, shared.data());
    raw::plugin::assignPinBuffer(module.plugin, kWaveshaperAudioOutPin, shared.data());
    raw::plugin::processBlock(module.plugin, kBlock, nullptr);
    for (int n = 0; n < count; ++n)
        EXPECT_EQ(shared[n], cases[n].output) << "input " << cases[n].input;
}

TEST_F(WaveshaperTest, EqualHandlesShareOneTable) {
    Instance& a = make(7);
    Instance& b = make(7);
    Instance& other = make(8);
    EXPECT_EQ(a.table(), b.table());
    EXPECT_NE(a.table(), other.table());
    b.sendText(u"(0,1)");
    // a shapes through b's curve: a constant 1 V (0.1).
    EventList start;
    start.start(0).streaming(0, kWaveshaperAudioInPin, true);
    a.block(start);
    for (float sample : a.output)
        ASSERT_EQ(sample, 0.1f);
}

TEST_F(WaveshaperTest, NewTextWithStaticInputRefreshesTheOutput) {
    Instance& module = make();
    EventList first;
    first.start(0).pinValue(0, kWaveshaperTextPin, u"");
    module.block(first);
    // Started, then made static twice at 0: once for the new table, once following the static input.
    EXPECT_EQ(module.reports(), (std::vector<Report>{{0, 2, 1}, {0, 2, 0}, {0, 2, 0}}));
    // One host block of the new (identity) table's output, then the countdown is spent.
    EXPECT_EQ(module.output, std::vector<float>(kBlock, 0.0f));
    EXPECT_EQ(module.host.sleepRequests, 1);
    module.block(EventList());
    EXPECT_EQ(module.output, std::vector<float>(kBlock, kSentinel));
    EXPECT_EQ(module.host.sleepRequests, 2);

    // Woken by a text at 20: the report comes at the block position, and one more host block follows.
    // The input never streamed, so its change flag is still set and the output is declared static twice.
    for (float& sample : module.input)
        sample = 0.25f;
    module.sendText(u"(0,3)", 20);
    EXPECT_EQ(module.reports(), (std::vector<Report>{{20, 2, 0}, {20, 2, 0}}));
    EXPECT_EQ(module.host.calls(HostCall::kQueryBlockSize).size(), 2u);
    for (int n = 0; n < kBlock; ++n)
        ASSERT_EQ(module.output[n], n < 20 ? 0.25f : 0.3f) << n;
    EXPECT_EQ(module.host.sleepRequests, 2);
    module.block(EventList());
    for (int n = 0; n < kBlock; ++n)
        ASSERT_EQ(module.output[n], n < 20 ? 0.3f : kSentinel) << n;
    EXPECT_EQ(module.host.sleepRequests, 3);
}

TEST_F(WaveshaperTest, StreamingInputKeepsTheOutputStreaming) {
    Instance& module = make();
    EventList first;
    first.start(0).streaming(0, kWaveshaperAudioInPin, true).pinValue(0, kWaveshaperTextPin, u"");
    module.block(first);
    EXPECT_EQ(module.reports(), (std::vector<Report>{{0, 2, 1}, {0, 2, 1}}));
    module.sendText(u"(0,1)", 5);
    EXPECT_TRUE(module.reports().empty());
    EventList off;
    off.streaming(9, kWaveshaperAudioInPin, false);
    module.block(off);
    EXPECT_EQ(module.reports(), (std::vector<Report>{{9, 2, 0}}));
}

TEST_F(WaveshaperTest, WithoutATableBlockTheOutputIsSilent) {
    SharedMemoryPool localPool;
    ProcessingHost host(localPool);
    host.refuseSharedMemory = true;
    void* plugin = nullptr;
    ASSERT_EQ(raw::createInstance(MpFactory::instance(), kCurveWaveshaperId, kProcessingModule,
                                  static_cast<gmpi::IMpProcessingHost*>(&host), &plugin),
              gmpi::kResultOk);
    EXPECT_EQ(raw::plugin::open(plugin), gmpi::kResultOk);
    std::vector<float> in(kBlock, 0.3f), out(kBlock, kSentinel);
    raw::plugin::assignPinBuffer(plugin, kWaveshaperAudioInPin, in.data());
    raw::plugin::assignPinBuffer(plugin, kWaveshaperAudioOutPin, out.data());
    EventList events;
    events.start(0).streaming(0, kWaveshaperAudioInPin, true).pinValue(0, kWaveshaperTextPin, u"");
    raw::plugin::processBlock(plugin, kBlock, events.head());
    EXPECT_EQ(out, std::vector<float>(kBlock, 0.0f));
    EXPECT_EQ(raw::release(plugin), 0);
}

TEST_F(WaveshaperTest, OpenWithoutHostFails) {
    void* plugin = nullptr;
    ASSERT_EQ(raw::createInstance2(MpFactory::instance(), kCurveWaveshaperId, kProcessingModule, &plugin),
              gmpi::kResultOk);
    EXPECT_EQ(raw::plugin::open(plugin), gmpi::kResultFailed);
    // Blocks still run, without a table and without buffers.
    EventList events;
    events.start(0).pinValue(0, kWaveshaperTextPin, u"");
    EXPECT_EQ(raw::plugin::processBlock(plugin, kBlock, events.head()), gmpi::kResultOk);
    EXPECT_EQ(raw::release(plugin), 0);
}

TEST_F(WaveshaperTest, BlocksWithoutBuffersWriteNothing) {
    SharedMemoryPool localPool;
    ProcessingHost host(localPool);
    void* plugin = nullptr;
    ASSERT_EQ(raw::createInstance(MpFactory::instance(), kCurveWaveshaperId, kProcessingModule,
                                  static_cast<gmpi::IMpProcessingHost*>(&host), &plugin),
              gmpi::kResultOk);
    raw::plugin::open(plugin);
    EventList events;
    events.start(0).streaming(0, kWaveshaperAudioInPin, true).pinValue(10, kWaveshaperTextPin, u"");
    EXPECT_EQ(raw::plugin::processBlock(plugin, kBlock, events.head()), gmpi::kResultOk);
    std::vector<float> out(kBlock, kSentinel);
    raw::plugin::assignPinBuffer(plugin, kWaveshaperAudioOutPin,
                                 out.data()); // output only: still nothing to read
    raw::plugin::processBlock(plugin, kBlock, nullptr);
    EXPECT_EQ(out, std::vector<float>(kBlock, kSentinel));
    EXPECT_EQ(raw::release(plugin), 0);
}

} // namespace
