#include "host/event_list.h"

#include <cstring>

namespace mphost {

gmpi::HostEvent& EventList::append(int32_t timestamp, int32_t type, int32_t pinId) {
    gmpi::HostEvent event{};
    event.timestamp = timestamp;
    event.type = type;
    event.pinId = pinId;
    events.push_back(event);
    if (events.size() > 1)
        events[events.size() - 2].next = &events.back();
    return events.back();
}

EventList& EventList::pinBytes(int32_t timestamp, int32_t pinId, uint32_t byteSize, const void* data,
                               bool inlineData) {
    gmpi::HostEvent& event = append(timestamp, gmpi::kEventPinValue, pinId);
    event.byteSize = byteSize;
    if (inlineData) {
        if (data != nullptr)
            std::memcpy(event.inlineData, data, byteSize < 8 ? byteSize : 8);
    } else if (data != nullptr) {
        payloads.emplace_back(static_cast<const char*>(data), byteSize);
        event.dataPointer = payloads.back().data();
    }
    return *this;
}

EventList& EventList::pinValue(int32_t timestamp, int32_t pinId, const PinText& text) {
    const uint32_t bytes = static_cast<uint32_t>(text.size() * 2);
    return pinBytes(timestamp, pinId, bytes, text.data(), bytes <= 8);
}

EventList& EventList::streaming(int32_t timestamp, int32_t pinId, bool on) {
    append(timestamp, on ? gmpi::kEventStreamingOn : gmpi::kEventStreamingOff, pinId);
    return *this;
}

EventList& EventList::start(int32_t timestamp) {
    append(timestamp, gmpi::kEventStart, 0);
    return *this;
}

EventList& EventList::other(int32_t timestamp, int32_t type, int32_t pinId) {
    append(timestamp, type, pinId);
    return *this;
}

void EventList::clear() {
    events.clear();
    payloads.clear();
}

gmpi::HostEvent* FixedEventList::append(int32_t timestamp, int32_t type, int32_t pinId) {
    if (count == kCapacity)
        return nullptr;
    gmpi::HostEvent& event = events[count];
    event = gmpi::HostEvent{};
    event.timestamp = timestamp;
    event.type = type;
    event.pinId = pinId;
    if (count > 0)
        events[count - 1].next = &event;
    ++count;
    return &event;
}

bool FixedEventList::pinValue(int32_t timestamp, int32_t pinId, const char16_t* text, std::size_t units) {
    gmpi::HostEvent* event = append(timestamp, gmpi::kEventPinValue, pinId);
    if (event == nullptr)
        return false;
    event->byteSize = static_cast<uint32_t>(units * 2);
    if (event->byteSize <= sizeof(event->inlineData)) {
        if (units > 0)
            std::memcpy(event->inlineData, text, event->byteSize);
    } else {
        event->dataPointer = text;
    }
    return true;
}

bool FixedEventList::streaming(int32_t timestamp, int32_t pinId, bool on) {
    return append(timestamp, on ? gmpi::kEventStreamingOn : gmpi::kEventStreamingOff, pinId) != nullptr;
}

bool FixedEventList::start(int32_t timestamp) {
    return append(timestamp, gmpi::kEventStart, 0) != nullptr;
}

} // namespace mphost
