// Curve text from anywhere (stored patches, typing): the editor's reader, the writer, the reader again,
// and the curve-points module's table builder driven through the module's interface table.
//
// Input: the bytes are the pin text's UTF-16 code units (an odd last byte is dropped).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "curve/curve_text.h"
#include "factory/module_ids.h"
#include "fuzz/text_module.h"
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
    static FuzzTextModule curve("curve_text", kCurveWaveshaperId, 0x5eed);
    if (!curve.valid())
        fail("the curve-points module is not registered");
    curve.sendTextAndCheck(text);
    return 0;
}
