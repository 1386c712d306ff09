// The editor bases of both generations, driven through their operation tables as a host drives them.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "gui/mp_gui_base.h"
#include "host/raw_calls.h"
#include "host/stand_in_editor_host.h"

namespace {

using namespace mphost;

// Records the order of notifications and the voice that reached the callback.
struct CallLog {
    std::vector<std::pair<int32_t, int32_t>> calls; // (pin index, voice)
};

class LoggingCallback : public IGuiPinCallbackImpl {
public:
    LoggingCallback(CallLog* log, int32_t index) : log(log), index(index) {}
    void invoke(int32_t voice) override { log->calls.emplace_back(index, voice); }

private:
    CallLog* log;
    int32_t index;
};

class Editor1 : public MpGuiBase {
public:
    Editor1() {
        textPin.callback = new IGuiPinCallback<gmpi::IMpUserInterface>(this, &Editor1::onText);
        registerPin(0, &textPin);
        registerPin(2, &silentPin);
    }
    int32_t MP_CALL addRef() override { return ++count; }
    int32_t MP_CALL release() override {
        if (--count == 0) {
            delete this;
            return 0;
        }
        return count;
    }
    void onText() { ++changes; }

    StringGuiPin textPin;
    StringGuiPin silentPin; // no callback
    int changes = 0;
    int32_t count = 1;
};

class Editor2 : public MpGuiBase2 {
public:
    Editor2() {
        for (int i = 0; i < 3; ++i) {
            pinsHeld[i].callback = new LoggingCallback(&log, kIndices[i]);
            registerPin(kIndices[i], &pinsHeld[i]);
        }
    }
    int32_t MP_CALL addRef() override { return ++count; }
    int32_t MP_CALL release() override { return --count; }

