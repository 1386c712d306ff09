#include "dsp/mp_base.h"

#include "dsp/mp_pin.h"
#include "factory/reference_count.h"

// ---- MpPluginBase ----

MpPluginBase::~MpPluginBase() {
    pins.clear();
    if (host != nullptr)
        host->release();
}

int32_t MpPluginBase::queryInterface(const gmpi::InterfaceId& iid, void** object) {
    return gmpi::guardedCall([&] {
        *object = nullptr;
        if (iid == gmpi::kIidPlugin2) {
            *object = static_cast<gmpi::IMpPlugin2*>(this);
        } else if (iid == gmpi::kIidPlugin || iid == gmpi::kIidUnknown) {
            *object = static_cast<gmpi::IMpPlugin*>(this);
        } else {
            return gmpi::kResultUnsupported;
        }
        addRef();
        return gmpi::kResultOk;
    });
}

int32_t MpPluginBase::addRef() noexcept {
    return ++refCount;
}

int32_t MpPluginBase::release() noexcept {
    return releaseReference(this, refCount);
}

int32_t MpPluginBase::attachHost(gmpi::IMpUnknown* newHost) {
    return gmpi::guardedCall([&] {
        // An earlier host is overwritten without being released: the host hands itself over once.
        void* services = nullptr;
        if (newHost == nullptr) {
            host = nullptr;
            return gmpi::kResultFailed;
        }
        const int32_t result = newHost->queryInterface(gmpi::kIidProcessingHost, &services);
        host = static_cast<gmpi::IMpProcessingHost*>(services);
        return result;
    });
}

int32_t MpPluginBase::open() {
    return gmpi::guardedCall([&] { return onOpen(); });
}

int32_t MpPluginBase::onOpen() {
    return gmpi::kResultOk;
}

int32_t MpPluginBase::assignPinBuffer(int32_t pinId, float* buffer) {
    return gmpi::guardedCall([&] {
        const auto it = pins.find(pinId);
        if (it == pins.end())
            return gmpi::kResultFailed;
        it->second->assignBuffer(buffer);
        return gmpi::kResultOk;
    });
}

int32_t MpPluginBase::primaryProcessBlock(int32_t sampleFrames, const gmpi::HostEvent* events) {
    // Straight to the IMpPlugin2 face's block loop: its processBlock is final and only forwards there.
    return plugin2ProcessBlock(sampleFrames, events);
}

int32_t MpPluginBase::primaryDeliverMessage(int32_t a, int32_t b, int32_t c) {
    if (messageGuard)
        return 0;
    messageGuard = true;
    const int32_t result = plugin2DeliverMessage(a, b, c);
    messageGuard = false;
    return result;
}

int32_t MpPluginBase::plugin2DeliverMessage(int32_t a, int32_t b, int32_t c) {
    if (messageGuard)
        return 0;
    messageGuard = true;
    const int32_t result = primaryDeliverMessage(a, b, c);
    messageGuard = false;
    return result;
}

void MpPluginBase::onMessage(int32_t, int32_t, int32_t) {}

void MpPluginBase::dispatchMessage(int32_t a, int32_t b, int32_t c) {
    onMessage(a, b, c);
}

void MpPluginBase::onPinsUpdated() {}

void MpPluginBase::onStart() {
    for (const auto& entry : pins) {
        if (entry.second->direction() == kPinOutput)
            entry.second->sendInitialState();
    }
}

// ---- MpBase ----

MpBase::MpBase() : activeProcess(&MpBase::sleepAwareProcess), moduleProcess(&MpBase::processNothing) {}

void MpBase::processNothing(int32_t, int32_t) {}

void MpBase::adjustStreamingCount(bool isStreaming) {
    streamingCount += isStreaming ? 1 : -1;
    if (streamingCount != 0 && sleepMode != kMaySleepAlways)
        activeProcess = moduleProcess;
    else
        activeProcess = &MpBase::sleepAwareProcess;
}

void MpBase::setProcessFunction(ProcessFunction fn) {
    if (activeProcess == moduleProcess)
        activeProcess = fn;
    moduleProcess = fn;
}

