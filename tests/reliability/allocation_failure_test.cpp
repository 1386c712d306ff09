// Interface operations while memory runs out: this program's allocator (tests/support/alloc_counter.cpp)
// fails on request. A host written in C cannot catch a C++ exception, so every operation must come
// back with a result, and the module must go on working with what it had.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "curve/curve_text.h"
#include "curve_editor/waveshaper_gui.h"
#include "factory/interface_id.h"
#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "host/event_list.h"
#include "host/raw_calls.h"
#include "host/stand_in_editor_host.h"
#include "host/stand_in_processing_host.h"
#include "reliability/rig.h"
#include "support/alloc_counter.h"
#include "waveshaper/waveshaper.h"

namespace {

namespace raw = mphost::raw;
using mphost::EventList;

// Every allocation fails while one of these lives.
struct OutOfMemory {
    OutOfMemory() { alloc::failAllocations(true); }
    ~OutOfMemory() { alloc::failAllocations(false); }
    OutOfMemory(const OutOfMemory&) = delete;
    OutOfMemory& operator=(const OutOfMemory&) = delete;
};

// A text the pin can take only by growing its room past the reserved length: the meaningful part,
// a NUL (where both modules stop reading) and padding.
PinText grown(const PinText& text) {
    PinText result = text;
    result.push_back(u'\0');
    result.append(kReservedTextLength + 500, u'y');
    return result;
}

struct ModuleCase {
    const wchar_t* id;
    PinText first;  // short: fits the reserved room
    PinText second; // different curve or formula
};

const PinText kIdentity = u"(-5.0,-5.0)(-4.0,-4.0)(-3.0,-3.0)(-2.0,-2.0)(-1.0,-1.0)(0.0,0.0)"
                          u"(1.0,1.0)(2.0,2.0)(3.0,3.0)(4.0,4.0)(5.0,5.0)";
const PinText kHalf = u"(-5.0,-2.5)(-4.0,-2.0)(-3.0,-1.5)(-2.0,-1.0)(-1.0,-0.5)(0.0,0.0)"
                      u"(1.0,0.5)(2.0,1.0)(3.0,1.5)(4.0,2.0)(5.0,2.5)";

// One module driven through its IMpPlugin2 table, with a 64-sample ramp through -0.6..0.6 as input.
class Driven {
public:
    Driven(const wchar_t* id, int32_t handle) : host(pool, handle, kFrames), in(kFrames), out(kFrames) {
        host.logging = false;
        void* object = nullptr;
        EXPECT_EQ(MpFactory::instance()->createInstance(id, kProcessingModule, &host, &object),
                  gmpi::kResultOk);
        EXPECT_EQ(raw::queryInterface(object, gmpi::kIidPlugin2, &plugin), gmpi::kResultOk);
        raw::release(object);
        module = dynamic_cast<Waveshaper*>(static_cast<gmpi::IMpPlugin2*>(plugin));
        EXPECT_EQ(raw::plugin2::open(plugin), gmpi::kResultOk);
        raw::plugin2::assignPinBuffer(plugin, kWaveshaperAudioInPin, in.data());
        raw::plugin2::assignPinBuffer(plugin, kWaveshaperAudioOutPin, out.data());
        for (int i = 0; i < kFrames; ++i)
            in[i] = -0.6f + 1.2f * static_cast<float>(i) / (kFrames - 1);
    }
    ~Driven() { raw::release(plugin); }

    int32_t process(const EventList& events) {
        return raw::plugin2::processBlock(plugin, kFrames, events.head());
    }
    std::vector<float> table() const {
        const float* t = module->table;
        return std::vector<float>(t, t + kTableEntries);
    }

