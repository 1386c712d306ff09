#include "curve_editor/waveshaper_gui.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>

#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "numbers/number_text.h"

namespace {

const gfx::Colour kBackground = gfx::rgb(0, 0, 0);
const gfx::Colour kGridColour = gfx::rgb(0, 100, 0);
const gfx::Colour kCurveColour = gfx::rgb(0, 255, 0);
const gfx::Colour kTextColour = gfx::rgb(0, 250, 0);

// 1 / 2.15 in single precision: the +-5 V ticks and labels stand at 0.465 of the panel from the centre.
constexpr float kGridMarkScale = 0.46511626f;

// Far beyond any panel, yet inside the drawing interface's coordinate range.
constexpr float kPixelLimit = 100000000.0f;

bool isFinite(const CurvePoint& point) {
    return std::isfinite(point.x) && std::isfinite(point.y);
}

// Truncation toward zero of a finite or infinite pixel position, limited so that the conversion to an
// integer is always defined. Infinities from huge coordinates land far outside the panel.
int32_t toPixel(float value) {
    if (value > kPixelLimit)
        value = kPixelLimit;
    else if (value < -kPixelLimit)
        value = -kPixelLimit;
    return static_cast<int32_t>(value);
}

gfx::FontInfo textFont() {
    gfx::FontInfo font;
    std::memset(&font, 0, sizeof(font));
    font.height = -10;
    const wchar_t face[] = L"Terminal";
    std::memcpy(font.faceName, face, sizeof(face));
    return font;
}

// The panel's text font and text settings (text colour, transparent background, aligned top left),
// in force while the object lives; at its end the previous font is selected again and this one
// deleted, so no drawing path can leave a font behind.
class PanelTextFont {
public:
    explicit PanelTextFont(gfx::Painter& painter)
        : painter(painter), font(painter.createFontIndirect(textFont())),
          previousFont(painter.selectObject(font)) {
        painter.setTextColor(kTextColour);
        painter.setBkMode(gfx::kBackgroundTransparent);
        painter.setTextAlign(gfx::kAlignLeft | gfx::kAlignTop);
    }
    ~PanelTextFont() {
        painter.selectObject(previousFont);
        painter.deleteObject(font);
    }
    PanelTextFont(const PanelTextFont&) = delete;
    PanelTextFont& operator=(const PanelTextFont&) = delete;

private:
    gfx::Painter& painter;
    const gfx::GdiObject font;
    const gfx::GdiObject previousFont;
};

void drawText(gfx::Painter& painter, int32_t x, int32_t y, const std::string& text) {
    const std::wstring wide(text.begin(), text.end());
    painter.textOut(x, y, wide.c_str(), static_cast<int>(wide.size()));
}

int32_t extent(int32_t from, int32_t to) {
    const int64_t size = static_cast<int64_t>(to) - from;
    // A size that does not fit counts as no panel at all.
    return size > INT32_MAX || size < INT32_MIN ? 0 : static_cast<int32_t>(size);
}

gmpi::IMpUnknown* createWaveshaperGui() {
    return static_cast<gmpi::IMpUserInterface*>(new waveshaperGui());
}

const ModuleRegistration registration(kCurveWaveshaperId, kEditorModule, &createWaveshaperGui);

} // namespace

waveshaperGui::waveshaperGui() {
    for (CurvePoint& point : points)
        point = CurvePoint{0.0f, 0.0f};
    curvePin.callback = new IGuiPinCallback<gmpi::IMpUserInterface>(this, &waveshaperGui::onCurvePinChanged);
    registerPin(kCurveEditorTextPin, &curvePin);
}

int32_t waveshaperGui::panelWidth() const {
    return extent(windowRect.left, windowRect.right);
}
int32_t waveshaperGui::panelHeight() const {
    return extent(windowRect.top, windowRect.bottom);
}

int32_t waveshaperGui::handlePaint(platform::DeviceContext dc) {
    platform::DcPainter painter(dc);
    paint(painter);
    return 0;
}