    static constexpr int32_t kIndices[3] = {7, 0, 3};
    StringGuiPin pinsHeld[3];
    CallLog log;
    int32_t count = 1;
};
constexpr int32_t Editor2::kIndices[3];

void* face(Editor1& e) {
    return static_cast<gmpi::IMpUserInterface*>(&e);
}
void* face(Editor2& e) {
    return static_cast<gmpi::IMpUserInterface2*>(&e);
}

TEST(EditorPins, SetPinStoresTheBytesItIsGiven) {
    struct Case {
        const char* what;
        PinText before;
        int32_t byteCount;
        std::vector<char16_t> data; // empty: null pointer
        int32_t result;
        PinText after;
        bool secondGenerationNotified;
    };
    const Case cases[] = {
        {"equal bytes", u"abcd", 8, {u'a', u'b', u'c', u'd'}, gmpi::kResultOk, u"abcd", false},
        {"odd count drops the last byte", u"", 7, {u'w', u'x', u'y', u'z'}, gmpi::kResultOk, u"wxy", true},
        {"zero count empties", u"abcd", 0, {u'q'}, gmpi::kResultOk, u"", true},
        {"zero count on empty", u"", 0, {}, gmpi::kResultOk, u"", false},
        {"zeros are kept", u"", 6, {u'a', u'\0', u'b'}, gmpi::kResultOk, PinText(u"a\0b", 3), true},
        {"prefix of current value", u"abcd", 4, {u'a', u'b'}, gmpi::kResultOk, u"ab", true},
        {"count without bytes", u"abcd", 4, {}, gmpi::kResultFailed, u"abcd", false},
        {"negative count", u"abcd", -2, {u'a'}, gmpi::kResultFailed, u"abcd", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const void* data = c.data.empty() ? nullptr : c.data.data();

        Editor1 first;
        first.textPin.value = c.before;
        EXPECT_EQ(raw::editor::setPin(face(first), 0, 5, c.byteCount, data), c.result);
        EXPECT_EQ(first.textPin.value, c.after);
        EXPECT_EQ(first.changes, 0) << "the first generation waits for notifyPin";

        Editor2 second;
        second.pinsHeld[1].value = c.before;
        EXPECT_EQ(raw::editor2::setPin(face(second), 0, 5, c.byteCount, data), c.result);
        EXPECT_EQ(second.pinsHeld[1].value, c.after);
        if (c.secondGenerationNotified) {
            ASSERT_EQ(second.log.calls.size(), 1u);
            EXPECT_EQ(second.log.calls[0], std::make_pair(0, 5));
        } else {
            EXPECT_TRUE(second.log.calls.empty());
        }
    }
}

TEST(EditorPins, UnknownPinIndexChangesNothing) {
    Editor1 first;
    const char16_t bytes[] = u"xy";
    EXPECT_EQ(raw::editor::setPin(face(first), 1, 0, 4, bytes), gmpi::kResultFailed);
    EXPECT_EQ(raw::editor::notifyPin(face(first), 1, 0), gmpi::kResultFailed);
    EXPECT_EQ(raw::editor::setPin(face(first), -1, 0, 4, bytes), gmpi::kResultFailed);
    EXPECT_EQ(first.changes, 0);
    EXPECT_TRUE(first.textPin.value.empty());

    Editor2 second;
    EXPECT_EQ(raw::editor2::setPin(face(second), 1, 0, 4, bytes), gmpi::kResultFailed);
    EXPECT_TRUE(second.log.calls.empty());
}

TEST(EditorPins, FirstGenerationNotifiesOnlyOnNotifyPin) {
    Editor1 editor;
    const char16_t bytes[] = u"xy";
    EXPECT_EQ(raw::editor::setPin(face(editor), 0, 0, 4, bytes), gmpi::kResultOk);
    EXPECT_EQ(editor.changes, 0);
    EXPECT_EQ(raw::editor::notifyPin(face(editor), 0, 3), gmpi::kResultOk);
    EXPECT_EQ(editor.changes, 1);
    // An unchanged value is notified just the same: the host decides.
    EXPECT_EQ(raw::editor::notifyPin(face(editor), 0, 0), gmpi::kResultOk);
    EXPECT_EQ(editor.changes, 2);
    // A pin without callback: accepted, nothing runs.
    EXPECT_EQ(raw::editor::notifyPin(face(editor), 2, 0), gmpi::kResultOk);
    EXPECT_EQ(editor.changes, 2);
}

TEST(EditorPins, SecondGenerationDefaultPassNotifiesEmptyPinsInIndexOrder) {
    Editor2 editor;
    editor.pinsHeld[2].value = u"set"; // pin 3
    EXPECT_EQ(raw::editor2::initialize(face(editor)), gmpi::kResultOk);
    const std::vector<std::pair<int32_t, int32_t>> expected = {{0, 0}, {7, 0}};
    EXPECT_EQ(editor.log.calls, expected);
}

TEST(EditorPins, FirstRegistrationOfAnIndexStays) {
    Editor1 editor;
    StringGuiPin intruder;
    editor.registerPin(0, &intruder);
    EXPECT_EQ(editor.pins.at(0), &editor.textPin);
    const char16_t bytes[] = u"xy";
    raw::editor::setPin(face(editor), 0, 0, 4, bytes);
    EXPECT_EQ(editor.textPin.value, u"xy");
    EXPECT_TRUE(intruder.value.empty());
}

TEST(EditorPins, TextPinAnswersItsKindsAndBytes) {
    StringGuiPin pin;
    pin.value = u"abc";
    EXPECT_EQ(pin.valueKind(), 1);
    EXPECT_EQ(pin.valueSubKind(), 0);
    EXPECT_EQ(pin.getByteCount(), 6);
    EXPECT_EQ(pin.getValue(), u"abc");
}

TEST(EditorPins, SendingGoesToTheHostOnlyWhenTheValueChanges) {
    for (int generation = 1; generation <= 2; ++generation) {
        SCOPED_TRACE(generation);
        EditorHost host;
        Editor1 first;
        Editor2 second;
        StringGuiPin* pin = nullptr;
        if (generation == 1) {
            EXPECT_EQ(static_cast<IoldSchoolInitialisation&>(first).attachHost(host.unknown()),
                      gmpi::kResultOk);
            pin = &first.textPin;
        } else {
            EXPECT_EQ(raw::editor2::attachHost(face(second), host.unknown()), gmpi::kResultOk);
            pin = &second.pinsHeld[1];
        }
        EXPECT_TRUE(pin->sendValue(u"abc"));
        EXPECT_FALSE(pin->sendValue(u"abc"));
        EXPECT_TRUE(pin->sendValue(u""));
        ASSERT_EQ(host.pinValues.size(), 2u);
        EXPECT_EQ(host.pinValues[0].pinIndex, 0);
        EXPECT_EQ(host.pinValues[0].byteCount, 6);
        EXPECT_EQ(host.pinValues[0].text, u"abc");
        EXPECT_EQ(host.pinValues[0].voice, 0);
        EXPECT_EQ(host.pinValues[1].byteCount, 0);
        // Sending is not a change notification.
        EXPECT_EQ(first.changes, 0);
        EXPECT_TRUE(second.log.calls.empty());
    }
}

TEST(EditorPins, InterfacesAnsweredAndRefused) {
    Editor1 first;
    Editor2 second;
    struct Case {
        void* object;
        gmpi::InterfaceId iid;
        bool answered;
    };
    const Case cases[] = {
        {face(first), gmpi::kIidUserInterface, true},    {face(first), gmpi::kIidUnknown, true},
        {face(first), gmpi::kIidUserInterface2, false},  {face(first), gmpi::kIidGraphicsWinGdi, false},
        {face(first), gmpi::kIidPlugin, false},          {face(second), gmpi::kIidUserInterface2, true},
        {face(second), gmpi::kIidUnknown, true},         {face(second), gmpi::kIidUserInterface, false},
        {face(second), gmpi::kIidGraphicsWinGdi, false},
    };
    for (const Case& c : cases) {
        void* out = reinterpret_cast<void*>(1);
        const int32_t before = c.object == face(first) ? first.count : second.count;
        const int32_t result = raw::queryInterface(c.object, c.iid, &out);
        const int32_t after = c.object == face(first) ? first.count : second.count;
        if (c.answered) {
            EXPECT_EQ(result, gmpi::kResultOk);
            EXPECT_EQ(out, c.object);
            EXPECT_EQ(after, before + 1);
        } else {
            EXPECT_EQ(result, gmpi::kResultUnsupported);
            EXPECT_EQ(out, nullptr);
            EXPECT_EQ(after, before);
        }
    }
}

TEST(EditorPins, ReservedOperations) {
    Editor1 first;
    Editor2 second;
    EXPECT_EQ(raw::editor::initialize(face(first)), gmpi::kResultOk);
    EXPECT_EQ(raw::editor::reservedA(face(first), 1, 2, 3), gmpi::kResultOk);
    EXPECT_EQ(raw::editor::reservedB(face(first)), gmpi::kResultOk);
    EXPECT_EQ(raw::editor::reservedC(face(first), 1), gmpi::kResultOk);
    EXPECT_EQ(raw::editor2::reservedA(face(second), 1, 2, 3), gmpi::kResultFailed);
    EXPECT_EQ(raw::editor2::reservedB(face(second), 1, 2, 3), gmpi::kResultFailed);
    EXPECT_EQ(raw::editor2::reservedC(face(second), 1), gmpi::kResultFailed);
    EXPECT_EQ(raw::editor2::reservedD(face(second), 1, 2, 3), gmpi::kResultFailed);
}

TEST(EditorHostServices, MissingServiceFailsTheAttachment) {
    EditorHost host;
    host.offerEditorHost = false;
    Editor1 first;
    // Reported as a result: nothing is raised through the table.
    EXPECT_EQ(static_cast<IoldSchoolInitialisation&>(first).attachHost(host.unknown()), gmpi::kResultFailed);
    EXPECT_EQ(first.host, nullptr);
    host.offerEditorHost2 = false;
    Editor2 second;
    EXPECT_EQ(raw::editor2::attachHost(face(second), host.unknown()), gmpi::kResultUnsupported);
    EXPECT_EQ(second.host, nullptr);
}

TEST(EditorHostServices, FactoryReportsAMissingServiceOfTheCurveEditor) {
    void* factory = nullptr;
    ASSERT_EQ(MpFactory::instance()->queryInterface(gmpi::kIidFactory2, &factory), gmpi::kResultOk);
    struct Case {
        bool editor, window, style;
        int32_t result;
    };
    const Case cases[] = {{false, true, true, gmpi::kResultFailed},
                          {true, false, true, gmpi::kResultFailed},
                          {true, true, false, gmpi::kResultFailed},
                          {true, true, true, gmpi::kResultOk}};
    for (const Case& c : cases) {
        EditorHost host;
        host.offerEditorHost = c.editor;
        host.offerWindowHost = c.window;
        host.offerStyleHost = c.style;
        host.offerEditorHost2 = false;
        void* object = nullptr;
        EXPECT_EQ(raw::createInstance(factory, kCurveWaveshaperId, kEditorModule, host.unknown(), &object),
                  c.result);
        if (c.result == gmpi::kResultOk) {
            ASSERT_NE(object, nullptr);
            void* graphics = nullptr;
            EXPECT_EQ(raw::queryInterface(object, gmpi::kIidGraphicsWinGdi, &graphics), gmpi::kResultOk);
            EXPECT_NE(graphics, nullptr);
            EXPECT_EQ(raw::release(graphics), 1);
        }
        if (object != nullptr) {
            EXPECT_EQ(raw::release(object), 0);
        }
    }
}

} // namespace
