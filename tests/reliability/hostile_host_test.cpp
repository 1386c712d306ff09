// Hosts that do not keep the contract: no host, a host without processing services or shared memory,
// buffers never assigned, a second open, releases through every face, events for pins that do not
// exist. The library must neither crash nor write where it was not given room.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "factory/module_ids.h"
#include "host/event_list.h"
#include "reliability/rig.h"

namespace {

using mphost::EventList;
using mphost::SharedMemoryPool;
namespace raw = mphost::raw;

const PinText kHalfCurve = u"(-5.0,-2.5)(-4.0,-2.0)(-3.0,-1.5)(-2.0,-1.0)(-1.0,-0.5)(0.0,0.0)"
                           u"(1.0,0.5)(2.0,1.0)(3.0,1.5)(4.0,2.0)(5.0,2.5)";

struct ModuleKind {
    const wchar_t* id;
    PinText text; // a valid text for the module: output = input / 2 between -5 V and +5 V
};

std::vector<ModuleKind> moduleKinds() {
    return {{kCurveWaveshaperId, kHalfCurve}, {kFormulaWaveshaperId, u"x/2"}};
}

// Creates the module through the factory without any host; null when not registered in this build.
void* createBare(const wchar_t* id) {
    void* object = nullptr;
    if (MpFactory::instance()->createInstance2(id, kProcessingModule, &object) != gmpi::kResultOk)
        return nullptr;
    return object;
}

class HostileProcessingHost : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        kind = moduleKinds()[GetParam()];
        module = createBare(kind.id);
        if (module == nullptr)
            GTEST_SKIP() << "module not registered in this build";
        // The IMpPlugin2 face, for attachHost; its reference is given back at once.
        ASSERT_EQ(raw::queryInterface(module, gmpi::kIidPlugin2, &module2), gmpi::kResultOk);
        raw::release(module2);
        for (std::size_t i = 0; i < in.size(); ++i)
            in.data()[i] = static_cast<float>(i) / 64.0f - 0.5f;
        for (std::size_t i = 0; i < out.size(); ++i)
            out.data()[i] = kUntouched;
    }
    void TearDown() override {
        if (module != nullptr) {
            EXPECT_EQ(raw::release(module), 0);
        }
        EXPECT_TRUE(in.guardsIntact());
        EXPECT_TRUE(out.guardsIntact());
    }

    // Start event and the module's text at 0, then the rest of a 64-sample block.
    void processStartBlock() {
        EventList events;
        events.start(0).pinValue(0, kWaveshaperTextPin, kind.text);
        raw::plugin::processBlock(module, 64, events.head());
    }
    bool outputUntouched() const {
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (out.data()[i] != kUntouched)
                return false;
        }
        return true;
    }

    static constexpr float kUntouched = 123.0f;
    ModuleKind kind;
    void* module = nullptr;  // the primary face
    void* module2 = nullptr; // the IMpPlugin2 face
    SharedMemoryPool pool;
    mphost::ProcessingHost host{pool, 7}; // outlives the module: TearDown releases it
    rig::GuardedBuffer in{64};
    rig::GuardedBuffer out{64};
};

TEST_P(HostileProcessingHost, NullHostIsRefusedAndTheModuleStillProcessesSafely) {
    EXPECT_NE(raw::plugin2::attachHost(module2, nullptr), gmpi::kResultOk);
    raw::plugin::open(module);
    raw::plugin::assignPinBuffer(module, kWaveshaperAudioInPin, in.data());
    raw::plugin::assignPinBuffer(module, kWaveshaperAudioOutPin, out.data());
    processStartBlock();
    raw::plugin::processBlock(module, 64, nullptr);
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_TRUE(std::isfinite(out.data()[i])) << i;
}

TEST_P(HostileProcessingHost, HostWithoutProcessingServicesKeepsNoReference) {
    host.instanceHandle = 7;
    host.refuseProcessingHost = true;
    EXPECT_NE(raw::plugin2::attachHost(module2, static_cast<gmpi::IMpUnknown*>(&host)), gmpi::kResultOk);
    raw::plugin::open(module);
    raw::plugin::assignPinBuffer(module, kWaveshaperAudioInPin, in.data());
    raw::plugin::assignPinBuffer(module, kWaveshaperAudioOutPin, out.data());
    processStartBlock();
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_TRUE(std::isfinite(out.data()[i])) << i;
    EXPECT_EQ(raw::release(module), 0);
    module = nullptr;
    EXPECT_EQ(host.referenceCount(), 1);
}

TEST_P(HostileProcessingHost, RefusedSharedMemoryGivesSilenceNotACrash) {
    host.instanceHandle = 7;
    host.refuseSharedMemory = true;
    raw::plugin2::attachHost(module2, static_cast<gmpi::IMpUnknown*>(&host));
    raw::plugin::open(module);
    raw::plugin::assignPinBuffer(module, kWaveshaperAudioInPin, in.data());
    raw::plugin::assignPinBuffer(module, kWaveshaperAudioOutPin, out.data());
    processStartBlock();
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_TRUE(out.data()[i] == 0.0f || out.data()[i] == kUntouched) << i;
    EXPECT_EQ(pool.blockCount(), 0u);
}

