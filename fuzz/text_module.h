// One waveshaper module kept for a whole fuzz run, so its table block carries over from input to
// input as in a session where one text follows another. Each text arrives as a pin-value event of a
// block (with the start event in the first); afterwards the table, its block tail, the audio buffers'
// guard zones and the output are checked, and any fault aborts with a message.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "reliability/rig.h"

class FuzzTextModule {
public:
    FuzzTextModule(const char* fuzzName, const wchar_t* moduleId, int32_t handle) : name(fuzzName) {
        module = std::make_unique<rig::Module>(moduleId, pool, handle);
        if (!module->valid()) {
            module.reset();
            return;
        }
        module->start(in.data(), out.data());
        for (std::size_t i = 0; i < in.size(); ++i)
            in.data()[i] = static_cast<float>(i) / 32.0f - 1.0f; // -10 V .. +10 V
    }

    bool valid() const { return module != nullptr; }

    void sendTextAndCheck(const PinText& text) {
        // The payload and the event records are allocations of their own size, so a read past them
        // is caught by the sanitizer.
        const uint32_t byteSize = static_cast<uint32_t>(text.size() * 2);
        std::unique_ptr<char16_t[]> payload(new char16_t[text.size() + 1]);
        if (!text.empty())
            std::memcpy(payload.get(), text.data(), byteSize);
        std::unique_ptr<gmpi::HostEvent> start(new gmpi::HostEvent{});
        std::unique_ptr<gmpi::HostEvent> value(new gmpi::HostEvent{});
        start->type = gmpi::kEventStart;
        start->next = value.get();
        value->type = gmpi::kEventPinValue;
        value->pinId = 0;
        value->byteSize = byteSize;
        value->dataPointer = payload.get();
        module->process(64, started ? value.get() : start.get());
        started = true;

        const float* table = module->table();
        if (table == nullptr)
            fail("the module has no table block");
        if (!rig::allFinite(table))
            fail("a table entry is not finite");
        if (!rig::blockTailIntact(table, pool.fill))
            fail("the table block was written past entry 512");
        if (!in.guardsIntact() || !out.guardsIntact())
            fail("an audio buffer was written outside its samples");
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (!std::isfinite(out.data()[i]))
                fail("an output sample is not finite");
        }
    }

    void fail(const char* what) const {
        std::fprintf(stderr, "%s fuzz: %s\n", name, what);
        std::abort();
    }

private:
    const char* name;
    mphost::SharedMemoryPool pool;
    rig::GuardedBuffer in{64};
    rig::GuardedBuffer out{64};
    std::unique_ptr<rig::Module> module;
    bool started = false;
};