void waveshaperGui::paint(gfx::Painter& painter) {
    int32_t styleValue = 0;
    if (styleHost != nullptr)
        styleHost->getStyleInfo(L"tty", styleRecord, &styleValue);

    const int32_t width = panelWidth();
    const int32_t height = panelHeight();
    if (width <= 0 || height <= 0)
        return;

    const gfx::GdiObject brush = painter.createSolidBrush(kBackground);
    painter.fillRect(gfx::Rect{0, 0, width + 1, height + 1}, brush);
    painter.deleteObject(brush);

    drawGrid(painter);

    const gfx::GdiObject pen = painter.createPen(gfx::kPenSolid, 1, kCurveColour);
    const gfx::GdiObject previousPen = painter.selectObject(pen);
    const float sx = static_cast<float>(width) * 0.01f;
    const float sy = static_cast<float>(height) * 0.01f;

    // The curve from point 10 down to point 0. A point that cannot be placed breaks the curve: the
    // segments on either side of it are left out.
    bool penDown = false;
    for (int k = kCurvePointCount - 1; k >= 0; --k) {
        if (!isFinite(points[k])) {
            penDown = false;
            continue;
        }
        const int32_t px = toPixel(points[k].x * sx + 0.5f);
        const int32_t py = toPixel(points[k].y * sy + 0.5f);
        if (penDown)
            painter.lineTo(px, py);
        else
            painter.moveTo(px, py);
        penDown = true;
    }

    for (int k = kCurvePointCount - 1; k >= 0; --k) {
        if (!isFinite(points[k]))
            continue;
        const int32_t left = toPixel(points[k].x * sx - 2.5f);
        const int32_t top = toPixel(points[k].y * sy - 2.5f);
        const gfx::Point square[5] = {
            {left, top}, {left + 6, top}, {left + 6, top + 6}, {left, top + 6}, {left, top}};
        painter.polyline(square, 5);
    }

    if (dragIndex >= 0 && dragIndex < kCurvePointCount) {
        const PanelTextFont text(painter);
        double xVolts = 0.0;
        double yVolts = 0.0;
        gridToVolts(points[dragIndex], &xVolts, &yVolts);
        drawText(painter, 0, 0, formatFixed(xVolts, 1, 3) + "," + formatFixed(yVolts, 1, 3));
    }

    painter.selectObject(previousPen);
    painter.deleteObject(pen);
}

void waveshaperGui::drawGrid(gfx::Painter& painter) {
    const int32_t width = panelWidth();
    const int32_t height = panelHeight();
    const int32_t cx = width / 2;
    const int32_t cy = height / 2;
    const float tx = static_cast<float>(width) * kGridMarkScale;
    const float ty = static_cast<float>(height) * kGridMarkScale;

    const gfx::GdiObject pen = painter.createPen(gfx::kPenSolid, 1, kGridColour);
    const gfx::GdiObject previousPen = painter.selectObject(pen);

    painter.moveTo(0, cy);
    painter.lineTo(width, cy);
    painter.moveTo(cx, 0);
    painter.lineTo(cx, height);
    painter.moveTo(0, height);
    painter.lineTo(width, 0);

    for (int i = -10; i <= 10; i += 2) {
        const int32_t half = i % 5 == 0 ? 4 : 2;
        const int32_t tickY = cy + toPixel((static_cast<float>(i) * ty) * 0.1f);
        painter.moveTo(cx - half, tickY);
        painter.lineTo(cx + half, tickY);
        const int32_t tickX = cx + toPixel((static_cast<float>(i) * tx) * 0.1f);
        painter.moveTo(tickX, cy - half);
        painter.lineTo(tickX, cy + half);
    }

    painter.selectObject(previousPen);
    painter.deleteObject(pen);

    if (height <= 30)
        return;
    uint32_t keptAlign = 0;
    {
        const PanelTextFont text(painter);
        // Vertical axis: -5, -3, 1, 3, 5 (no label for -1); positive values above the centre.
        for (float v = -5.0f; v < 5.1f; v += 2.0f) {
            if (v == -1.0f)
                continue;
            drawText(painter, cx + 4, cy - toPixel((v * ty) * 0.2f) - 5, formatFixed(v, 0, 2));
        }

        keptAlign = painter.setTextAlign(gfx::kAlignCenter | gfx::kAlignTop);
        // Horizontal axis: -4, -2, 0, 2, 4, centred under their ticks.
        for (float v = -4.0f; v < 4.1f; v += 2.0f)
            drawText(painter, cx + toPixel((v * tx) * 0.2f), cy + 4, formatFixed(v, 0, 2));
    }
    // The font goes before the alignment is restored, as it always has.
    painter.setTextAlign(keptAlign);
}

