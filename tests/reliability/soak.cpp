// The soak run: many host blocks of random sizes across several module instances of both kinds that
// share table blocks, with random events (curve and formula texts, valid and garbage, streaming
// changes, start events, pins that do not exist) at random timestamps.
//
// Checked after every block: no output sample non-finite (unless copied from a non-finite table
// entry), no write outside the audio buffers or past a table's 513 entries, no allocation or release
// inside a processBlock, except a text pin growing its room for a text longer than 1024 characters;
// and at the end, live memory no higher than after the warm-up. Prints its figures; exits 1 on the first
// fault.
//
//   soak [--blocks N] [--seed S]       (default 1,000,000 blocks)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "factory/module_ids.h"
#include "host/event_list.h"
#include "reliability/rig.h"
#include "support/alloc_counter.h"

namespace {

constexpr int32_t kMaxBlock = 4096;
constexpr int kInstances = 6;

const char16_t* const kCurveTexts[] = {
    u"(-5.0,-5.0)(-4.0,-4.0)(-3.0,-3.0)(-2.0,-2.0)(-1.0,-1.0)(0.0,0.0)(1.0,1.0)(2.0,2.0)(3.0,3.0)(4.0,4.0)"
    u"(5.0,5.0)",
    u"(-5.0,5.0)(-4.0,4.0)(-3.0,3.0)(-2.0,2.0)(-1.0,1.0)(0.0,0.0)(1.0,-1.0)(2.0,-2.0)(3.0,-3.0)(4.0,-4.0)"
    u"(5.0,-5.0)",
    u"(-5.0,-2.5)(-4.0,-2.0)(-3.0,-1.5)(-2.0,-1.0)(-1.0,-0.5)(0.0,0.0)(1.0,0.5)(2.0,1.0)(3.0,1.5)(4.0,2.0)"
    u"(5.0,2.5)",
    u"(-5.0,-5.0)(-4.0,-4.0)(-3.0,-3.0)(-2.0,-2.0)(-1.0,-1.0)(0.0,0.0)(1.0,1.0)(2.0,2.0)(3.0,3.0)(4.0,4.0)"
    u"(4.0,5.0)",
    u"(-5.0,-5.0)(0.0,0.0)(5.0,5.0",
    u"(1e39,nan)(inf,-inf)",
    u"",
};

const char16_t* const kFormulaTexts[] = {u"x",       u"x/2",     u"tanh(x)*5", u"1/x",   u"log(x)",
                                         u"1e999*x", u"x+*",     u"sqrt(x)",   u"a=x*2", u"0/0",
                                         u"exp(x)",  u"x*1e-39", u"((((x",     u""};

PinText garbage(rig::Random& random) {
    static const char16_t alphabet[] = u"()(),,.-+e0123456789xXnaif*/^%= \u00e9\u4e00";
    const std::size_t length = random.below(random.chance(20) ? 2000 : 40);
    PinText text(length, u' ');
    for (char16_t& c : text)
        c = random.chance(50) ? static_cast<char16_t>(random.below(0x10000))
                              : alphabet[random.below(sizeof alphabet / sizeof alphabet[0] - 1)];
    return text;
}

struct Instance {
    std::unique_ptr<rig::Module> module;
    std::unique_ptr<rig::GuardedBuffer> first;
    std::unique_ptr<rig::GuardedBuffer> second;
    bool inPlace = false;
    bool formula = false;
};

int fault(long long block, int instance, const char* what) {
    std::fprintf(stderr, "soak: block %lld, instance %d: %s\n", block, instance, what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    long long blocks = 1000000;
    uint64_t seed = 20261209;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--blocks") == 0)
            blocks = std::atoll(argv[i + 1]);
        else if (std::strcmp(argv[i], "--seed") == 0)
            seed = std::strtoull(argv[i + 1], nullptr, 10);
    }
    rig::Random random(seed);
    mphost::SharedMemoryPool pool;

    // Curve and formula instances on two handles: each table is shared by modules of both kinds.
    std::vector<Instance> instances(kInstances);
    for (int n = 0; n < kInstances; ++n) {
        Instance& instance = instances[n];
        instance.formula = n % 2 == 1;
        instance.inPlace = n % 3 == 0;
        instance.module = std::make_unique<rig::Module>(
            instance.formula ? kFormulaWaveshaperId : kCurveWaveshaperId, pool, n < 3 ? 0x10 : 0x20,
            static_cast<int32_t>(1 + random.below(kMaxBlock)));
        if (!instance.module->valid() && instance.formula) {
            std::printf("soak: the formula module is not registered in this build: curve-points only\n");
            instance.formula = false;
            instance.module =
                std::make_unique<rig::Module>(kCurveWaveshaperId, pool, n < 3 ? 0x10 : 0x20,
                                              static_cast<int32_t>(1 + random.below(kMaxBlock)));
        }
        if (!instance.module->valid()) {
            std::printf("soak: the curve-points module is not registered in this build: skipped\n");
            return 0;
        }
        instance.first = std::make_unique<rig::GuardedBuffer>(kMaxBlock);
        instance.second = std::make_unique<rig::GuardedBuffer>(kMaxBlock);
        instance.module->start(instance.first->data(),
                               instance.inPlace ? instance.first->data() : instance.second->data());
    }

    long long samples = 0;
    long long textEvents = 0;
    long long blocksWithoutValues = 0;
    long long valueAllocations[2] = {0, 0}; // curve-points, formula
    long long valueCalls[2] = {0, 0};
    long long sleepRequests = 0;
    int64_t liveAfterWarmUp = 0;
    int64_t liveBytesAfterWarmUp = 0;
    int64_t peakLiveBytes = 0;
    const long long warmUp = blocks / 20;
    const auto started = std::chrono::steady_clock::now();
    mphost::EventList events;
    std::vector<float> original(kMaxBlock);

    for (long long block = 0; block < blocks; ++block) {
        // Mostly small blocks, as hosts run them, now and then up to the largest.
        const int32_t frames = random.chance(16) ? static_cast<int32_t>(random.below(kMaxBlock + 1))
                                                 : static_cast<int32_t>(1 + random.below(128));
        for (int n = 0; n < kInstances; ++n) {
            Instance& instance = instances[n];
            float* in = instance.first->data();
            float* out = instance.inPlace ? in : instance.second->data();
            for (int32_t i = 0; i < frames; ++i)
                in[i] = random.chance(64) ? random.anyBits() : random.unit() * 0.6f;
            // In place, a sample the module did not process (it sleeps) still holds its input.
            std::copy(in, in + frames, original.begin());
            if (!instance.inPlace)
                std::fill(out, out + frames, 0.0f);

            events.clear();
            bool carriesValue = false;
            std::size_t longestText = 0;
            if (block == 0) {
                events.start(0);
                events.streaming(0, kWaveshaperAudioInPin, true);
            }
            if (random.chance(200)) {
                // One to three events, timestamps in order, sometimes out of the block or decreasing.
                const int count = 1 + static_cast<int>(random.below(3));
                int32_t t = static_cast<int32_t>(random.below(static_cast<uint32_t>(frames) + 1));
                for (int e = 0; e < count; ++e) {
                    const uint32_t what = random.below(10);
                    if (random.chance(30))
                        t = random.chance(2) ? -5 : frames + 5;
                    if (what < 6) {
                        PinText text;
                        if (random.chance(4))
                            text = garbage(random);
                        else if (instance.formula)
                            text =
                                kFormulaTexts[random.below(sizeof kFormulaTexts / sizeof kFormulaTexts[0])];
                        else
                            text = kCurveTexts[random.below(sizeof kCurveTexts / sizeof kCurveTexts[0])];
                        events.pinValue(t, random.chance(40) ? 7 : 0, text);
                        longestText = std::max(longestText, text.size());
                        carriesValue = true;
                        ++textEvents;
                    } else if (what < 9) {
                        events.streaming(t, kWaveshaperAudioInPin, random.chance(2));
                    } else {
                        events.start(t);
                    }
                    t += static_cast<int32_t>(random.below(32));
                }
            }

            const int32_t before = instance.module->host.sleepRequests;
            alloc::startCounting();
            instance.module->process(frames, events.head());
            const alloc::Counts counts = alloc::stopCounting();
            sleepRequests += instance.module->host.sleepRequests - before;

            if (carriesValue) {
                valueAllocations[instance.formula ? 1 : 0] += counts.allocations;
                ++valueCalls[instance.formula ? 1 : 0];
                // Only a text beyond the pin's reserved room may allocate (the pin grows it once).
                if (counts.allocations != 0 && longestText <= 1024)
                    return fault(block, n, "allocation inside a block with a short pin value");
            } else if (counts.allocations != 0 || counts.releases != 0)
                return fault(block, n, "allocation inside a block without pin values");
            if (!carriesValue)
                ++blocksWithoutValues;
            if (!instance.first->guardsIntact() || !instance.second->guardsIntact())
                return fault(block, n, "write outside an audio buffer");
            const float* table = instance.module->table();
            if (table == nullptr || !rig::blockTailIntact(table, pool.fill))
                return fault(block, n, "table block missing or written past entry 512");
            for (int32_t i = 0; i < frames; ++i) {
                if (!rig::acceptableSample(table, out[i]) &&
                    !(instance.inPlace && rig::sameBits(out[i], original[i])))
                    return fault(block, n, "non-finite output sample");
            }
            samples += frames;
        }
        if (block + 1 == warmUp) {
            liveAfterWarmUp = alloc::liveBlocks();
            liveBytesAfterWarmUp = alloc::liveBytes();
        }
        if (alloc::liveBytes() > peakLiveBytes)
            peakLiveBytes = alloc::liveBytes();
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("soak: %lld host blocks x %d instances, %lld samples, %lld text events, %.1f s\n", blocks,
                kInstances, samples, textEvents, seconds);
    std::printf(
        "soak: %lld processBlock calls without pin values: 0 allocations in them; %lld sleep requests\n",
        blocksWithoutValues, sleepRequests);
    std::printf(
        "soak: calls with pin values: curve-points %lld calls, %lld allocations; formula %lld calls, %lld "
        "allocations\n",
        valueCalls[0], valueAllocations[0], valueCalls[1], valueAllocations[1]);
    std::printf(
        "soak: live heap after warm-up %lld blocks / %lld bytes, at the end %lld blocks / %lld bytes, "
        "peak %lld bytes\n",
        static_cast<long long>(liveAfterWarmUp), static_cast<long long>(liveBytesAfterWarmUp),
        static_cast<long long>(alloc::liveBlocks()), static_cast<long long>(alloc::liveBytes()),
        static_cast<long long>(peakLiveBytes));
    // Text pins keep the room of their longest value: allow that much growth after the warm-up.
    if (warmUp > 0 && alloc::liveBytes() > liveBytesAfterWarmUp + 4 * 2 * 2000 * kInstances)
        return fault(blocks, -1, "live memory grew");
    std::printf("soak: ok\n");
    return 0;
}
