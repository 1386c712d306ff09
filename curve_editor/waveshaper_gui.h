// The curve editor of "Vedivizor Arirezudez3": draws the 11-point transfer curve on a black panel with
// a grid, and lets the user drag the points with the left button. Every change goes to the host as the
// whole curve text on pin 0; a new text from the host is read into the points and redrawn.
#pragma once

#include <cstdint>

#include "curve/curve_text.h"
#include "gui/gfx_base.h"
#include "gui/painter.h"

// The curve editor module: the panel of the curve waveshaper, an editor-kind module.
class waveshaperGui : public DvGuiWindowsGfxBase {
public:
    waveshaperGui();
    ~waveshaperGui() override = default;

    int32_t handlePaint(platform::DeviceContext dc) override;
    int32_t handleLeftButtonDown(int32_t flags, int32_t x, int32_t y) override;
    int32_t handleLeftButtonUp(int32_t flags, int32_t x, int32_t y) override;
    int32_t handleMouseMove(int32_t flags, int32_t x, int32_t y) override;

    // The host reported a new curve text: read it into the points and redraw.
    void onCurvePinChanged();

    // The whole panel: grid, curve, point markers and, while dragging, the read-out. A panel of width
    // or height 0 draws nothing.
    void paint(gfx::Painter& painter);
    void drawGrid(gfx::Painter& painter);

    StringGuiPin curvePin;
    CurvePoint points[kCurvePointCount];
    // Handed to the host's style service on each paint; never read.
    unsigned char styleRecord[120];
    // Set while the editor writes and sends its own text, so that a notification it causes is ignored.
    bool sendingText = false;
    int32_t lastMouseX = 0;
    int32_t lastMouseY = 0;
    // The point being dragged, -1 when none.
    int32_t dragIndex = -1;

private:
    int32_t panelWidth() const;
    int32_t panelHeight() const;
};