    static constexpr int kFrames = 64;
    mphost::SharedMemoryPool pool;
    mphost::ProcessingHost host;
    void* plugin = nullptr;
    Waveshaper* module = nullptr;
    std::vector<float> in, out;
};

TEST(OutOfMemory, ATextThatCannotBeStoredLeavesTheModuleWorkingWithItsPreviousText) {
    const ModuleCase cases[] = {{kCurveWaveshaperId, kIdentity, kHalf},
                                {kFormulaWaveshaperId, u"tanh(x)*4", u"x*0.5"}};
    for (const ModuleCase& c : cases) {
        SCOPED_TRACE(std::string(c.id, c.id + std::char_traits<wchar_t>::length(c.id)));
        Driven module(c.id, 7);
        ASSERT_NE(module.module, nullptr);
        EventList first;
        first.start(0).pinValue(0, kWaveshaperTextPin, c.first).streaming(0, kWaveshaperAudioInPin, true);
        ASSERT_EQ(module.process(first), gmpi::kResultOk);
        const std::vector<float> firstTable = module.table();

        // The same module given the second text when memory is there: what a working module makes.
        Driven reference(c.id, 8);
        EventList referenceEvents;
        referenceEvents.start(0).pinValue(0, kWaveshaperTextPin, grown(c.second));
        ASSERT_EQ(reference.process(referenceEvents), gmpi::kResultOk);
        const std::vector<float> secondTable = reference.table();
        ASSERT_NE(firstTable, secondTable);

        // The new text arrives in the middle of a block, with the input's streaming stopping at the same
        // sample (which must not be lost with it), and there is no memory to store the text.
        EventList failing;
        failing.pinValue(10, kWaveshaperTextPin, grown(c.second)).streaming(10, kWaveshaperAudioInPin, false);
        std::fill(module.out.begin(), module.out.end(), 99.0f);
        int32_t result = gmpi::kResultOk;
        {
            OutOfMemory outOfMemory;
            result = module.process(failing);
        }
        EXPECT_EQ(result, gmpi::kResultFailed);
        EXPECT_EQ(module.module->textPin.value, c.first);
        EXPECT_EQ(module.table(), firstTable);
        EXPECT_FALSE(module.module->inputPin.isStreaming());
        // The whole block was shaped, with the previous table.
        for (int i = 0; i < Driven::kFrames; ++i)
            ASSERT_EQ(module.out[i], shapeSample(firstTable.data(), module.in[i])) << "sample " << i;

        // With memory back, the same text is taken.
        EventList again;
        again.pinValue(0, kWaveshaperTextPin, grown(c.second)).streaming(0, kWaveshaperAudioInPin, true);
        EXPECT_EQ(module.process(again), gmpi::kResultOk);
        EXPECT_EQ(module.table(), secondTable);
        EXPECT_EQ(module.module->textPin.value, grown(c.second));
        for (int i = 0; i < Driven::kFrames; ++i)
            ASSERT_EQ(module.out[i], shapeSample(secondTable.data(), module.in[i])) << "sample " << i;
    }
}

TEST(OutOfMemory, FactoryOperationsReportAFailureOrNeedNoMemory) {
    void* factory = nullptr;
    ASSERT_EQ(MpFactory::instance()->queryInterface(gmpi::kIidFactory2, &factory), gmpi::kResultOk);
    void* object = reinterpret_cast<void*>(1);
    wchar_t text[28];
    std::fill(std::begin(text), std::end(text), L'#');
    int32_t version = 0;
    int32_t created = gmpi::kResultOk;
    int32_t createdWithHost = gmpi::kResultOk;
    int32_t information = gmpi::kResultOk;
    void* withHost = reinterpret_cast<void*>(1);
    mphost::EditorHost host;
    {
        OutOfMemory outOfMemory;
        created = raw::createInstance2(factory, kFormulaWaveshaperId, kProcessingModule, &object);
        createdWithHost =
            raw::createInstance(factory, kCurveWaveshaperId, kEditorModule, host.unknown(), &withHost);
        information = raw::querySdkInformation(factory, &version, 0, text);
    }
    EXPECT_EQ(created, gmpi::kResultFailed);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(createdWithHost, gmpi::kResultFailed);
    EXPECT_EQ(withHost, nullptr);
    // The build text needs no memory: all of it is written.
    EXPECT_EQ(information, gmpi::kResultOk);
    EXPECT_EQ(PinText(text, text + 27), pinTextFromWide(L"MS Compiler V1900 (Release)"));
    EXPECT_EQ(text[27], L'\0');
    // And the rest works again afterwards.
    EXPECT_EQ(raw::createInstance2(factory, kFormulaWaveshaperId, kProcessingModule, &object),
              gmpi::kResultOk);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(raw::release(object), 0);
}

TEST(OutOfMemory, AnEditorValueThatCannotBeStoredKeepsThePreviousCurve) {
    mphost::EditorHost host;
    void* editor = nullptr;
    ASSERT_EQ(
        MpFactory::instance()->createInstance(kCurveWaveshaperId, kEditorModule, host.unknown(), &editor),
        gmpi::kResultOk);
    auto* gui = dynamic_cast<waveshaperGui*>(static_cast<gmpi::IMpUserInterface*>(editor));
    ASSERT_NE(gui, nullptr);
    auto send = [&](const PinText& text) {
        const int32_t stored =
            raw::editor::setPin(editor, kCurveEditorTextPin, 0, pinTextByteSize(text), text.data());
        raw::editor::notifyPin(editor, kCurveEditorTextPin, 0);
        return stored;
    };
    auto pointsOf = [](const PinText& text) {
        CurvePoint points[kCurvePointCount] = {};
        parseCurveText(text, points);
        return std::vector<float>{points[0].y, points[1].y, points[5].y, points[9].y, points[10].y};
    };
    auto editorPoints = [&] {
        return std::vector<float>{gui->points[0].y, gui->points[1].y, gui->points[5].y, gui->points[9].y,
                                  gui->points[10].y};
    };
    ASSERT_EQ(send(kIdentity), gmpi::kResultOk);
    ASSERT_EQ(editorPoints(), pointsOf(kIdentity));
    ASSERT_NE(pointsOf(kIdentity), pointsOf(kHalf));

    // The host's value needs a new string, which cannot be had.
    const PinText longHalf = grown(kHalf);
    int32_t stored = gmpi::kResultOk;
    {
        OutOfMemory outOfMemory;
        stored = send(longHalf);
    }
    EXPECT_EQ(stored, gmpi::kResultFailed);
    EXPECT_EQ(gui->curvePin.value, kIdentity);
    EXPECT_EQ(editorPoints(), pointsOf(kIdentity));

    EXPECT_EQ(send(longHalf), gmpi::kResultOk);
    EXPECT_EQ(editorPoints(), pointsOf(kHalf));
    EXPECT_EQ(raw::release(editor), 0);
}

} // namespace
