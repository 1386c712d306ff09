// A software drawing surface that follows the system's drawing rules pixel for pixel for what the
// editors draw: solid brushes, one-pixel solid pens, lines and polylines, and text in a small built-in
// bitmap font (digits, '-', '.', ',' and space).
#pragma once

#include <cstdint>
#include <vector>

#include "gui/painter.h"

namespace gfx {

class Canvas {
public:
    Canvas(int width = 0, int height = 0, Colour fill = gfx::rgb(0, 0, 0));

    void resize(int width, int height, Colour fill);
    int width() const { return w; }
    int height() const { return h; }
    // Pixels outside the surface are ignored on writing and read as black.
    void setPixel(int32_t x, int32_t y, Colour colour);
    Colour pixel(int32_t x, int32_t y) const;
    // Rows from the top, 3 bytes per pixel: red, green, blue.
    const std::vector<uint8_t>& rgbBytes() const { return bytes; }

    void fillRect(const Rect& rect, Colour colour);
    // The line from (x0, y0) towards (x1, y1), leaving out (x1, y1).
    void line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, Colour colour);

private:
    int w = 0;
    int h = 0;
    std::vector<uint8_t> bytes;
};

// Glyph metrics of the built-in font: every character cell is kGlyphAdvance x kGlyphHeight pixels.
constexpr int kGlyphAdvance = 6;
constexpr int kGlyphHeight = 10;

// A device context drawing into a Canvas, with the state a paint starts with: the black one-pixel pen,
// the white brush, black text on an opaque white background, left/top alignment, position (0, 0).
class SoftwarePainter : public Painter {
public:
    explicit SoftwarePainter(Canvas& target);
    ~SoftwarePainter() override;
    SoftwarePainter(const SoftwarePainter&) = delete;
    SoftwarePainter& operator=(const SoftwarePainter&) = delete;

    // Back to the starting state; objects created and not deleted stay alive.
    void resetState();

    GdiObject createSolidBrush(Colour colour) override;
    GdiObject createPen(int style, int width, Colour colour) override;
    GdiObject createFontIndirect(const FontInfo& font) override;
    GdiObject selectObject(GdiObject object) override;
    bool deleteObject(GdiObject object) override;
    void fillRect(const Rect& rect, GdiObject brush) override;
    void moveTo(int32_t x, int32_t y) override;
    void lineTo(int32_t x, int32_t y) override;
    void polyline(const Point* points, int count) override;
    Colour setTextColor(Colour colour) override;
    int setBkMode(int mode) override;
    uint32_t setTextAlign(uint32_t align) override;
    void textOut(int32_t x, int32_t y, const wchar_t* text, int count) override;

    // Objects created and not yet deleted (stock objects not counted).
    int liveObjectCount() const;

    struct Object;

private:
    Object* find(GdiObject handle) const;

    Canvas& canvas;
    std::vector<Object*> objects;
    Object* stockPen;
    Object* stockBrush;
    Object* stockFont;
    Object* pen;
    Object* brush;
    Object* font;
    Point position{0, 0};
    Colour textColour = rgb(0, 0, 0);
    Colour backgroundColour = rgb(255, 255, 255);
    int backgroundMode = kBackgroundOpaque;
    uint32_t textAlign = kAlignLeft | kAlignTop;
};

} // namespace gfx
