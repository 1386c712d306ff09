// Every processing module as a plugin validator runs it: block sizes from 1 to 16384 and random ones,
// input random, silent, full-scale, subnormal and non-finite, buffers in place and separate, text
// changes every block, every 10 and every 1000 samples, and many instances created and released in
// turn. No output sample may be non-finite or subnormal unless the table itself holds such an entry;
// no buffer, table or record may be written outside its room; blocks without pin values allocate
// nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "factory/module_ids.h"
#include "host/event_list.h"
#include "reliability/rig.h"
#include "support/alloc_counter.h"

namespace {

using mphost::EventList;

const PinText kIdentityCurve = u"(-5.0,-5.0)(-4.0,-4.0)(-3.0,-3.0)(-2.0,-2.0)(-1.0,-1.0)(0.0,0.0)"
                               u"(1.0,1.0)(2.0,2.0)(3.0,3.0)(4.0,4.0)(5.0,5.0)";

// Texts whose tables are finite and free of subnormal entries: valid ones and garbage that leaves the
// table alone or zeroes it.
const std::vector<PinText>& goodCurveTexts() {
    static const std::vector<PinText> texts = {
        kIdentityCurve,
        u"(-5.0,5.0)(-4.0,4.0)(-3.0,3.0)(-2.0,2.0)(-1.0,1.0)(0.0,0.0)(1.0,-1.0)(2.0,-2.0)(3.0,-3.0)(4.0,-4.0)"
        u"(5.0,-5.0)",
        u"(-5.0,0.0)(-4.0,5.0)(-3.0,-5.0)(-2.0,5.0)(-1.0,-5.0)(0.0,5.0)(1.0,-5.0)(2.0,5.0)(3.0,-5.0)(4.0,5.0)"
        u"(5.0,0.0)",
        u"(-3.0,-1.0)(-4.5,2.0)(0.0,0.0)(0.0,3.0)(9.0,1.0)(-9.0,2.0)(1.0,1.0)(2.0,2.0)(3.0,3.0)(4.5,4.0)(4.0,"
        u"5.0)",
        u"(-5.0,-5.0)(0.0,0.0)(5.0,5.0)",                    // three points
        kIdentityCurve.substr(0, kIdentityCurve.size() - 1), // last ")" missing: unchanged
        u"(a,b)(c,d)(,)(,)(,)(,)(,)(,)(,)(,)(,)",            // unreadable numbers read as 0
        u"",
        u"))))))",
        u"\u00e9(\u4e00,1)",
    };
    return texts;
}

const std::vector<PinText>& goodFormulaTexts() {
    static const std::vector<PinText> texts = {
        u"x",   u"x/2", u"tanh(x)*5", u"sin(x*pi)*5", u"1/x",        u"x^3/25",          u"a=x*2",
        u"x+*", u"",    u"((x)",      u"2*X^2/5",     u"abs(x)-2.5", PinText(600, u'x'), // over-long:
                                                                                         // refused, zeros
    };
    return texts;
}

// Texts whose table may, by the module's rules, hold non-finite or subnormal entries.
const std::vector<PinText>& extremeCurveTexts() {
    static const std::vector<PinText> texts = {
        u"(-5.0,-5.0)(-4.0,-4.0)(-3.0,-3.0)(-2.0,-2.0)(-1.0,-1.0)(0.0,0.0)(1.0,1.0)(2.0,2.0)(3.0,3.0)(4.0,4."
        u"0)"
        u"(4.0,5.0)", // points 9 and 10 at one x
        u"(-5,1e39)(-4,-1e39)(-3,nan)(-2,inf)(-1,-inf)(0,1e-45)(1,1e38)(2,-1e38)(3,0)(4,1e30)(5,-1e30)",
        u"(nan,nan)(nan,nan)(nan,nan)(nan,nan)(nan,nan)(nan,nan)(nan,nan)(nan,nan)(nan,nan)(nan,nan)(nan,"
        u"nan)",
    };
    return texts;
}

const std::vector<PinText>& extremeFormulaTexts() {
    static const std::vector<PinText> texts = {u"1e999*x",    u"log(x)",    u"x*1e-39",
                                               u"exp(x*100)", u"1e308*x*x", u"0/0"};
    return texts;
}

struct ModuleCase {
    const char* name;
    const wchar_t* id;
    const std::vector<PinText>& (*good)();
    const std::vector<PinText>& (*extreme)();
};

const ModuleCase kModules[] = {
    {"CurvePoints", kCurveWaveshaperId, &goodCurveTexts, &extremeCurveTexts},
    {"Formula", kFormulaWaveshaperId, &goodFormulaTexts, &extremeFormulaTexts},
};

enum SampleKind { kRandom, kSilent, kFullScale, kSubnormal, kNonFinite, kKindCount };

float sampleOf(SampleKind kind, rig::Random& random) {
    switch (kind) {
    case kRandom:
        return random.unit() * 0.75f;
    case kSilent:
        return random.chance(2) ? 0.0f : -0.0f;
    case kFullScale: {
        static const float edges[] = {1.0f, -1.0f, 0.5f, -0.5f, 0.4990234375f, -0.4990234375f};
        return edges[random.below(6)];
    }
    case kSubnormal: {
        const uint32_t bits = 1u + random.below(0x007FFFFFu) + (random.chance(2) ? 0x80000000u : 0u);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    default: {
        static const uint32_t patterns[] = {0x7F800000u, 0xFF800000u, 0x7FC00000u,
                                            0xFFC00000u, 0x7F800001u, 0xFFFFFFFFu};
        const uint32_t bits = patterns[random.below(6)];
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    }
}

bool tableHasExtremes(const float* table) {
    for (int i = 0; i < kTableEntries; ++i) {
        if (!std::isfinite(table[i]) || rig::isSubnormal(table[i]))
            return true;
    }
    return false;
}

// The verdict on one output sample; table is the block's last table.
bool saneSample(const float* table, bool extremesAllowed, float sample) {
    if (std::isfinite(sample) && !rig::isSubnormal(sample))
        return true;
    return extremesAllowed || rig::isTableEntry(table, sample);
}

struct RunConfig {
    const ModuleCase& module;
    int32_t blockSize; // 0: random sizes
    bool inPlace;
    int32_t textEvery; // 0: every block, else every so many samples
    bool extremeTexts;
};

std::string describe(const RunConfig& run) {
    return std::string(run.module.name) + " block " +
           (run.blockSize == 0 ? "random" : std::to_string(run.blockSize)) +
           (run.inPlace ? " in place" : " separate") + " text every " +
           (run.textEvery == 0 ? std::string("block") : std::to_string(run.textEvery) + " samples") +
           (run.extremeTexts ? " extreme texts" : "");
}

// Runs one configuration; returns false (after reporting) when the module is not registered.
bool validate(const RunConfig& run, uint64_t seed) {
    rig::Random random(seed);
    mphost::SharedMemoryPool pool;
    pool.fill = 0x3c;
    rig::Module module(run.module.id, pool, static_cast<int32_t>(random.below(0x10000)),
                       run.blockSize == 0 ? 512 : run.blockSize);
    if (!module.valid())
        return false;
    const std::size_t capacity = run.blockSize == 0 ? 4096 : static_cast<std::size_t>(run.blockSize);
    rig::GuardedBuffer first(capacity);
    rig::GuardedBuffer second(capacity);
    float* in = first.data();
    float* out = run.inPlace ? first.data() : second.data();
    module.start(in, out);

    const std::vector<PinText>& texts = run.extremeTexts ? run.module.extreme() : run.module.good();
    std::size_t nextText = 0;
    // Texts sent within blocks come from the first five (valid ones), so the many rebuilds of the
    // every-10-samples rate stay quick; garbage arrives at block starts.
    const std::size_t textCount = run.textEvery == 0 ? texts.size() : std::min<std::size_t>(5, texts.size());
    // At least one block, and some 512 samples per configuration (12 blocks of random size).
    const int blocks = run.blockSize == 0 ? 12 : std::max(1, 512 / run.blockSize);
    int64_t samplesDone = 0;
    const std::string what = describe(run);

    for (int block = 0; block <= blocks; ++block) {
        // Block 0 starts the module: start event, text, input streaming, so every sample is processed.
        const int32_t frames = block == 0 ? static_cast<int32_t>(std::min<std::size_t>(capacity, 64))
                               : run.blockSize == 0 ? static_cast<int32_t>(1 + random.below(4096))
                                                    : run.blockSize;
        // Five stretches of the block, each of another kind of input, the first kind rotating.
        for (int32_t i = 0; i < frames; ++i) {
            const int kind = (block + i * kKindCount / frames) % kKindCount;
            in[i] = sampleOf(static_cast<SampleKind>(kind), random);
        }
        if (!run.inPlace)
            std::fill(out, out + frames, 0.0f);

        EventList events;
        if (block == 0)
            events.start(0).streaming(0, kWaveshaperAudioInPin, true);
        if (run.textEvery == 0 || block == 0) {
            events.pinValue(0, kWaveshaperTextPin, texts[nextText++ % textCount]);
        } else {
            for (int32_t t = 0; t < frames; ++t) {
                if ((samplesDone + t) % run.textEvery == 0)
                    events.pinValue(t, kWaveshaperTextPin, texts[nextText++ % textCount]);
            }
        }

        alloc::startCounting();
        module.process(frames, events.head());
        const alloc::Counts counts = alloc::stopCounting();
        samplesDone += frames;

        if (events.size() == 0) {
            EXPECT_EQ(counts.allocations + counts.releases, 0) << what << ": block " << block;
        }
        EXPECT_TRUE(first.guardsIntact() && second.guardsIntact()) << what << ": block " << block;
        const float* table = module.table();
        if (table == nullptr) {
            ADD_FAILURE() << what << ": no table";
            return true;
        }
        EXPECT_TRUE(rig::blockTailIntact(table, pool.fill)) << what;
        // Mid-block texts may leave earlier tables in force for part of the block: only texts whose
        // tables are all sane are sent that way, so every sample must be sane.
        const bool extremesAllowed = run.extremeTexts && tableHasExtremes(table);
        int bad = 0;
        for (int32_t i = 0; i < frames && bad < 3; ++i) {
            if (!saneSample(table, extremesAllowed, out[i])) {
                ++bad;
                ADD_FAILURE() << what << ": block " << block << " sample " << i << " input " << in[i]
                              << " output " << out[i];
            }
        }
        if (::testing::Test::HasFailure())
            return true;
    }
    return true;
}

const int32_t kBlockSizes[] = {1, 10, 17, 64, 256, 1024, 4096, 16384, 0};

class Validator : public ::testing::TestWithParam<int> {};

TEST_P(Validator, EveryBlockSizeBufferModeAndTextRate) {
    const ModuleCase& module = kModules[GetParam()];
    uint64_t seed = 1;
    for (const int32_t size : kBlockSizes) {
        for (const bool inPlace : {false, true}) {
            for (const int32_t every : {0, 10, 1000}) {
                if (!validate(RunConfig{module, size, inPlace, every, false}, seed++))
                    GTEST_SKIP() << "module not registered in this build";
                if (HasFailure())
                    return;
            }
        }
    }
}

TEST_P(Validator, TextsWithExtremeTablesChangedEveryBlock) {
    const ModuleCase& module = kModules[GetParam()];
    uint64_t seed = 100;
    for (const int32_t size : kBlockSizes) {
        for (const bool inPlace : {false, true}) {
            if (!validate(RunConfig{module, size, inPlace, 0, true}, seed++))
                GTEST_SKIP() << "module not registered in this build";
            if (HasFailure())
                return;
        }
    }
}

TEST_P(Validator, ManyInstancesCreatedAndReleasedInTurn) {
    const ModuleCase& module = kModules[GetParam()];
    mphost::SharedMemoryPool pool;
    rig::Random random(7);
    rig::GuardedBuffer in(64);
    rig::GuardedBuffer out(64);
    for (std::size_t i = 0; i < in.size(); ++i)
        in.data()[i] = random.unit() * 0.5f;
    // Handles from a small set: instances come and go while others share their table.
    std::vector<std::unique_ptr<rig::Module>> alive;
    int64_t liveAfterWarmUp = 0;
    for (int cycle = 0; cycle < 400; ++cycle) {
        if (alive.size() < 8 || random.chance(2)) {
            auto created =
                std::make_unique<rig::Module>(module.id, pool, static_cast<int32_t>(random.below(4)));
            if (!created->valid())
                GTEST_SKIP() << "module not registered in this build";
            created->start(in.data(), out.data());
            EventList events;
            events.start(0)
                .streaming(0, kWaveshaperAudioInPin, true)
                .pinValue(0, kWaveshaperTextPin, module.good()[random.below(3)]);
            created->process(64, events.head());
            alive.push_back(std::move(created));
        } else {
            const std::size_t victim = random.below(static_cast<uint32_t>(alive.size()));
            mphost::ProcessingHost& host = alive[victim]->host;
            EXPECT_EQ(mphost::raw::release(alive[victim]->plugin), 0);
            alive[victim]->plugin = nullptr;
            EXPECT_EQ(host.referenceCount(), 1); // the module let go of its host
            alive.erase(alive.begin() + static_cast<std::ptrdiff_t>(victim));
        }
        for (auto& m : alive)
            m->process(static_cast<int32_t>(1 + random.below(64)), nullptr);
        ASSERT_TRUE(in.guardsIntact() && out.guardsIntact());
        for (std::size_t i = 0; i < out.size(); ++i)
            ASSERT_TRUE(std::isfinite(out.data()[i])) << i;
        if (cycle == 50) {
            alive.clear();
            liveAfterWarmUp = alloc::liveBlocks();
        }
    }
    alive.clear();
    EXPECT_EQ(pool.blockCount(), 4u);
    EXPECT_EQ(alloc::liveBlocks(), liveAfterWarmUp);
}

INSTANTIATE_TEST_SUITE_P(Modules, Validator, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(kModules[info.param].name);
                         });

} // namespace

namespace {

// A started curve-points module whose rebuilds can be counted: each text arrives as a pin value in a
// block of its own, and only that block's processing is counted.
class CountedCurveModule {
public:
    CountedCurveModule() : in(64), out(64), module(kCurveWaveshaperId, pool, 1) {
        if (!module.valid())
            return;
        module.start(in.data(), out.data());
        EventList first;
        first.start(0).streaming(0, kWaveshaperAudioInPin, true);
        module.process(64, first.head());
    }
    bool valid() const { return module.valid(); }
    alloc::Counts rebuild(const PinText& text) {
        EventList events;
        events.pinValue(10, kWaveshaperTextPin, text);
        alloc::startCounting();
        module.process(64, events.head());
        return alloc::stopCounting();
    }

private:
    mphost::SharedMemoryPool pool;
    rig::GuardedBuffer in;
    rig::GuardedBuffer out;
    rig::Module module;
};

// A curve text as the editor writes it is taken and rebuilt in the block loop without allocating:
// the text pin's reserved room holds it and the numbers take the reader's short path.
TEST(ValidatorAllocation, CurveTextsOfTheEditorRebuildWithoutAllocating) {
    CountedCurveModule module;
    if (!module.valid())
        GTEST_SKIP() << "module not registered in this build";
    const PinText texts[] = {
        kIdentityCurve,
        u"(-5.0,5.0)(-4.0,4.0)(-3.0,3.0)(-2.0,2.0)(-1.0,1.0)(0.0,0.0)(1.0,-1.0)(2.0,-2.0)(3.0,-3.0)(4.0,-4.0)"
        u"(5.0,-5.0)",
        u"(-5.0,-2.5)(-4.9,-2.0)(-3.1,-1.5)(-2.0,-1.0)(-1.0,-0.5)(0.0,0.0)(1.0,0.5)(2.0,1.0)(3.0,1.5)(4.0,2."
        u"0)"
        u"(5.0,12.5)",
    };
    for (const PinText& text : texts) {
        const alloc::Counts counts = module.rebuild(text);
        EXPECT_EQ(counts.allocations + counts.releases, 0) << utf8FromPinText(text);
    }
}

// Hand-written numbers with exponents or many digits take the reader's exact conversion, which runs
// inside the block loop (onPinsUpdated) and so must not allocate either.
TEST(ValidatorAllocation, HandWrittenCurveNumbersRebuildWithoutAllocating) {
    CountedCurveModule module;
    if (!module.valid())
        GTEST_SKIP() << "module not registered in this build";
    const PinText texts[] = {u"(1e39,nan)(inf,-inf)", u"(1e30,2)(3,4)", u"(1.2345678901234567890,2)",
                             u"(12345678901234567,1)"};
    for (const PinText& text : texts) {
        const alloc::Counts counts = module.rebuild(text);
        EXPECT_EQ(counts.allocations, 0) << "text " << utf8FromPinText(text);
    }
}

} // namespace
