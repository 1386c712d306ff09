// Editor-side pins: the values an editor receives from the host and sends back, and the change
// callbacks that tell the editor a pin has changed. Everything here runs on the editor thread (the
// legend of factory/plugin_interfaces.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <type_traits>
#include <utility>

#include "factory/pin_text.h"

class GuiPinOwner;

// A change callback owned by a pin, which deletes it with itself.
class IGuiPinCallbackImpl {
public:
    virtual ~IGuiPinCallbackImpl() = default;
    // [editor thread] Runs inside setPin, notifyPin or initialize, before they return.
    virtual void invoke(int32_t voice) = 0;
};

// Runs one argument-less member operation of an editor object; the voice is not passed on. The object
// is held as Target (the editor interface) so that every editor class shares one callback type.
template <class Target> class IGuiPinCallback : public IGuiPinCallbackImpl {
public:
    using Method = void (Target::*)();

    template <class Editor>
    IGuiPinCallback(Editor* editor, void (Editor::*handler)())
        : object(editor), method(static_cast<Method>(handler)) {}

    void invoke(int32_t /*voice*/) override { (object->*method)(); }

private:
    Target* object;
    Method method;
};

// A pin of an editor module: its number, owner and change callback.
class MpGuiPinBase {
public:
    MpGuiPinBase() = default;
    MpGuiPinBase(const MpGuiPinBase&) = delete;
    MpGuiPinBase& operator=(const MpGuiPinBase&) = delete;
    virtual ~MpGuiPinBase() { delete callback; }

    // Takes the value from the host's bytes; returns true when it changed.
    virtual bool setValueRaw(int32_t voice, int32_t byteCount, const void* data) = 0;
    // What kind of value the pin holds (1 for text); nothing in the library asks.
    virtual int32_t valueKind() const = 0;
    // Asks the owner to notify this pin when its value is the default one.
    virtual void notifyIfDefault(int32_t pinIndex) = 0;

    int32_t pinIndex = -1;
    GuiPinOwner* owner = nullptr;
    // Owned: deleted with the pin.
    IGuiPinCallbackImpl* callback = nullptr;
};

// How a value type travels as bytes. Plain values travel as their object bytes.
template <class T> struct GuiPinValueBytes {
    static_assert(std::is_trivially_copyable<T>::value, "plain values travel as their bytes");
    static int32_t byteCount(const T&) { return static_cast<int32_t>(sizeof(T)); }
    static const void* bytes(const T& value) { return &value; }
    static T fromBytes(int32_t byteCount, const void* data) {
        T value{};
        if (byteCount > 0 && data != nullptr)
            std::memcpy(&value, data, std::min(static_cast<std::size_t>(byteCount), sizeof(T)));
        return value;
    }
    static constexpr int32_t kFirstKind = 0;
    static constexpr int32_t kSecondKind = 0;
};

// Text travels as UTF-16 code units without terminator, 2 bytes each.
template <> struct GuiPinValueBytes<PinText> {
    static int32_t byteCount(const PinText& value) { return pinTextByteSize(value); }
    static const void* bytes(const PinText& value) { return value.data(); }
    static PinText fromBytes(int32_t byteCount, const void* data) {
        return byteCount > 0 ? pinTextFromBytes(data, static_cast<std::size_t>(byteCount)) : PinText();
    }
    static constexpr int32_t kFirstKind = 1;
    static constexpr int32_t kSecondKind = 0;
};

// Keeps an editor's pins (without owning them) and the host service through which values go out.
class GuiPinOwner {
public:
    // [editor thread] Hands the host the new value of a pin; data stays the pin's.
    virtual int32_t sendPinValue(int32_t pinIndex, int32_t byteCount, const void* data, int32_t voice) = 0;

    // Gives the pin its index and owner and enters it; an index already taken keeps its first pin.
    void registerPin(int32_t pinIndex, MpGuiPinBase* pin);

    // Stores a value from the host. Unknown index, a negative byte count or missing bytes: kResultFailed
    // and nothing changes. With notifyOnChange the pin's callback runs when the value changed.
    int32_t setPin(int32_t pinIndex, int32_t voice, int32_t byteCount, const void* data, bool notifyOnChange);
    // Runs the pin's callback, if it has one. Unknown index: kResultFailed.
    int32_t notifyPin(int32_t pinIndex, int32_t voice);

    std::map<int32_t, MpGuiPinBase*> pins;
    // The host's editor service (IEditorHost or IEditorHost2, as the base asked for), null until
    // attached; held without a reference, never released.
    void* host = nullptr;

protected:
    // The editor is destroyed through its own virtual destructor; the pins are members of the editor
    // and are not deleted through the map.
    ~GuiPinOwner() { pins.clear(); }
};

template <class T> class MpGuiPin : public MpGuiPinBase {
    using Bytes = GuiPinValueBytes<T>;

public:
    bool setValueRaw(int32_t /*voice*/, int32_t byteCount, const void* data) override {
        if (byteCount < 0 || (byteCount > 0 && data == nullptr))
            return false;
        const int32_t current = Bytes::byteCount(value);
        if (byteCount == current &&
            (current == 0 || std::memcmp(data, Bytes::bytes(value), static_cast<std::size_t>(current)) == 0))
            return false;
        value = Bytes::fromBytes(byteCount, data);
        return true;
    }
    int32_t valueKind() const override { return Bytes::kFirstKind; }
    void notifyIfDefault(int32_t index) override {
        if (value == T() && owner != nullptr)
            owner->notifyPin(index, 0);
    }
    virtual int32_t getByteCount() const { return Bytes::byteCount(value); }
    virtual const void* getBytes() const { return Bytes::bytes(value); }
    virtual int32_t valueSubKind() const { return Bytes::kSecondKind; }

    T getValue() const { return value; }

    // The editor's own edit: a different value is stored and sent to the host through the owner (voice
    // 0); an equal one is not sent. The pin's own callback does not run. Returns true when sent.
    bool sendValue(const T& newValue) {
        if (newValue == value)
            return false;
        // Copied before the pin changes: a copy that cannot be made (no memory) leaves the pin as it was.
        T copy(newValue);
        value = std::move(copy);
        if (owner != nullptr)
            owner->sendPinValue(pinIndex, getByteCount(), getBytes(), 0);
        return true;
    }

    T value{};
};

// The editor's text pin.
class StringGuiPin : public MpGuiPin<PinText> {};
