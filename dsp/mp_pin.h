// Processing pins: audio pins with a block buffer and a streaming state, and control pins whose value
// arrives in events. Each pin is a member of its module and registered with the module base by number.
#pragma once

#include <cstdint>

#include "dsp/mp_base.h"
#include "factory/host_event.h"
#include "factory/pin_text.h"

// What a pin carries, by the numbers the host uses for data kinds.
enum PinDataKind : int32_t { kTextData = 1, kAudioData = 5 };
// Which way a pin's values flow, by the numbers the host uses for directions.
enum PinDirection : int32_t { kPinInput = 0, kPinOutput = 1 };

// A pin of a processing module: the block loop hands it its buffer and its events.
class MpPinBase {
public:
    MpPinBase() = default;
    MpPinBase(const MpPinBase&) = delete;
    MpPinBase& operator=(const MpPinBase&) = delete;

    virtual ~MpPinBase() = default;
    virtual void assignBuffer(float* buffer) = 0;
    // The three steps of one event, called by the block loop: take the value, tell the module, settle.
    virtual void takeEvent(const gmpi::HostEvent* event);
    virtual void notifyEvent(const gmpi::HostEvent* event);
    virtual void settleEvent(const gmpi::HostEvent* event);
    virtual PinDataKind dataKind() const = 0;
    virtual PinDirection direction() const = 0;
    // The handler registration uses when none is given for an input pin.
    virtual MpBase::PinHandler defaultHandler() const = 0;
    // Output pins report their value or state at the start event.
    virtual void sendInitialState() = 0;

    int32_t id = -1;
    MpBase* owner = nullptr;
    MpBase::PinHandler changeHandler = nullptr;

protected:
    // The owner's host, or null before registration or when the host offered no processing services.
    gmpi::IMpProcessingHost* host() const { return owner != nullptr ? owner->host : nullptr; }
    int32_t blockPosition() const { return owner != nullptr ? owner->blockPosition : 0; }
    void adjustOwnerStreaming(bool isStreaming) {
        if (owner != nullptr)
            owner->adjustStreamingCount(isStreaming);
    }
};

class MpAudioPinBase : public MpPinBase {
public:
    // Does nothing for audio pins.
    virtual void setRawValue(int32_t byteSize, const void* data);

    void assignBuffer(float* newBuffer) override { buffer = newBuffer; }
    PinDataKind dataKind() const override { return kAudioData; }
    MpBase::PinHandler defaultHandler() const override { return nullptr; }

    float* buffer = nullptr; // null until the host assigns one
    bool streaming = false;
};

class AudioInPin : public MpAudioPinBase {
public:
    // Streaming events (101, 102) update the state and the owner's count; a repeated state only marks
    // the change.
    void takeEvent(const gmpi::HostEvent* event) override;
    void settleEvent(const gmpi::HostEvent* event) override;
    PinDirection direction() const override { return kPinInput; }
    void sendInitialState() override {}

    bool isStreaming() const { return streaming; }

    bool streamingChanged = true; // stays set until the first streaming event has been settled
};

class AudioOutPin : public MpAudioPinBase {
public:
    PinDirection direction() const override { return kPinOutput; }
    // Every output audio pin streams from the start event on.
    void sendInitialState() override;

    // Sets the state, reloads the owner's sleep countdown when static and reports the state to the host
    // at the owner's block position, also when it did not change.
    void setStreaming(bool isStreaming);
    bool isStreaming() const { return streaming; }
};

// Room reserved for a text value at construction, so that values up to this many characters are taken
// in the block loop without allocating.
constexpr std::size_t kReservedTextLength = 1024;

template <typename T, PinDataKind kDataKind> class MpControlPinBase;

// The text control pin: its value is UTF-16 code units, 2 bytes each on the wire.
template <> class MpControlPinBase<PinText, kTextData> : public MpPinBase {
public:
    MpControlPinBase() { value.reserve(kReservedTextLength); }

    void assignBuffer(float*) override {}
    PinDataKind dataKind() const override { return kTextData; }
    MpBase::PinHandler defaultHandler() const override { return nullptr; }
    // Reports the value to the host at the owner's block position, without terminator.
    void sendInitialState() override;

    // value = byteSize / 2 code units from data; the updated flag is left alone.
    virtual void setRawValue(int32_t byteSize, const void* data);
    virtual int32_t rawByteSize() const { return pinTextByteSize(value); }
    virtual const void* rawData() const { return value.data(); }

    bool isUpdated() const { return updated; }

    PinText value;
    bool updated = false;

protected:
    // Copies count code units from unaligned bytes, reusing the reserved room when it suffices.
    void assignValue(const void* data, std::size_t count);
};

template <typename T, PinDirection kDirection, PinDataKind kDataKind> class MpControlPin;

template <> class MpControlPin<PinText, kPinInput, kTextData> : public MpControlPinBase<PinText, kTextData> {
public:
    // A pin value event (100) sets the value from dataPointer, or from inlineData when that is null
    // (at most the 8 bytes it holds), and marks it updated.
    void takeEvent(const gmpi::HostEvent* event) override;
    void settleEvent(const gmpi::HostEvent* event) override;
    PinDirection direction() const override { return kPinInput; }
};

using TextInPin = MpControlPin<PinText, kPinInput, kTextData>;
