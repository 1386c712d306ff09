// The processing module base: the plugin faces a host talks to, reference counting, the pin map and the
// block loop that cuts each block at event timestamps and lets a module sleep while nothing streams.
// Threads and references: the legend of factory/plugin_interfaces.h; everything a module does after
// open runs on the processing thread.
#pragma once

#include <cstdint>
#include <map>

#include "dsp/processing_host.h"
#include "factory/guarded_call.h"
#include "factory/plugin_interfaces.h"

class MpPinBase;

// When a module may ask the host to suspend it. Any other value means never.
enum SleepMode : int32_t {
    kSleepWhenIdle = -1, // once no pin streams
    kNeverSleep = 0,
    kMaySleepAlways = 1, // whether pins stream or not
};

// IMpPlugin and IMpPlugin2 declare processBlock and deliverMessage with one signature, so a single C++
// override would serve both tables. Each face therefore forwards these two operations to a virtual of
// its own; the other operations (queryInterface, addRef, release, open, assignPinBuffer) stay shared.
// Every table entry of a processing module is final and runs its work through gmpi::guardedCall, so
// a module's code can never let an exception reach the host: it ends as kResultFailed.
class MpPluginFace : public gmpi::IMpPlugin {
public:
    // [processing thread] and [any thread]: the contracts of IMpPlugin.
    int32_t MP_CALL processBlock(int32_t sampleFrames, const gmpi::HostEvent* events) final {
        return gmpi::guardedCall([&] { return primaryProcessBlock(sampleFrames, events); });
    }
    int32_t MP_CALL deliverMessage(int32_t a, int32_t b, int32_t c) final {
        return gmpi::guardedCall([&] { return primaryDeliverMessage(a, b, c); });
    }

protected:
    virtual int32_t primaryProcessBlock(int32_t sampleFrames, const gmpi::HostEvent* events) = 0;
    virtual int32_t primaryDeliverMessage(int32_t a, int32_t b, int32_t c) = 0;
};

// The IMpPlugin2 face of a module, with its own processBlock and deliverMessage.
class MpPlugin2Face : public gmpi::IMpPlugin2 {
public:
    // [processing thread] and [any thread]: the contracts of IMpPlugin2.
    int32_t MP_CALL processBlock(int32_t sampleFrames, const gmpi::HostEvent* events) final {
        return gmpi::guardedCall([&] { return plugin2ProcessBlock(sampleFrames, events); });
    }
    int32_t MP_CALL deliverMessage(int32_t a, int32_t b, int32_t c) final {
        return gmpi::guardedCall([&] { return plugin2DeliverMessage(a, b, c); });
    }

protected:
    virtual int32_t plugin2ProcessBlock(int32_t sampleFrames, const gmpi::HostEvent* events) = 0;
    virtual int32_t plugin2DeliverMessage(int32_t a, int32_t b, int32_t c) = 0;
};

// One module object with three faces (IMpPlugin primary, IMpPlugin2, IoldSchoolInitialisation) and one
// reference count. Created with a count of 1 that belongs to whoever asked the factory for it.
class MpPluginBase : public MpPluginFace, public MpPlugin2Face, public IoldSchoolInitialisation {
public:
    MpPluginBase() = default;
    MpPluginBase(const MpPluginBase&) = delete;
    MpPluginBase& operator=(const MpPluginBase&) = delete;

    // [any thread] IMpPlugin2 first, then IMpPlugin and IMpUnknown on the primary face; each answer
    // adds a reference for the caller.
    int32_t MP_CALL queryInterface(const gmpi::InterfaceId& iid, void** object) final;
    // [any thread] One count for all three faces. Neither can throw: destructors do not.
    int32_t MP_CALL addRef() noexcept final;
    // [any thread] Deletes the module through its virtual destructor when the count reaches 0; the
    // destructor releases the processing host.
    int32_t MP_CALL release() noexcept final;
    // [any thread, before open] Asks host for IMpProcessingHost and keeps that reference until the
    // module is deleted; returns that query's result. host itself is borrowed. A second call
    // overwrites the first host without releasing it, since a host hands itself over only once; null
    // forgets the host and fails.
    int32_t MP_CALL attachHost(gmpi::IMpUnknown* host) final;
    // [processing thread] Runs onOpen.
    int32_t MP_CALL open() final;
    // [processing thread] Hands the buffer to the pin registered under pinId; kResultFailed when none.
    int32_t MP_CALL assignPinBuffer(int32_t pinId, float* buffer) final;