int32_t waveshaperGui::handleLeftButtonDown(int32_t /*flags*/, int32_t x, int32_t y) {
    dragIndex = -1;
    const float sx = static_cast<float>(panelWidth()) * 0.01f;
    const float sy = static_cast<float>(panelHeight()) * 0.01f;
    for (int k = kCurvePointCount - 1; k >= 0; --k) {
        if (!isFinite(points[k]))
            continue;
        const int32_t px = toPixel(points[k].x * sx);
        const int32_t py = toPixel(points[k].y * sy);
        const gfx::Rect hit{px - 3, py - 3, px + 3, py + 3};
        if (platform::ptInRect(hit, gfx::Point{x, y})) {
            lastMouseX = x;
            lastMouseY = y;
            dragIndex = k;
            captureMouse();
            break;
        }
    }
    return 0;
}

int32_t waveshaperGui::handleMouseMove(int32_t /*flags*/, int32_t x, int32_t y) {
    if (!isMouseCaptured() || dragIndex < 0 || dragIndex >= kCurvePointCount)
        return 0;
    const int32_t width = panelWidth();
    const int32_t height = panelHeight();
    // Without a panel there is no pixel-to-grid scale.
    if (width <= 0 || height <= 0)
        return 0;

    const int i = dragIndex;
    // A neighbour that cannot be placed sets no bound.
    float lower = 0.0f;
    if (i > 0 && std::isfinite(points[i - 1].x))
        lower = points[i - 1].x + 1.0f;
    float upper = 100.0f;
    if (i < kCurvePointCount - 1 && std::isfinite(points[i + 1].x))
        upper = points[i + 1].x - 1.0f;
    if (i == 0)
        upper = 0.0f;
    if (i == kCurvePointCount - 1)
        lower = 100.0f;

    const float stepX = static_cast<float>(static_cast<int64_t>(x) - lastMouseX);
    const float stepY = static_cast<float>(static_cast<int64_t>(y) - lastMouseY);
    float nx = stepX * (100.0f / static_cast<float>(width)) + points[i].x;
    float ny = stepY * (100.0f / static_cast<float>(height)) + points[i].y;

    if (!(nx > lower))
        nx = lower;
    if (!(upper > nx))
        nx = upper;
    if (!(ny > 0.0f && ny < 100.0f))
        ny = ny >= 100.0f ? 100.0f : 0.0f;

    // The text is made and sent before the points change: a step whose text cannot be made or kept (no
    // memory) is lost whole, so the points never differ from what the host was last sent.
    CurvePoint moved[kCurvePointCount];
    std::copy(std::begin(points), std::end(points), std::begin(moved));
    moved[i] = CurvePoint{nx, ny};
    const PinText text = formatCurveText(moved);
    {
        // Cleared however the sending ends, or every later text from the host would be ignored.
        struct Sending {
            bool& flag;
            explicit Sending(bool& f) : flag(f) { flag = true; }
            ~Sending() { flag = false; }
            Sending(const Sending&) = delete;
            Sending& operator=(const Sending&) = delete;
        } sending(sendingText);
        curvePin.sendValue(text);
    }
    std::copy(std::begin(moved), std::end(moved), std::begin(points));
    lastMouseX = x;
    lastMouseY = y;
    invalidate();
    return 0;
}

int32_t waveshaperGui::handleLeftButtonUp(int32_t /*flags*/, int32_t /*x*/, int32_t /*y*/) {
    if (!isMouseCaptured())
        return 0;
    releaseMouse();
    dragIndex = -1;
    invalidate();
    return 0;
}

void waveshaperGui::onCurvePinChanged() {
    if (sendingText)
        return;
    parseCurveText(curvePin.value, points);
    invalidate();
}
