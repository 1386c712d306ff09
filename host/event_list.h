// Builds the linked list of host events for one processBlock call, as a host lays it out.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "factory/host_event.h"
#include "factory/pin_text.h"

namespace mphost {

class EventList {
public:
    EventList() = default;
    EventList(const EventList&) = delete;
    EventList& operator=(const EventList&) = delete;

    // A text value: inline when it fits in 8 bytes, else through dataPointer.
    EventList& pinValue(int32_t timestamp, int32_t pinId, const PinText& text);
    // Raw bytes, inline or pointed as asked (a host may send anything).
    EventList& pinBytes(int32_t timestamp, int32_t pinId, uint32_t byteSize, const void* data,
                        bool inlineData);
    EventList& streaming(int32_t timestamp, int32_t pinId, bool on);
    EventList& start(int32_t timestamp = 0);
    EventList& other(int32_t timestamp, int32_t type, int32_t pinId);

    // First event of the list, or null when empty.
    const gmpi::HostEvent* head() const { return events.empty() ? nullptr : &events.front(); }
    std::size_t size() const { return events.size(); }
    void clear();

private:
    gmpi::HostEvent& append(int32_t timestamp, int32_t type, int32_t pinId);

    std::deque<gmpi::HostEvent> events; // stable addresses while appending
    std::deque<std::string> payloads;
};

} // namespace mphost