    // [processing thread] What a module prepares in open; nothing in the base.
    virtual int32_t onOpen();

    virtual ~MpPluginBase();
    virtual void onMessage(int32_t a, int32_t b, int32_t c);
    virtual void dispatchMessage(int32_t a, int32_t b, int32_t c);
    // [processing thread] After the pin values of one timestamp have been taken.
    virtual void onPinsUpdated();
    // [processing thread] A pin's streaming state changed.
    virtual void adjustStreamingCount(bool isStreaming) = 0;
    // [processing thread] The start event: every output pin reports its initial state.
    virtual void onStart();

    gmpi::IMpProcessingHost* host = nullptr; // one reference, released by the destructor
    std::map<int32_t, MpPinBase*> pins;      // not owned: the pins are members of the module
    int32_t blockPosition = 0;
    int32_t sleepCountdown = 0;
    int32_t streamingCount = 0;
    SleepMode sleepMode = kSleepWhenIdle;
    bool maySleepNow = true;
    bool messageGuard = false;

protected:
    // The primary face's processBlock is the IMpPlugin2 face's.
    int32_t primaryProcessBlock(int32_t sampleFrames, const gmpi::HostEvent* events) override;
    // The deliverMessage pair: each passes the call to the other face's version once; a module may
    // override either. With neither overridden the guard stops the second call and the result is 0.
    int32_t primaryDeliverMessage(int32_t a, int32_t b, int32_t c) override;
    int32_t plugin2DeliverMessage(int32_t a, int32_t b, int32_t c) override;

private:
    int32_t refCount = 1;
};

// The processing module base: pin registration, the block loop, the process-function switch and sleep.
class MpBase : public MpPluginBase {
public:
    using ProcessFunction = void (MpBase::*)(int32_t bufferOffset, int32_t sampleFrames);
    using PinHandler = void (MpBase::*)(const gmpi::HostEvent* event);

    MpBase();

    void adjustStreamingCount(bool isStreaming) override;

    // Installs the module's process function; the sleep-aware wrapper, while active, stays in front.
    void setProcessFunction(ProcessFunction fn);
    template <class Module> void setProcessFunction(void (Module::*fn)(int32_t, int32_t)) {
        setProcessFunction(static_cast<ProcessFunction>(fn));
    }

    // [constructor] Gives the pin its number, owner and handler and enters it in the pin map. A number
    // already taken stays with the earlier pin.
    void registerPin(int32_t id, MpPinBase& pin, PinHandler handler = nullptr);
    template <class Module>
    void registerPin(int32_t id, MpPinBase& pin, void (Module::*handler)(const gmpi::HostEvent*)) {
        registerPin(id, pin, static_cast<PinHandler>(handler));
    }

    // [processing thread] Runs moduleProcess while a countdown lasts, then asks the host for sleep.
    void sleepAwareProcess(int32_t bufferOffset, int32_t sampleFrames);

    ProcessFunction activeProcess;
    ProcessFunction moduleProcess;

protected:
    // [processing thread] The block loop: stretches between event timestamps go to activeProcess, events
    // of one timestamp go to their pins in three passes. Allocates nothing; every stretch lies within
    // 0..sampleFrames, whatever timestamps the host sends. A value a pin cannot take (a text longer
    // than its room when the room cannot grow) is dropped: the pin keeps its previous value, so the
    // table stays as it was, the other events and the whole block are processed, and the result is
    // kResultFailed.
    int32_t plugin2ProcessBlock(int32_t sampleFrames, const gmpi::HostEvent* events) override;

private:
    void processNothing(int32_t bufferOffset, int32_t sampleFrames);
    void runProcess(int32_t bufferOffset, int32_t sampleFrames) {
        (this->*activeProcess)(bufferOffset, sampleFrames);
    }
};
