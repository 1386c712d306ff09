#include "gui/software_canvas.h"

#include <algorithm>
#include <cstdlib>

namespace gfx {

Canvas::Canvas(int width, int height, Colour fill) {
    resize(width, height, fill);
}

void Canvas::resize(int width, int height, Colour fill) {
    w = std::max(width, 0);
    h = std::max(height, 0);
    bytes.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3, 0);
    fillRect(Rect{0, 0, w, h}, fill);
}

void Canvas::setPixel(int32_t x, int32_t y, Colour colour) {
    if (x < 0 || y < 0 || x >= w || y >= h)
        return;
    uint8_t* p =
        &bytes[(static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) * 3];
    p[0] = static_cast<uint8_t>(redOf(colour));
    p[1] = static_cast<uint8_t>(greenOf(colour));
    p[2] = static_cast<uint8_t>(blueOf(colour));
}

Colour Canvas::pixel(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= w || y >= h)
        return rgb(0, 0, 0);
    const uint8_t* p =
        &bytes[(static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) * 3];
    return gfx::rgb(p[0], p[1], p[2]);
}

void Canvas::fillRect(const Rect& rect, Colour colour) {
    const int32_t left = std::max(rect.left, 0);
    const int32_t top = std::max(rect.top, 0);
    const int32_t right = std::min(rect.right, static_cast<int32_t>(w));
    const int32_t bottom = std::min(rect.bottom, static_cast<int32_t>(h));
    for (int32_t y = top; y < bottom; ++y) {
        for (int32_t x = left; x < right; ++x)
            setPixel(x, y, colour);
    }
}

namespace {

int64_t ceilDiv(int64_t a, int64_t b) {
    return a >= 0 ? (a + b - 1) / b : -((-a) / b);
}

// The direction classes of the system's line rule, numbered counter-clockwise from +x with y down.
int octantOf(int64_t dx, int64_t dy) {
    if (dy > 0) {
        if (dx > 0)
            return dx > dy ? 1 : 2;
        return -dx > dy ? 4 : 3;
    }
    if (dx < 0)
        return -dx > -dy ? 5 : 6;
    return dx > -dy ? 8 : 7;
}

} // namespace

// Bresenham's walk along the major axis with the system's tie rule: in octants 3, 5, 6 and 8 an error
// of exactly zero already takes the minor step. The minor offset of step m is computed in closed form,
// ceil((2 m minor - major + bias) / (2 major)), so only the steps that fall on the surface are visited.
void Canvas::line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, Colour colour) {
    const int64_t dx = static_cast<int64_t>(x1) - x0;
    const int64_t dy = static_cast<int64_t>(y1) - y0;
    if (dx == 0 && dy == 0)
        return;
    const int octant = octantOf(dx, dy);
    const int64_t bias = (octant == 3 || octant == 5 || octant == 6 || octant == 8) ? 1 : 0;
    const bool xMajor = octant == 1 || octant == 4 || octant == 5 || octant == 8;
    const int64_t xInc = dx >= 0 ? 1 : -1;
    const int64_t yInc = dy >= 0 ? 1 : -1;
    const int64_t major = xMajor ? std::llabs(dx) : std::llabs(dy);
    const int64_t minor = xMajor ? std::llabs(dy) : std::llabs(dx);
    const int64_t majorStart = xMajor ? x0 : y0;
    const int64_t majorInc = xMajor ? xInc : yInc;
    const int64_t majorLimit = xMajor ? w : h;

    // Steps m in [0, major) whose major coordinate majorStart + m * majorInc lies in [0, majorLimit).
    int64_t first = 0;
    int64_t last = major - 1;
    if (majorInc > 0) {
        first = std::max<int64_t>(first, -majorStart);
        last = std::min<int64_t>(last, majorLimit - 1 - majorStart);
    } else {
        first = std::max<int64_t>(first, majorStart - (majorLimit - 1));
        last = std::min<int64_t>(last, majorStart);
    }
    for (int64_t m = first; m <= last; ++m) {
        const int64_t k = ceilDiv(2 * m * minor - major + bias, 2 * major);
        const int64_t x = xMajor ? x0 + m * xInc : x0 + k * xInc;
        const int64_t y = xMajor ? y0 + k * yInc : y0 + m * yInc;
        if (x >= 0 && y >= 0 && x < w && y < h)
            setPixel(static_cast<int32_t>(x), static_cast<int32_t>(y), colour);
    }
}

struct SoftwarePainter::Object {
    enum Kind { kPen, kBrush, kFont } kind;
    Colour colour;
    int style;
};

