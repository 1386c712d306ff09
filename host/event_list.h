// Builds the linked list of host events for one processBlock call, as a host lays it out.
#pragma once

#include <cstddef>
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

// The same lists for a host's real-time thread: room for a fixed number of events inside the object,
// and values that are pointed at, not copied, so building a list allocates nothing. The caller keeps
// each value alive until the list has been processed. An event beyond the capacity is refused.
class FixedEventList {
public:
    static constexpr std::size_t kCapacity = 8;

    FixedEventList() = default;
    FixedEventList(const FixedEventList&) = delete;
    FixedEventList& operator=(const FixedEventList&) = delete;

    // A text value of `count` UTF-16 code units: inline when it fits in 8 bytes, else pointed at.
    bool pinValue(int32_t timestamp, int32_t pinId, const char16_t* text, std::size_t count);
    bool streaming(int32_t timestamp, int32_t pinId, bool on);
    bool start(int32_t timestamp = 0);

    const gmpi::HostEvent* head() const { return count == 0 ? nullptr : &events[0]; }
    std::size_t size() const { return count; }
    void clear() { count = 0; }

private:
    gmpi::HostEvent* append(int32_t timestamp, int32_t type, int32_t pinId);

    gmpi::HostEvent events[kCapacity] = {};
    std::size_t count = 0;
};

} // namespace mphost
