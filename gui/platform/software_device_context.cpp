// The device context of the window systems that draw with a software canvas (the window-system-free
// one and X11): the handle beginPaint returns is the window's SoftwarePainter, and every drawing
// operation goes to it.
#include "gui/platform/platform.h"
#include "gui/software_canvas.h"

namespace platform {

namespace {
gfx::SoftwarePainter& painterOf(DeviceContext dc) {
    return *static_cast<gfx::SoftwarePainter*>(dc);
}
} // namespace

gfx::GdiObject DcPainter::createSolidBrush(gfx::Colour colour) {
    return painterOf(dc).createSolidBrush(colour);
}
gfx::GdiObject DcPainter::createPen(int style, int width, gfx::Colour colour) {
    return painterOf(dc).createPen(style, width, colour);
}
gfx::GdiObject DcPainter::createFontIndirect(const gfx::FontInfo& font) {
    return painterOf(dc).createFontIndirect(font);
}
gfx::GdiObject DcPainter::selectObject(gfx::GdiObject object) {
    return painterOf(dc).selectObject(object);
}
bool DcPainter::deleteObject(gfx::GdiObject object) {
    return painterOf(dc).deleteObject(object);
}
void DcPainter::fillRect(const gfx::Rect& rect, gfx::GdiObject brush) {
    painterOf(dc).fillRect(rect, brush);
}
void DcPainter::moveTo(int32_t x, int32_t y) {
    painterOf(dc).moveTo(x, y);
}
void DcPainter::lineTo(int32_t x, int32_t y) {
    painterOf(dc).lineTo(x, y);
}
void DcPainter::polyline(const gfx::Point* points, int count) {
    painterOf(dc).polyline(points, count);
}
gfx::Colour DcPainter::setTextColor(gfx::Colour colour) {
    return painterOf(dc).setTextColor(colour);
}
int DcPainter::setBkMode(int mode) {
    return painterOf(dc).setBkMode(mode);
}
uint32_t DcPainter::setTextAlign(uint32_t align) {
    return painterOf(dc).setTextAlign(align);
}
void DcPainter::textOut(int32_t x, int32_t y, const wchar_t* text, int count) {
    painterOf(dc).textOut(x, y, text, count);
}

} // namespace platform