void MpBase::registerPin(int32_t id, MpPinBase& pin, PinHandler handler) {
    pin.id = id;
    pin.owner = this;
    pin.changeHandler = handler;
    if (handler == nullptr && pin.direction() == kPinInput)
        pin.changeHandler = pin.defaultHandler();
    pins.emplace(id, &pin);
}

void MpBase::sleepAwareProcess(int32_t bufferOffset, int32_t sampleFrames) {
    for (;;) {
        const bool mayIdle = sleepMode == kSleepWhenIdle ? streamingCount == 0 : sleepMode == kMaySleepAlways;
        if (!mayIdle) {
            activeProcess = moduleProcess;
            if (sampleFrames > 0)
                (this->*moduleProcess)(bufferOffset, sampleFrames);
            return;
        }
        if (sleepCountdown <= 0) {
            if (maySleepNow) {
                if (host != nullptr)
                    host->requestSleep();
                return;
            }
            // More events follow in this block: finish the stretch before deciding.
            sleepCountdown = sampleFrames;
        }
        if (sampleFrames <= 0)
            return;
        const int32_t n = sleepCountdown < sampleFrames ? sleepCountdown : sampleFrames;
        sleepCountdown -= n;
        sampleFrames -= n;
        (this->*moduleProcess)(bufferOffset, n);
        bufferOffset += n;
    }
}

namespace {

bool isPinEvent(int32_t type) {
    return type >= gmpi::kEventPinValue && type <= gmpi::kEventPinOther;
}

// The take step of one event. A pin whose value cannot be stored (its storage cannot grow) throws with
// its value unchanged; the event is dropped here so that the block goes on with the previous value.
bool takeOrDrop(MpPinBase& pin, const gmpi::HostEvent* event) noexcept {
    try {
        pin.takeEvent(event);
        return true;
    } catch (...) {
        return false;
    }
}

// Timestamps outside the block are brought into 0..sampleFrames, so no stretch reaches outside it.
int32_t clampedTimestamp(const gmpi::HostEvent* event, int32_t sampleFrames) {
    const int32_t t = event->timestamp;
    if (t < 0)
        return 0;
    return t > sampleFrames ? sampleFrames : t;
}

} // namespace

int32_t MpBase::plugin2ProcessBlock(int32_t sampleFrames, const gmpi::HostEvent* events) {
    if (sampleFrames < 0)
        sampleFrames = 0;
    int32_t segmentStart = 0;
    int32_t remaining = sampleFrames;
    int32_t result = gmpi::kResultOk;
    blockPosition = 0;

    const gmpi::HostEvent* current = events;
    while (current != nullptr) {
        const int32_t t = clampedTimestamp(current, sampleFrames);
        const int32_t gap = t - segmentStart;
        if (gap > 0) {
            maySleepNow = false;
            runProcess(segmentStart, gap);
            remaining -= gap;
            maySleepNow = true;
            if (remaining == 0)
                return result; // events at or after the end of the block stay unhandled
            segmentStart = t;
        }
        blockPosition = t;

        // The group: current and the events following it with the same timestamp.
        const gmpi::HostEvent* groupEnd = current;
        bool pinsChanged = false;
        for (; groupEnd != nullptr && clampedTimestamp(groupEnd, sampleFrames) == t;
             groupEnd = groupEnd->next) {
            if (!isPinEvent(groupEnd->type))
                continue;
            if (groupEnd->type != gmpi::kEventPinOther)
                pinsChanged = true;
            const auto it = pins.find(groupEnd->pinId);
            if (it != pins.end() && !takeOrDrop(*it->second, groupEnd))
                result = gmpi::kResultFailed;
        }
        for (const gmpi::HostEvent* e = current; e != groupEnd; e = e->next) {
            if (isPinEvent(e->type)) {
                const auto it = pins.find(e->pinId);
                if (it != pins.end())
                    it->second->notifyEvent(e);
            } else if (e->type == gmpi::kEventStart) {
                onStart();
            }
        }
        if (pinsChanged)
            onPinsUpdated();
        for (const gmpi::HostEvent* e = current; e != groupEnd; e = e->next) {
            if (!isPinEvent(e->type))
                continue;
            const auto it = pins.find(e->pinId);
            if (it != pins.end())
                it->second->settleEvent(e);
        }
        current = groupEnd;
    }
    runProcess(segmentStart, remaining);
    return result;
}