namespace {

constexpr int kPenNull = 5;

// 5 x 7 glyphs, one byte per row, bit 4 the leftmost column.
struct Glyph {
    wchar_t character;
    uint8_t rows[7];
};

constexpr Glyph kGlyphs[] = {
    {L'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {L'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {L'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {L'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {L'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {L'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {L'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {L'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {L'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {L'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {L'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {L'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {L',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}}, {L' ', {0, 0, 0, 0, 0, 0, 0}},
};

const Glyph* glyphFor(wchar_t c) {
    for (const Glyph& g : kGlyphs) {
        if (g.character == c)
            return &g;
    }
    return nullptr;
}

} // namespace

SoftwarePainter::SoftwarePainter(Canvas& target)
    : canvas(target), stockPen(new Object{Object::kPen, rgb(0, 0, 0), kPenSolid}),
      stockBrush(new Object{Object::kBrush, rgb(255, 255, 255), 0}),
      stockFont(new Object{Object::kFont, 0, 0}), pen(stockPen), brush(stockBrush), font(stockFont) {}

SoftwarePainter::~SoftwarePainter() {
    for (Object* object : objects)
        delete object;
    delete stockPen;
    delete stockBrush;
    delete stockFont;
}

void SoftwarePainter::resetState() {
    pen = stockPen;
    brush = stockBrush;
    font = stockFont;
    position = Point{0, 0};
    textColour = rgb(0, 0, 0);
    backgroundColour = rgb(255, 255, 255);
    backgroundMode = kBackgroundOpaque;
    textAlign = kAlignLeft | kAlignTop;
}

SoftwarePainter::Object* SoftwarePainter::find(GdiObject handle) const {
    auto* object = static_cast<Object*>(handle);
    if (object == nullptr)
        return nullptr;
    if (object == stockPen || object == stockBrush || object == stockFont)
        return object;
    return std::find(objects.begin(), objects.end(), object) != objects.end() ? object : nullptr;
}

GdiObject SoftwarePainter::createSolidBrush(Colour colour) {
    objects.push_back(new Object{Object::kBrush, colour, 0});
    return objects.back();
}

GdiObject SoftwarePainter::createPen(int style, int /*width*/, Colour colour) {
    objects.push_back(new Object{Object::kPen, colour, style});
    return objects.back();
}

GdiObject SoftwarePainter::createFontIndirect(const FontInfo& /*font*/) {
    // Every font draws with the built-in glyphs.
    objects.push_back(new Object{Object::kFont, 0, 0});
    return objects.back();
}

GdiObject SoftwarePainter::selectObject(GdiObject handle) {
    Object* object = find(handle);
    if (object == nullptr)
        return nullptr;
    Object** slot = object->kind == Object::kPen ? &pen : object->kind == Object::kBrush ? &brush : &font;
    Object* previous = *slot;
    *slot = object;
    return previous;
}

bool SoftwarePainter::deleteObject(GdiObject handle) {
    Object* object = find(handle);
    if (object == nullptr)
        return false;
    if (object == stockPen || object == stockBrush || object == stockFont)
        return true;
    // A selected object stays alive.
    if (object == pen || object == brush || object == font)
        return false;
    objects.erase(std::find(objects.begin(), objects.end(), object));
    delete object;
    return true;
}

int SoftwarePainter::liveObjectCount() const {
    return static_cast<int>(objects.size());
}

void SoftwarePainter::fillRect(const Rect& rect, GdiObject handle) {
    const Object* object = find(handle);
    if (object == nullptr || object->kind != Object::kBrush)
        return;
    canvas.fillRect(rect, object->colour);
}

void SoftwarePainter::moveTo(int32_t x, int32_t y) {
    position = Point{x, y};
}

void SoftwarePainter::lineTo(int32_t x, int32_t y) {
    if (pen->style != kPenNull)
        canvas.line(position.x, position.y, x, y, pen->colour);
    position = Point{x, y};
}

void SoftwarePainter::polyline(const Point* points, int count) {
    if (points == nullptr || count < 2 || pen->style == kPenNull)
        return;
    for (int i = 1; i < count; ++i)
        canvas.line(points[i - 1].x, points[i - 1].y, points[i].x, points[i].y, pen->colour);
}

Colour SoftwarePainter::setTextColor(Colour colour) {
    const Colour previous = textColour;
    textColour = colour;
    return previous;
}

int SoftwarePainter::setBkMode(int mode) {
    const int previous = backgroundMode;
    if (mode == kBackgroundTransparent || mode == kBackgroundOpaque)
        backgroundMode = mode;
    return previous;
}

uint32_t SoftwarePainter::setTextAlign(uint32_t align) {
    const uint32_t previous = textAlign;
    textAlign = align;
    return previous;
}

void SoftwarePainter::textOut(int32_t x, int32_t y, const wchar_t* text, int count) {
    if (text == nullptr || count <= 0)
        return;
    const int64_t width = static_cast<int64_t>(count) * kGlyphAdvance;
    int64_t left = x;
    const uint32_t horizontal = textAlign & kAlignHorizontalMask;
    if (horizontal == kAlignCenter)
        left = x - width / 2;
    else if (horizontal == kAlignRight)
        left = x - width;
    const int64_t top = y;
    for (int i = 0; i < count; ++i) {
        const int64_t cellLeft = left + static_cast<int64_t>(i) * kGlyphAdvance;
        if (cellLeft >= canvas.width() || cellLeft + kGlyphAdvance <= 0 || top >= canvas.height() ||
            top + kGlyphHeight <= 0)
            continue;
        const auto cx = static_cast<int32_t>(cellLeft);
        const auto cy = static_cast<int32_t>(top);
        if (backgroundMode == kBackgroundOpaque)
            canvas.fillRect(Rect{cx, cy, cx + kGlyphAdvance, cy + kGlyphHeight}, backgroundColour);
        const Glyph* glyph = glyphFor(text[i]);
        if (glyph == nullptr)
            continue;
        for (int row = 0; row < 7; ++row) {
            for (int column = 0; column < 5; ++column) {
                if (glyph->rows[row] & (0x10 >> column))
                    canvas.setPixel(cx + column, cy + 1 + row, textColour);
            }
        }
    }
}

} // namespace gfx
