// Curve text from anywhere (stored patches, typing): the editor's reader, the writer, the reader again,
// and the curve-points module's table builder driven through the module's interface table.
//
// Input: the bytes are the pin text's UTF-16 code units (an odd last byte is dropped).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "curve_editor/curve_text.h"
#include "reliability/rig.h"

namespace {

bool samePoint(const CurvePoint& a, const CurvePoint& b) {
    const bool xSame = rig::sameBits(a.x, b.x) || (std::isnan(a.x) && std::isnan(b.x));
    const bool ySame = rig::sameBits(a.y, b.y) || (std::isnan(a.y) && std::isnan(b.y));
    return xSame && ySame;
}

void fail(const char* what) {
    std::fprintf(stderr, "curve_text fuzz: %s\n", what);
    std::abort();
}

// One curve-points module for the whole run: the table block carries over from input to input, as in
// a session where one text follows another.
struct CurveModule {
    mphost::SharedMemoryPool pool;
    rig::GuardedBuffer in{64};
    rig::GuardedBuffer out{64};
    std::unique_ptr<rig::Module> module;
    bool started = false;

    CurveModule() {
        module = std::make_unique<rig::Module>(rig::kCurveModuleId, pool, 0x5eed);
        if (!module->valid())
            fail("the curve-points module is not registered");
        module->start(in.data(), out.data());
        for (std::size_t i = 0; i < in.size(); ++i)
            in.data()[i] = static_cast<float>(i) / 32.0f - 1.0f; // -10 V .. +10 V
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const PinText text = pinTextFromBytes(data, size);

    // Read into the default points, write, read the writer's text twice: from the writer's text on,
    // reading and writing must be stable.
    CurvePoint first[kCurvePointCount];
    parseCurveText(kDefaultCurveText, first);
    parseCurveText(text, first);
    const PinText written = formatCurveText(first);
    CurvePoint second[kCurvePointCount];
    bool incomplete = true;
    if (scanCurvePoints(written, second, kCurvePointCount, &incomplete) != kCurvePointCount || incomplete)
        fail("the writer's text does not read back as 11 points");
    const PinText rewritten = formatCurveText(second);
    CurvePoint third[kCurvePointCount];
    parseCurveText(rewritten, third);
    for (int k = 0; k < kCurvePointCount; ++k) {
        if (!samePoint(second[k], third[k]))
            fail("reading the writer's text again gives other points");
    }
    if (rewritten != formatCurveText(third))
        fail("writing the points read back gives another text");

    // The table builder, through the module: the text arrives as a pin value event of the block.
    static CurveModule curve;
    const uint32_t byteSize = static_cast<uint32_t>(text.size() * 2);
    std::unique_ptr<char16_t[]> payload(new char16_t[text.size() + 1]);
    if (!text.empty())
        std::memcpy(payload.get(), text.data(), byteSize);
    std::unique_ptr<gmpi::HostEvent> start(new gmpi::HostEvent{});
    std::unique_ptr<gmpi::HostEvent> value(new gmpi::HostEvent{});
    value->type = gmpi::kEventPinValue;
    value->pinId = 0;
    value->byteSize = byteSize;
    value->dataPointer = payload.get();
    start->type = gmpi::kEventStart;
    start->next = value.get();
    curve.module->process(64, curve.started ? value.get() : start.get());
    curve.started = true;

    const float* table = curve.module->table();
    if (table == nullptr)
        fail("the module has no table block");
    if (!rig::allFinite(table))
        fail("a table entry is not finite");
    if (!rig::blockTailIntact(table, curve.pool.fill))
        fail("the table block was written past entry 512");
    if (!curve.in.guardsIntact() || !curve.out.guardsIntact())
        fail("an audio buffer was written outside its samples");
    for (std::size_t i = 0; i < curve.out.size(); ++i) {
        if (!std::isfinite(curve.out.data()[i]))
            fail("an output sample is not finite");
    }
    return 0;
}
