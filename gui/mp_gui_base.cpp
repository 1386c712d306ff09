#include "gui/mp_gui_base.h"

void GuiPinOwner::registerPin(int32_t pinIndex, MpGuiPinBase* pin) {
    pin->pinIndex = pinIndex;
    pin->owner = this;
    pins.emplace(pinIndex, pin);
}

int32_t GuiPinOwner::setPin(int32_t pinIndex, int32_t voice, int32_t byteCount, const void* data,
                            bool notifyOnChange) {
    const auto it = pins.find(pinIndex);
    if (it == pins.end())
        return gmpi::kResultFailed;
    // A count without bytes behind it cannot be read: refuse it rather than read through null.
    if (byteCount < 0 || (byteCount > 0 && data == nullptr))
        return gmpi::kResultFailed;
    MpGuiPinBase* pin = it->second;
    const bool changed = pin->setValueRaw(voice, byteCount, data);
    if (notifyOnChange && changed && pin->callback != nullptr)
        pin->callback->invoke(voice);
    return gmpi::kResultOk;
}

int32_t GuiPinOwner::notifyPin(int32_t pinIndex, int32_t voice) {
    const auto it = pins.find(pinIndex);
    if (it == pins.end())
        return gmpi::kResultFailed;
    if (it->second->callback != nullptr)
        it->second->callback->invoke(voice);
    return gmpi::kResultOk;
}

void* queryHostService(gmpi::IMpUnknown* hostObject, const gmpi::InterfaceId& iid, int32_t* result) {
    void* service = nullptr;
    const int32_t answer =
        hostObject != nullptr ? hostObject->queryInterface(iid, &service) : gmpi::kResultFailed;
    if (result != nullptr)
        *result = answer;
    return service;
}

namespace {

// The common queryInterface rule: the first matching identifier gets the object with one more reference.
int32_t answerInterface(gmpi::IMpUnknown* self, const gmpi::InterfaceId& iid, const gmpi::InterfaceId& own,
                        void** object) {
    *object = nullptr;
    if (iid == own || iid == gmpi::kIidUnknown) {
        *object = self;
        self->addRef();
        return gmpi::kResultOk;
    }
    return gmpi::kResultUnsupported;
}

} // namespace

int32_t MpGuiBase_base::queryInterface(const gmpi::InterfaceId& iid, void** object) {
    return gmpi::guardedCall([&] {
        return answerInterface(static_cast<gmpi::IMpUserInterface*>(this), iid, gmpi::kIidUserInterface,
                               object);
    });
}

int32_t MpGuiBase_base::setPin(int32_t pinIndex, int32_t voice, int32_t byteCount, const void* data) {
    return gmpi::guardedCall([&] { return GuiPinOwner::setPin(pinIndex, voice, byteCount, data, false); });
}

int32_t MpGuiBase_base::notifyPin(int32_t pinIndex, int32_t voice) {
    return gmpi::guardedCall([&] { return GuiPinOwner::notifyPin(pinIndex, voice); });
}

int32_t MpGuiBase_base::attachHost(gmpi::IMpUnknown* hostObject) {
    return gmpi::guardedCall([&] { return attachHostServices(hostObject); });
}

int32_t MpGuiBase_base::attachHostServices(gmpi::IMpUnknown* hostObject) {
    int32_t result = gmpi::kResultFailed;
    host = queryHostService(hostObject, gmpi::kIidEditorHost, &result);
    return host != nullptr ? result : gmpi::kResultFailed;
}

int32_t MpGuiBase_base::sendPinValue(int32_t pinIndex, int32_t byteCount, const void* data, int32_t voice) {
    // An editor made without a host (createInstance2 of a first-generation editor) has nowhere to send.
    if (host == nullptr)
        return gmpi::kResultFailed;
    return static_cast<gmpi::IEditorHost*>(host)->sendPinValue(pinIndex, byteCount, data, voice);
}

int32_t MpGuiBase2::queryInterface(const gmpi::InterfaceId& iid, void** object) {
    return gmpi::guardedCall([&] {
        return answerInterface(static_cast<gmpi::IMpUserInterface2*>(this), iid, gmpi::kIidUserInterface2,
                               object);
    });
}

int32_t MpGuiBase2::attachHost(gmpi::IMpUnknown* hostObject) {
    return gmpi::guardedCall([&] {
        host = queryHostService(hostObject, gmpi::kIidEditorHost2, nullptr);
        return host != nullptr ? gmpi::kResultOk : gmpi::kResultUnsupported;
    });
}

int32_t MpGuiBase2::initialize() {
    return gmpi::guardedCall([&] {
        for (const auto& entry : pins)
            entry.second->notifyIfDefault(entry.first);
        return gmpi::kResultOk;
    });
}

int32_t MpGuiBase2::setPin(int32_t pinIndex, int32_t voice, int32_t byteCount, const void* data) {
    return gmpi::guardedCall([&] { return GuiPinOwner::setPin(pinIndex, voice, byteCount, data, true); });
}

int32_t MpGuiBase2::sendPinValue(int32_t pinIndex, int32_t byteCount, const void* data, int32_t voice) {
    if (host == nullptr)
        return gmpi::kResultFailed;
    return static_cast<gmpi::IEditorHost2*>(host)->sendPinValue(pinIndex, byteCount, data, voice);
}
