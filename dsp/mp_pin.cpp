#include "dsp/mp_pin.h"

#include <cstring>

// ---- MpPinBase ----

void MpPinBase::takeEvent(const gmpi::HostEvent*) {}

void MpPinBase::notifyEvent(const gmpi::HostEvent* event) {
    if (changeHandler != nullptr && owner != nullptr)
        (owner->*changeHandler)(event);
}

void MpPinBase::settleEvent(const gmpi::HostEvent*) {}

// ---- Audio pins ----

void MpAudioPinBase::setRawValue(int32_t, const void*) {}

namespace {

bool isStreamingEvent(const gmpi::HostEvent* event) {
    return event->type == gmpi::kEventStreamingOn || event->type == gmpi::kEventStreamingOff;
}

} // namespace

void AudioInPin::takeEvent(const gmpi::HostEvent* event) {
    if (!isStreamingEvent(event))
        return;
    streamingChanged = true;
    const bool newState = event->type == gmpi::kEventStreamingOn;
    if (streaming != newState) {
        streaming = newState;
        adjustOwnerStreaming(newState);
    }
}

void AudioInPin::settleEvent(const gmpi::HostEvent* event) {
    if (isStreamingEvent(event))
        streamingChanged = false;
}

void AudioOutPin::sendInitialState() {
    if (!streaming) {
        streaming = true;
        adjustOwnerStreaming(true);
    }
    if (gmpi::IMpProcessingHost* h = host())
        h->sendPinStreaming(blockPosition(), id, 1);
}

void AudioOutPin::setStreaming(bool isStreaming) {
    if (streaming != isStreaming) {
        streaming = isStreaming;
        adjustOwnerStreaming(isStreaming);
    }
    gmpi::IMpProcessingHost* h = host();
    if (h == nullptr)
        return;
    // A static output still needs one more host block of samples before the module may sleep.
    if (!streaming)
        h->queryBlockSize(&owner->sleepCountdown);
    h->sendPinStreaming(blockPosition(), id, streaming ? 1 : 0);
}

// ---- Text pins ----

void MpControlPinBase<PinText, kTextData>::assignValue(const void* data, std::size_t count) {
    value.resize(count);
    if (count > 0)
        std::memcpy(&value[0], data, count * sizeof(char16_t));
}

void MpControlPinBase<PinText, kTextData>::setRawValue(int32_t byteSize, const void* data) {
    const std::size_t count = byteSize > 0 && data != nullptr ? static_cast<std::size_t>(byteSize) / 2 : 0;
    assignValue(data, count);
}

void MpControlPinBase<PinText, kTextData>::sendInitialState() {
    if (gmpi::IMpProcessingHost* h = host())
        h->setOutputPinValue(blockPosition(), id, rawByteSize(), rawData());
}

void MpControlPin<PinText, kPinInput, kTextData>::takeEvent(const gmpi::HostEvent* event) {
    if (event->type != gmpi::kEventPinValue)
        return;
    std::size_t count = event->byteSize / 2;
    const void* data = event->dataPointer;
    if (data == nullptr) {
        // Without a pointer the value can only be what the record holds inline.
        data = event->inlineData;
        const std::size_t inlineCount = sizeof(event->inlineData) / sizeof(char16_t);
        if (count > inlineCount)
            count = inlineCount;
    }
    assignValue(data, count);
    updated = true;
}

void MpControlPin<PinText, kPinInput, kTextData>::settleEvent(const gmpi::HostEvent* event) {
    if (event->type == gmpi::kEventPinValue)
        updated = false;
}
