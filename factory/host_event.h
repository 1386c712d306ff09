// The event record the host passes to processing modules, as a singly linked list per block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gmpi {

enum EventType : int32_t {
    kEventPinValue = 100,     // new value for input pin pinId, byteSize bytes
    kEventStreamingOn = 101,  // the signal on pinId starts changing from sample to sample
    kEventStreamingOff = 102, // the signal on pinId is static from now on
    kEventPinOther = 103,     // further pin event, routed like the three above
    kEventStart = 104,        // processing starts; output pins report their initial state
};

struct HostEvent {
    int32_t timestamp;       // sample position within the block, 0 = first sample
    int32_t type;            // EventType; other values are skipped but still divide the block
    int32_t pinId;           // pin the event is for
    uint32_t byteSize;       // bytes of the value carried
    char inlineData[8];      // the value itself when it fits and dataPointer is null
    const void* dataPointer; // the value when it is not held inline
    const HostEvent* next;   // next event or null
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(HostEvent, timestamp) == 0, "host layout");
static_assert(offsetof(HostEvent, type) == 4, "host layout");
static_assert(offsetof(HostEvent, pinId) == 8, "host layout");
static_assert(offsetof(HostEvent, byteSize) == 12, "host layout");
static_assert(offsetof(HostEvent, inlineData) == 16, "host layout");
static_assert(offsetof(HostEvent, dataPointer) == 24, "host layout");
static_assert(offsetof(HostEvent, next) == 28, "host layout");
static_assert(sizeof(HostEvent) == 32, "host layout");
#endif

} // namespace gmpi
