// A test-only processing module with the waveshapers' pins (text 0, audio in 1, audio out 2). Its process
// function copies the stretch number into the output buffer, so a test sees which samples each call
// wrote; it records what it saw in fixed arrays, allocating nothing while the host drives it.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "dsp/mp_base.h"
#include "dsp/mp_pin.h"

class ProbeModule : public MpBase {
public:
    struct Stretch {
        int32_t offset;
        int32_t frames;
    };
    struct Update {
        int32_t blockPosition;
        bool textUpdated;
        bool inputStreamingChanged;
        int32_t streamingCount;
        bool wrapperActive;
    };
    static constexpr int kMaxRecords = 32;

    explicit ProbeModule(bool duplicatePin = false, bool* destroyedFlag = nullptr)
        : destroyed(destroyedFlag) {
        registerPin(0, textPin);
        registerPin(1, inputPin);
        registerPin(2, outputPin);
        if (duplicatePin)
            registerPin(0, secondTextPin);
    }
    ~ProbeModule() override {
        if (destroyed != nullptr)
            *destroyed = true;
    }

    int32_t onOpen() override {
        setProcessFunction(&ProbeModule::process);
        return gmpi::kResultOk;
    }

    void onPinsUpdated() override {
        if (throwOnUpdate)
            throw std::runtime_error("probe update fails");
        if (updateCount < kMaxRecords) {
            updates[updateCount] = {blockPosition, textPin.isUpdated(), inputPin.streamingChanged,
                                    streamingCount, activeProcess == &MpBase::sleepAwareProcess};
        }
        ++updateCount;
        // The output follows the input, as the waveshapers do.
        if (inputPin.streamingChanged && followInput)
            outputPin.setStreaming(inputPin.isStreaming());
    }

    // Writes the stretch number (1, 2, ...) over the stretch; skips a pin without buffer.
    void process(int32_t offset, int32_t frames) {
        if (stretchCount < kMaxRecords)
            stretches[stretchCount] = {offset, frames};
        ++stretchCount;
        if (outputPin.buffer == nullptr)
            return;
        for (int32_t i = 0; i < frames; ++i)
            outputPin.buffer[offset + i] = static_cast<float>(stretchCount);
    }

    void clearRecords() {
        stretchCount = 0;
        updateCount = 0;
    }

    TextInPin textPin;
    AudioInPin inputPin;
    AudioOutPin outputPin;
    TextInPin secondTextPin;
    bool followInput = true;
    bool throwOnUpdate = false; // onPinsUpdated throws, as module code might

    Stretch stretches[kMaxRecords] = {};
    int stretchCount = 0;
    Update updates[kMaxRecords] = {};
    int updateCount = 0;

private:
    bool* destroyed;
};
