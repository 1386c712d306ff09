// The drawing operations an editor performs on a paint device context, with the semantics and the
// values of the system's drawing interface: colours as 0x00BBGGRR, a line leaves out its last pixel,
// rectangles leave out their right and bottom edges.
#pragma once

#include <cstdint>

namespace gfx {

using Colour = uint32_t;
constexpr Colour rgb(int red, int green, int blue) {
    return static_cast<Colour>(red & 0xFF) | (static_cast<Colour>(green & 0xFF) << 8) |
           (static_cast<Colour>(blue & 0xFF) << 16);
}
constexpr int redOf(Colour c) {
    return static_cast<int>(c & 0xFF);
}
constexpr int greenOf(Colour c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int blueOf(Colour c) {
    return static_cast<int>((c >> 16) & 0xFF);
}

struct Point {
    int32_t x;
    int32_t y;
};

struct Rect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// The font description with the field order of the system's wide-character font record.
struct FontInfo {
    int32_t height;
    int32_t width;
    int32_t escapement;
    int32_t orientation;
    int32_t weight;
    uint8_t italic;
    uint8_t underline;
    uint8_t strikeOut;
    uint8_t charSet;
    uint8_t outPrecision;
    uint8_t clipPrecision;
    uint8_t quality;
    uint8_t pitchAndFamily;
    wchar_t faceName[32];
};

// Pens, brushes and fonts, as handles.
using GdiObject = void*;

constexpr int kPenSolid = 0;
constexpr int kBackgroundTransparent = 1;
constexpr int kBackgroundOpaque = 2;
constexpr uint32_t kAlignLeft = 0;
constexpr uint32_t kAlignTop = 0;
constexpr uint32_t kAlignRight = 2;
constexpr uint32_t kAlignCenter = 6;
constexpr uint32_t kAlignHorizontalMask = 6;

class Painter {
public:
    virtual ~Painter() = default;

    virtual GdiObject createSolidBrush(Colour colour) = 0;
    virtual GdiObject createPen(int style, int width, Colour colour) = 0;
    virtual GdiObject createFontIndirect(const FontInfo& font) = 0;
    // Selects a pen or font and returns the one it replaces.
    virtual GdiObject selectObject(GdiObject object) = 0;
    virtual bool deleteObject(GdiObject object) = 0;

    // Fills [left, right) x [top, bottom) with the brush.
    virtual void fillRect(const Rect& rect, GdiObject brush) = 0;
    virtual void moveTo(int32_t x, int32_t y) = 0;
    // Draws from the current position to (x, y) without that last pixel and moves there.
    virtual void lineTo(int32_t x, int32_t y) = 0;
    // Segments from point to point, each without its last pixel; the current position is not used.
    virtual void polyline(const Point* points, int count) = 0;

    virtual Colour setTextColor(Colour colour) = 0;
    virtual int setBkMode(int mode) = 0;
    virtual uint32_t setTextAlign(uint32_t align) = 0;
    virtual void textOut(int32_t x, int32_t y, const wchar_t* text, int count) = 0;
};

} // namespace gfx