TEST_P(HostileProcessingHost, MissingBuffersAreNeverWritten) {
    host.instanceHandle = 7;
    raw::plugin2::attachHost(module2, static_cast<gmpi::IMpUnknown*>(&host));
    raw::plugin::open(module);
    // No buffer at all.
    processStartBlock();
    // Output only: no input to shape, so the output stays as it was.
    raw::plugin::assignPinBuffer(module, kWaveshaperAudioOutPin, out.data());
    raw::plugin::processBlock(module, 64, nullptr);
    EXPECT_TRUE(outputUntouched());
    // Input only (the output withdrawn): the input is not written either.
    const std::vector<float> before(in.data(), in.data() + in.size());
    raw::plugin::assignPinBuffer(module, kWaveshaperAudioOutPin, nullptr);
    raw::plugin::assignPinBuffer(module, kWaveshaperAudioInPin, in.data());
    raw::plugin::processBlock(module, 64, nullptr);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), in.data()));
    EXPECT_TRUE(outputUntouched());
}

TEST_P(HostileProcessingHost, SecondOpenKeepsTheSameTable) {
    host.instanceHandle = 0x2a;
    raw::plugin2::attachHost(module2, static_cast<gmpi::IMpUnknown*>(&host));
    EXPECT_EQ(raw::plugin::open(module), gmpi::kResultOk);
    raw::plugin::assignPinBuffer(module, kWaveshaperAudioInPin, in.data());
    raw::plugin::assignPinBuffer(module, kWaveshaperAudioOutPin, out.data());
    processStartBlock();
    EXPECT_EQ(raw::plugin2::open(module2), gmpi::kResultOk);
    EXPECT_EQ(pool.blockCount(), 1u);
    raw::plugin::processBlock(module, 64, nullptr);
    // The half curve: input -0.5 + i/64 gives half of it (entries exact to float rounding).
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_NEAR(out.data()[i], in.data()[i] * 0.5f, 1e-6f) << i;
}

TEST_P(HostileProcessingHost, ReleaseThroughEveryFaceEndsAtZero) {
    host.instanceHandle = 1;
    raw::plugin2::attachHost(module2, static_cast<gmpi::IMpUnknown*>(&host));
    void* faces[3] = {};
    ASSERT_EQ(raw::queryInterface(module, gmpi::kIidPlugin2, &faces[0]), gmpi::kResultOk);
    ASSERT_EQ(raw::queryInterface(module, gmpi::kIidPlugin, &faces[1]), gmpi::kResultOk);
    ASSERT_EQ(raw::queryInterface(faces[0], gmpi::kIidUnknown, &faces[2]), gmpi::kResultOk);
    EXPECT_EQ(raw::addRef(faces[0]), 5);
    // Five references, released through the three faces in turn.
    EXPECT_EQ(raw::release(faces[2]), 4);
    EXPECT_EQ(raw::release(faces[0]), 3);
    EXPECT_EQ(raw::release(faces[1]), 2);
    EXPECT_EQ(raw::release(faces[0]), 1);
    EXPECT_EQ(host.referenceCount(), 2); // the module still holds the host
    EXPECT_EQ(raw::release(module), 0);
    module = nullptr;
    EXPECT_EQ(host.referenceCount(), 1);
}

TEST_P(HostileProcessingHost, EventsForUnregisteredPinsAreSkipped) {
    host.instanceHandle = 3;
    raw::plugin2::attachHost(module2, static_cast<gmpi::IMpUnknown*>(&host));
    raw::plugin::open(module);
    raw::plugin::assignPinBuffer(module, kWaveshaperAudioInPin, in.data());
    raw::plugin::assignPinBuffer(module, kWaveshaperAudioOutPin, out.data());
    EXPECT_EQ(raw::plugin::assignPinBuffer(module, 3, out.data()), gmpi::kResultFailed);
    EXPECT_EQ(raw::plugin::assignPinBuffer(module, -1, out.data()), gmpi::kResultFailed);
    processStartBlock();
    const float* before = static_cast<const float*>(pool.find(rig::tableName(3)));
    ASSERT_NE(before, nullptr);
    const std::vector<float> table(before, before + kTableEntries);

    const PinText garbage = u"(((,,,)))garbage";
    EventList events;
    for (int32_t pin : {-1, 3, 4, 1000, INT32_MIN, INT32_MAX}) {
        events.pinValue(8, pin, garbage).streaming(8, pin, true).other(8, gmpi::kEventPinOther, pin);
        events.pinBytes(16, pin, 0xFFFFFFFFu, nullptr, true); // a byte size far beyond the record
    }
    raw::plugin::processBlock(module, 64, events.head());
    const float* now = static_cast<float*>(pool.find(rig::tableName(3)));
    EXPECT_TRUE(std::equal(table.begin(), table.end(), now));
    EXPECT_TRUE(rig::blockTailIntact(now, pool.fill));
}

INSTANTIATE_TEST_SUITE_P(Modules, HostileProcessingHost, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 0 ? std::string("CurvePoints") : std::string("Formula");
                         });

TEST(HostileProcessingHostFactory, CreateInstanceWithANullHost) {
    for (const ModuleKind& kind : moduleKinds()) {
        void* object = nullptr;
        const int32_t result =
            MpFactory::instance()->createInstance(kind.id, kProcessingModule, nullptr, &object);
        if (result == gmpi::kResultUnsupported)
            continue; // not registered in this build
        if (object != nullptr) {
            EXPECT_EQ(raw::release(object), 0);
        }
    }
}

} // namespace
