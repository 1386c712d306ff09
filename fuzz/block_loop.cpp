// The block loop of a real waveshaper module under arbitrary hosts: event lists of any types,
// timestamps (decreasing and out of the block included), pin ids, byte sizes, inline and pointed data;
// buffers fenced on both sides, in place or separate, reassigned or withdrawn between blocks.
//
// Every event record and every pointed payload is its own allocation of exactly its size, so a read
// past either is caught by the address sanitizer; records are compared after each block, since the
// module must not write them. Output samples must be finite or a copy of a table entry.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "factory/module_ids.h"
#include "reliability/rig.h"

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "block_loop fuzz: %s\n", what);
    std::abort();
}

constexpr std::size_t kMaxFrames = 2048;
constexpr uint32_t kMaxPayload = 4096;

const int32_t kTypes[] = {100, 101, 102, 103, 104, 0, -1, 99, 105, INT32_MIN, INT32_MAX};
const int32_t kPins[] = {0, 1, 2, -1, 3, INT32_MIN, INT32_MAX};

struct Event {
    std::unique_ptr<gmpi::HostEvent> record;
    std::unique_ptr<unsigned char[]> payload;
    gmpi::HostEvent copy; // the record as sent
};

int32_t pickTimestamp(FuzzedDataProvider& in, int32_t frames, int32_t previous) {
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
        return in.ConsumeIntegralInRange<int32_t>(0, frames < 0 ? 0 : frames);
    case 1:
        return previous; // the same timestamp: one group
    case 2:
        return previous > INT32_MIN + 64 ? previous - in.ConsumeIntegralInRange<int32_t>(1, 64) : previous;
    case 3:
        return frames + in.ConsumeIntegralInRange<int32_t>(0, 64); // at or past the end (frames <= 2048)
    case 4:
        return in.ConsumeIntegral<int32_t>();
    default:
        return in.PickValueInArray({INT32_MIN, INT32_MAX, -1, 0});
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool formula = in.ConsumeBool();
    const bool inPlace = in.ConsumeBool();
    const std::size_t bufferFrames = in.ConsumeIntegralInRange<std::size_t>(1, kMaxFrames);

    mphost::SharedMemoryPool pool;
    pool.fill = in.ConsumeBool() ? 0 : 0x3c; // 0x3c3c3c3c: a finite float
    rig::Module module(formula ? kFormulaWaveshaperId : kCurveWaveshaperId, pool,
                       in.ConsumeIntegral<int32_t>(), in.ConsumeIntegralInRange<int32_t>(1, 4096));
    if (!module.valid())
        return 0; // a module not yet registered in this build
    rig::GuardedBuffer first(bufferFrames);
    rig::GuardedBuffer second(bufferFrames);
    float* inBuffer = first.data();
    float* outBuffer = inPlace ? first.data() : second.data();
    module.start(in.ConsumeBool() ? inBuffer : nullptr, in.ConsumeBool() ? outBuffer : nullptr);
    const float* table = module.table();

    std::vector<float> original(bufferFrames);
    const int blocks = in.ConsumeIntegralInRange<int>(1, 8);
    for (int block = 0; block < blocks && in.remaining_bytes() > 0; ++block) {
        // Buffers: kept, reassigned, or withdrawn (null) before this block.
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            module.assign(1, nullptr);
            break;
        case 1:
            module.assign(2, nullptr);
            break;
        case 2:
            module.assign(1, inBuffer);
            module.assign(2, outBuffer);
            break;
        default:
            break;
        }

        // Input samples: any bit pattern; the output buffer starts silent.
        for (std::size_t i = 0; i < bufferFrames; ++i) {
            float sample = 0.0f;
            if (in.remaining_bytes() >= 4) {
                const uint32_t bits = in.ConsumeIntegral<uint32_t>();
                std::memcpy(&sample, &bits, sizeof sample);
            }
            inBuffer[i] = sample;
            if (!inPlace)
                outBuffer[i] = 0.0f;
            original[i] = inBuffer[i];
        }

        const int32_t frames = in.ConsumeBool() ? static_cast<int32_t>(bufferFrames)
                                                : in.ConsumeIntegralInRange<int32_t>(-4, bufferFrames);
        std::vector<Event> events(in.ConsumeIntegralInRange<std::size_t>(0, 24));
        int32_t previous = 0;
        for (Event& e : events) {
            e.record.reset(new gmpi::HostEvent{});
            gmpi::HostEvent& r = *e.record;
            r.timestamp = previous = pickTimestamp(in, frames, previous);
            r.type =
                in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(100, 104) : in.PickValueInArray(kTypes);
            r.pinId =
                in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(0, 2) : in.PickValueInArray(kPins);
            const bool pointed = in.ConsumeBool();
            if (pointed) {
                // A payload of exactly byteSize bytes (the host's promise for pointed data).
                r.byteSize = in.ConsumeIntegralInRange<uint32_t>(0, kMaxPayload);
                e.payload.reset(new unsigned char[r.byteSize == 0 ? 1 : r.byteSize]);
                for (uint32_t b = 0; b < r.byteSize; ++b)
                    e.payload[b] = in.remaining_bytes() > 0 ? in.ConsumeIntegral<unsigned char>() : '(';
                r.dataPointer = e.payload.get();
            } else {
                // Inline data: byteSize may claim anything; only the 8 bytes of the record exist.
                r.byteSize = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 8)
                                              : in.ConsumeIntegral<uint32_t>();
                for (char& c : r.inlineData)
                    c = static_cast<char>(in.ConsumeIntegral<unsigned char>());
            }
        }
        for (std::size_t i = 0; i + 1 < events.size(); ++i)
            events[i].record->next = events[i + 1].record.get();
        for (Event& e : events)
            e.copy = *e.record;

        module.process(frames, events.empty() ? nullptr : events.front().record.get());

        for (const Event& e : events) {
            if (std::memcmp(&e.copy, e.record.get(), sizeof(gmpi::HostEvent)) != 0)
                fail("an event record was written");
        }
        if (!first.guardsIntact() || !second.guardsIntact())
            fail("an audio buffer was written outside its samples");
        table = module.table();
        if (table != nullptr && !rig::blockTailIntact(table, pool.fill))
            fail("the table block was written past entry 512");
        for (std::size_t i = 0; i < bufferFrames; ++i) {
            const float sample = outBuffer[i];
            if (rig::acceptableSample(table, sample))
                continue;
            if (inPlace && rig::sameBits(sample, original[i]))
                continue; // not processed this block: the input is still there
            fail("an output sample is neither finite nor a table entry");
        }
    }
    return 0;
}
