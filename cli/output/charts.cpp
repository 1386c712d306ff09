// The charts drawn with cairo: anti-aliased lines and text in DejaVu Sans, written as PNG through a
// temporary file so that a failed write leaves the target untouched. The font comes from inside the
// program (chart_fonts.h) through FreeType, never from the machine's font configuration, so the Linux
// and Windows builds draw the same pixels.
#include <cairo-ft.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <memory>

#include "cli/common/cli_error.h"
#include "cli/common/text_args.h"
#include "cli/output/chart_fonts.h"
#include "cli/output/charts.h"
#include "cli/output/plots.h"

namespace shaperhost {

namespace {

// A picture being drawn: an image surface, its context, and the two faces of the embedded font, which
// the text helpers find through the context. Everything cairo and FreeType hold for the picture is
// released with it, so nothing outlives one chart.
class Canvas {
public:
    Canvas(int width, int height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    cairo_t* cr() const { return cr_; }
    // The picture drawn so far.
    Image image() const;

    static cairo_font_face_t* face(cairo_t* cr, bool bold);

private:
    // A FreeType face and the count of faces cairo still holds, for the callback that closes it.
    struct FaceOwner {
        FT_Face face;
        int* alive;
    };

    cairo_font_face_t* loadFace(const unsigned char* data, std::size_t size);
    void release();

    FT_Library library_ = nullptr;
    cairo_font_face_t* regular_ = nullptr;
    cairo_font_face_t* bold_ = nullptr;
    cairo_surface_t* surface_ = nullptr;
    cairo_t* cr_ = nullptr;
    int width_;
    int height_;
    int facesAlive_ = 0; // FreeType faces cairo still holds
};

const cairo_user_data_key_t kCanvasKey{};
const cairo_user_data_key_t kFreeTypeFaceKey{};

Canvas::Canvas(int width, int height) : width_(width), height_(height) {
    // cairo sets up its internal locks lazily, in a few entry points only (a DLL build does it when
    // loaded; a static Windows build has no such moment), and the font calls below are not among them.
    // Creating a pattern is: it must come first, for every chart, as the reset after each chart tears
    // the locks down again.
    cairo_pattern_destroy(cairo_pattern_create_rgb(0, 0, 0));
    if (FT_Init_FreeType(&library_) != 0) {
        library_ = nullptr;
        throw failure("cannot start the font rasteriser for the chart");
    }
    try {
        regular_ = loadFace(kDejaVuSans, kDejaVuSansSize);
        bold_ = loadFace(kDejaVuSansBold, kDejaVuSansBoldSize);
        surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
        if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS)
            throw failure("cannot make a picture of " + std::to_string(width) + " x " +
                          std::to_string(height) + " pixels");
        cr_ = cairo_create(surface_);
        if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS)
            throw failure(std::string("cannot draw the chart: ") + cairo_status_to_string(cairo_status(cr_)));
        cairo_set_user_data(cr_, &kCanvasKey, this, nullptr);
        // Fixed rendering options, the same on every machine: grey anti-aliasing, light outline
        // hinting, whole-pixel advances.
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
        cairo_set_font_options(cr_, options);
        cairo_font_options_destroy(options);
    } catch (...) {
        release();
        throw;
    }
}

Canvas::~Canvas() {
    release();
}

void Canvas::release() {
    if (cr_)
        cairo_destroy(cr_);
    if (surface_)
        cairo_surface_destroy(surface_);
    if (regular_)
        cairo_font_face_destroy(regular_);
    if (bold_)
        cairo_font_face_destroy(bold_);
    cr_ = nullptr;
    surface_ = nullptr;
    regular_ = bold_ = nullptr;
    // Drops cairo's font caches, which is when it lets go of the FreeType faces.
    cairo_debug_reset_static_data();
    // Should cairo still hold a face, leaving the library alive is a small leak, not a use after free.
    if (library_ && facesAlive_ == 0)
        FT_Done_FreeType(library_);
    library_ = nullptr;
}

cairo_font_face_t* Canvas::loadFace(const unsigned char* data, std::size_t size) {
    FT_Face ftFace = nullptr;
    if (FT_New_Memory_Face(library_, data, static_cast<FT_Long>(size), 0, &ftFace) != 0)
        throw failure("cannot read the chart font");
    cairo_font_face_t* face = cairo_ft_font_face_create_for_ft_face(ftFace, 0);
    // The FreeType face lives as long as cairo's face, which cairo's caches can keep after the last
    // reference is dropped: it is closed by cairo, through this callback.
    const auto close = [](void* p) {
        auto* owner = static_cast<FaceOwner*>(p);
        FT_Done_Face(owner->face);
        --*owner->alive;
        delete owner;
    };
    auto* owner = new FaceOwner{ftFace, &facesAlive_};
    if (cairo_font_face_status(face) != CAIRO_STATUS_SUCCESS ||
        cairo_font_face_set_user_data(face, &kFreeTypeFaceKey, owner, close) != CAIRO_STATUS_SUCCESS) {
        delete owner;
        cairo_font_face_destroy(face);
        FT_Done_Face(ftFace);
        throw failure("cannot read the chart font");
    }
    ++facesAlive_;
    return face;
}

cairo_font_face_t* Canvas::face(cairo_t* cr, bool bold) {
    const auto* canvas = static_cast<const Canvas*>(cairo_get_user_data(cr, &kCanvasKey));
    return bold ? canvas->bold_ : canvas->regular_;
}

Image Canvas::image() const {
    cairo_surface_flush(surface_);
    Image image(width_, height_, 0);
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    for (int y = 0; y < height_; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < width_; ++x)
            image.set(x, y, row[x] & 0xFFFFFFu); // RGB24: 0x00RRGGBB in native order
    }
    return image;
}

double textWidth(cairo_t* cr, const std::string& s, double size, bool bold = false) {
    cairo_set_font_face(cr, Canvas::face(cr, bold));
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, s.c_str(), &e);
    return e.x_advance;
}

// True for the bytes that continue a UTF-8 sequence: text is never cut before one.
bool continuesCharacter(char c) {
    return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u;
}

// The text cut with an ellipsis to fit the width.
std::string fitted(cairo_t* cr, const std::string& s, double size, double width, bool bold = false) {
    if (textWidth(cr, s, size, bold) <= width)
        return s;
    std::string cut = s;
    while (!cut.empty() && textWidth(cr, cut + "...", size, bold) > width) {
        cut.pop_back();
        while (!cut.empty() && continuesCharacter(cut.back()))
            cut.pop_back();
    }
    return cut + "...";
}

// The text in at most `lines` lines of the width, broken after a space or a closing parenthesis where
// there is one, the last line cut with an ellipsis.
std::vector<std::string> wrapped(cairo_t* cr, const std::string& s, double size, double width, int lines,
                                 bool bold = false) {
    std::vector<std::string> out;
    std::string rest = s;
    while (!rest.empty() && static_cast<int>(out.size()) < lines - 1 &&
           textWidth(cr, rest, size, bold) > width) {
        std::size_t fit = 1;
        while (fit < rest.size() &&
               (continuesCharacter(rest[fit]) || textWidth(cr, rest.substr(0, fit + 1), size, bold) <= width))
            ++fit;
        std::size_t cut = fit;
        for (std::size_t i = fit; i > fit / 2; --i) {
            if (rest[i - 1] == ' ' || rest[i - 1] == ')') {
                cut = i;
                break;
            }
        }
        out.push_back(rest.substr(0, cut));
        rest = rest.substr(cut);
        while (!rest.empty() && rest.front() == ' ')
            rest.erase(0, 1);
    }
    if (!rest.empty())
        out.push_back(fitted(cr, rest, size, width, bold));
    return out;
}

// Steps of 1, 2 or 5 times a power of ten, the n-th counted from 1e-6.
double niceStep(int n) {
    static const double kMantissas[] = {1.0, 2.0, 5.0};
    return kMantissas[n % 3] * std::pow(10.0, n / 3 - 6);
}

// The tick values lo..hi at multiples of step, computed from whole multiples so that no rounding drift
// loses the last one.
std::vector<double> tickValues(double lo, double hi, double step) {
    std::vector<double> out;
    const double first = std::ceil(lo / step - 1e-9);
    const double last = std::floor(hi / step + 1e-9);
    for (double i = first; i <= last; i += 1.0)
        out.push_back(i == 0.0 ? 0.0 : i * step);
    return out;
}

std::string tickLabel(double value, double step) {
    const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    return formatFixed(value, decimals);
}

constexpr double kTickLabelSize = 12.0;
constexpr double kAxisNameSize = 13.0;
constexpr double kLegendLabelSize = 12.0;
constexpr double kTitleSize = 16.0;
constexpr double kSubtitleSize = 12.0;
constexpr double kPanelLabelSize = 13.0;
// Levels at or below this are rounding noise of single-precision samples, not a DC component.
constexpr double kDcFloorDb = -120.0;
// Space kept free between labels, in pixels.
constexpr double kLabelGap = 8.0;
constexpr double kLegendRow = 18.0;

enum class Align { Left, Centre, Right };

// Lays out texts: each goes to the layout with its origin and the box of its ink.
class TextSetter {
public:
    TextSetter(cairo_t* cr, std::vector<ChartText>& texts) : cr_(cr), texts_(texts) {}

    cairo_t* cr() const { return cr_; }

    // Horizontal text whose baseline starts, centres or ends at (x, y); the index of the text.
    std::size_t add(const std::string& s, ChartTextRole role, double x, double y, double size, Align align,
                    bool bold = false) {
        const cairo_text_extents_t e = extents(s, size, bold);
        const double left = align == Align::Left     ? x
                            : align == Align::Centre ? x - e.x_advance / 2
                                                     : x - e.x_advance;
        ChartText t;
        t.text = s;
        t.role = role;
        t.origin = {left, y};
        t.size = size;
        t.bold = bold;
        t.box = {left + e.x_bearing, y + e.y_bearing, left + e.x_bearing + e.width,
                 y + e.y_bearing + e.height};
        texts_.push_back(t);
        return texts_.size() - 1;
    }

    // Text reading upwards whose baseline is centred on (x, y).
    std::size_t addVertical(const std::string& s, ChartTextRole role, double x, double y, double size) {
        const cairo_text_extents_t e = extents(s, size, false);
        ChartText t;
        t.text = s;
        t.role = role;
        t.origin = {x, y + e.x_advance / 2};
        t.size = size;
        t.vertical = true;
        // Turned a quarter turn against the clock: along the text is up the picture, and the glyphs'
        // ascent points left.
        t.box = {t.origin.x + e.y_bearing, t.origin.y - e.x_bearing - e.width,
                 t.origin.x + e.y_bearing + e.height, t.origin.y - e.x_bearing};
        texts_.push_back(t);
        return texts_.size() - 1;
    }

    double width(const std::string& s, double size, bool bold = false) const {
        return extents(s, size, bold).x_advance;
    }
    // Height above the baseline of digits, for spacing rows of numbers.
    double digitHeight(double size) const { return -extents("0123456789", size, false).y_bearing; }

private:
    cairo_text_extents_t extents(const std::string& s, double size, bool bold) const {
        cairo_set_font_face(cr_, Canvas::face(cr_, bold));
        cairo_set_font_size(cr_, size);
        cairo_text_extents_t e;
        cairo_text_extents(cr_, s.c_str(), &e);
        return e;
    }

    cairo_t* cr_;
    std::vector<ChartText>& texts_;
};

// Title and up to two lines of subtitle, each cut to the width; returns the y below them.
double layTitle(TextSetter& setter, double left, double width, const std::string& title,
                const std::string& subtitle) {
    double y = 4.0;
    for (const std::string& line : wrapped(setter.cr(), title, kTitleSize, width - 20, 2, true)) {
        y += 20.0;
        setter.add(line, ChartTextRole::Title, left + width / 2, y, kTitleSize, Align::Centre, true);
    }
    y += 4.0;
    for (const std::string& line : wrapped(setter.cr(), subtitle, kSubtitleSize, width - 20, 2)) {
        y += 16.0;
        setter.add(line, ChartTextRole::Subtitle, left + width / 2, y, kSubtitleSize, Align::Centre);
    }
    return y + 8.0;
}

// An axis of a plot: its data range and the pixel span it maps onto.
struct Axis {
    double lo = 0.0;
    double hi = 1.0;
    double from = 0.0; // pixel of lo
    double to = 1.0;   // pixel of hi

    double pixel(double v) const { return from + (v - lo) / (hi - lo) * (to - from); }
};

// The finest step whose labels keep `gap` pixels apart on the axis, where `extent` tells how much room
// a label takes along it. With `widen`, the range grows outwards to whole steps first.
template <typename Extent> double chooseStep(Axis& axis, double gap, bool widen, Extent extent) {
    const double span = axis.hi - axis.lo;
    const double pixels = std::fabs(axis.to - axis.from);
    int n = 0;
    while (niceStep(n) < span / 200.0 && n < 60)
        ++n;
    for (;; ++n) {
        const double step = niceStep(n);
        Axis tried = axis;
        if (widen) {
            // A curve a thousandth of a step beyond a tick (single-precision rounding) ends there.
            tried.lo = std::floor(axis.lo / step + 1e-3) * step;
            tried.hi = std::ceil(axis.hi / step - 1e-3) * step;
        }
        const double spacing = step / (tried.hi - tried.lo) * pixels;
        double room = 0.0;
        for (double v : tickValues(tried.lo, tried.hi, step))
            room = std::max(room, extent(tickLabel(v, step)));
        if (spacing >= room + gap || n >= 60 || step >= tried.hi - tried.lo) {
            axis = tried;
            return step;
        }
    }
}

// A legend laid out in rows below the plot, inside [left, right], starting at `top`: first measured
// with `place` false for its height, then placed.
struct LegendItem {
    ChartSeriesKind kind;
    std::string label;
};

constexpr double kLegendKeyWidth = 36.0; // the symbol's room, before the label
constexpr double kLegendItemGap = 14.0;

double legendRows(TextSetter& setter, const std::vector<LegendItem>& items, double width,
                  std::vector<std::vector<std::size_t>>* rows, std::vector<double>* rowWidths) {
    rows->clear();
    rowWidths->clear();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const double itemWidth = kLegendKeyWidth + std::min(setter.width(items[i].label, kLegendLabelSize),
                                                            width - kLegendKeyWidth - 8);
        if (rows->empty() || rowWidths->back() + kLegendItemGap + itemWidth > width - 8) {
            rows->push_back({});
            rowWidths->push_back(0.0);
        } else {
            rowWidths->back() += kLegendItemGap;
        }
        rows->back().push_back(i);
        rowWidths->back() += itemWidth;
    }
    return rows->empty() ? 0.0 : 8.0 + kLegendRow * static_cast<double>(rows->size());
}

void layLegend(TextSetter& setter, ChartPlot& plot, const std::vector<LegendItem>& items, double centre,
               double left, double right, double top) {
    std::vector<std::vector<std::size_t>> rows;
    std::vector<double> rowWidths;
    const double height = legendRows(setter, items, right - left, &rows, &rowWidths);
    if (rows.empty())
        return;
    const double width = *std::max_element(rowWidths.begin(), rowWidths.end()) + 8;
    const double boxLeft = std::max(left, std::min(centre - width / 2, right - width));
    plot.legend = {std::round(boxLeft) + 0.5, std::round(top) + 0.5, std::round(boxLeft + width) + 0.5,
                   std::round(top + height) + 0.5};
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const double y = plot.legend.top + 4 + kLegendRow * (static_cast<double>(r) + 0.5);
        double x = plot.legend.left;
        for (std::size_t i : rows[r]) {
            const LegendItem& item = items[i];
            const std::string label =
                fitted(setter.cr(), item.label, kLegendLabelSize, right - left - kLegendKeyWidth - 8);
            ChartLegendEntry entry;
            entry.kind = item.kind;
            entry.key = {x + 22, y};
            entry.label = setter.add(label, ChartTextRole::LegendLabel, x + kLegendKeyWidth + 4, y + 4,
                                     kLegendLabelSize, Align::Left);
            plot.legendEntries.push_back(entry);
            x += kLegendKeyWidth + setter.width(label, kLegendLabelSize) + kLegendItemGap;
        }
    }
}

// Below the frame: tick marks, their labels, the axis name, then the legend.
constexpr double kTickLabelBaseline = 19.0; // below the frame
constexpr double kAxisNameBaseline = 42.0;
constexpr double kLegendTop = 54.0;
constexpr double kBottomPad = 8.0;

// The space under a frame, legend included, for a panel of this width.
double spaceBelowFrame(TextSetter& setter, const std::vector<LegendItem>& items, double panelWidth) {
    std::vector<std::vector<std::size_t>> rows;
    std::vector<double> rowWidths;
    return kLegendTop + legendRows(setter, items, panelWidth - 20, &rows, &rowWidths) + kBottomPad;
}

// A plot's frame, axes, ticks and their labels, the axis names and the legend, in the panel from
// panelLeft to panelLeft + panelWidth between frameTop and the picture's bottom. The y axis comes with
// its range; `widenY` lets it grow to whole steps. The x axis may keep `xPad` pixels free inside the
// frame at each end, the y axis `yPad` at the top. The returned axes map data to pixels.
struct PlotAxes {
    Axis x;
    Axis y;
};

PlotAxes layPlotFrame(TextSetter& setter, ChartPlot& plot, double panelLeft, double panelWidth,
                      double frameTop, double pictureHeight, Axis x, Axis y, bool widenY, double xPad,
                      double yPad, const std::string& xName, const std::string& yName,
                      const std::vector<LegendItem>& legend) {
    const double below = spaceBelowFrame(setter, legend, panelWidth);
    const double frameBottom = std::floor(pictureHeight - below) + 0.5;
    if (frameBottom - frameTop < 80.0)
        throw failure("the chart is too small for its plot");
    const double digits = setter.digitHeight(kTickLabelSize);
    y.from = frameBottom;
    y.to = frameTop + yPad;
    // Rows of numbers read best well apart: at least twice their height between them.
    const double yStep = chooseStep(y, 2 * digits, widenY, [&](const std::string&) { return digits; });
    const std::vector<double> yValues = tickValues(y.lo, y.hi, yStep);
    double labelWidth = 0.0;
    for (double v : yValues)
        labelWidth = std::max(labelWidth, setter.width(tickLabel(v, yStep), kTickLabelSize));

    // The axis name at the panel's left edge, then the labels, then the frame.
    setter.addVertical(fitted(setter.cr(), yName, kAxisNameSize, frameBottom - frameTop),
                       ChartTextRole::AxisName, panelLeft + 24, (frameTop + frameBottom) / 2, kAxisNameSize);
    const double frameLeft = std::round(panelLeft + 32 + kLabelGap + labelWidth + kLabelGap) + 0.5;
    const double frameRight = std::round(panelLeft + panelWidth - 24) + 0.5;
    plot.frame = {frameLeft, frameTop, frameRight, frameBottom};
    plot.baseline = frameBottom;
    x.from = frameLeft + xPad;
    x.to = frameRight - xPad;
    const double xStep = chooseStep(x, 2 * kLabelGap, false, [&](const std::string& label) {
        return setter.width(label, kTickLabelSize);
    });
    for (double v : tickValues(x.lo, x.hi, xStep)) {
        ChartTick tick;
        tick.value = v;
        tick.position = std::floor(x.pixel(v) + 1e-6) + 0.5;
        tick.label = setter.add(tickLabel(v, xStep), ChartTextRole::TickLabel, tick.position,
                                frameBottom + kTickLabelBaseline, kTickLabelSize, Align::Centre);
        plot.xTicks.push_back(tick);
    }
    for (double v : yValues) {
        ChartTick tick;
        tick.value = v;
        tick.position = std::floor(y.pixel(v) + 1e-6) + 0.5;
        tick.label = setter.add(tickLabel(v, yStep), ChartTextRole::TickLabel, frameLeft - kLabelGap,
                                tick.position + digits / 2, kTickLabelSize, Align::Right);
        plot.yTicks.push_back(tick);
    }
    const double frameCentre = (frameLeft + frameRight) / 2;
    setter.add(fitted(setter.cr(), xName, kAxisNameSize, panelWidth - 20), ChartTextRole::AxisName,
               frameCentre, frameBottom + kAxisNameBaseline, kAxisNameSize, Align::Centre);
    layLegend(setter, plot, legend, frameCentre, panelLeft + 10, panelLeft + panelWidth - 10,
              frameBottom + kLegendTop);
    return {x, y};
}

void addSeries(ChartPlot& plot, ChartSeries series) {
    if (!series.points.empty())
        plot.series.push_back(std::move(series));
}

// Drawing ------------------------------------------------------------------------------------------

struct Rgb {
    double r, g, b;
};

constexpr Rgb kBackground{1.0, 1.0, 1.0};
constexpr Rgb kPlotArea{0.98, 0.98, 0.985};
constexpr Rgb kGrid{0.86, 0.86, 0.88};
constexpr Rgb kFrame{0.25, 0.25, 0.28};
constexpr Rgb kText{0.1, 0.1, 0.12};
constexpr Rgb kCurve{0.0, 0.36, 0.75};
constexpr Rgb kIdentity{0.55, 0.55, 0.58};
constexpr Rgb kSpectrum{0.62, 0.62, 0.66};
constexpr Rgb kHarmonic{0.0, 0.36, 0.75};
constexpr Rgb kAlias{0.84, 0.16, 0.12};
constexpr Rgb kDc{0.1, 0.55, 0.2};

constexpr double kPi = 3.14159265358979323846;

void colour(cairo_t* cr, const Rgb& c) {
    cairo_set_source_rgb(cr, c.r, c.g, c.b);
}

void strokeLine(cairo_t* cr, double x0, double y0, double x1, double y1) {
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_stroke(cr);
}

void drawPolyline(cairo_t* cr, const std::vector<ChartPoint>& points) {
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (i == 0)
            cairo_move_to(cr, points[i].x, points[i].y);
        else
            cairo_line_to(cr, points[i].x, points[i].y);
    }
    cairo_stroke(cr);
}

void lineStyle(cairo_t* cr, ChartSeriesKind kind) {
    const double dash[] = {6.0, 4.0};
    cairo_set_dash(cr, dash, kind == ChartSeriesKind::Identity ? 2 : 0, 0);
    cairo_set_line_width(cr, kind == ChartSeriesKind::Identity ? 1.5 : 2.2);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    colour(cr, kind == ChartSeriesKind::Identity ? kIdentity : kCurve);
}

const Rgb& markerColour(ChartSeriesKind kind) {
    return kind == ChartSeriesKind::Harmonics ? kHarmonic : kind == ChartSeriesKind::Aliases ? kAlias : kDc;
}

void drawStem(cairo_t* cr, ChartSeriesKind kind, double x, double y, double baseline) {
    colour(cr, markerColour(kind));
    cairo_set_line_width(cr, kind == ChartSeriesKind::Aliases ? 1.0 : 1.5);
    strokeLine(cr, x, baseline, x, y);
}

void drawMarker(cairo_t* cr, ChartSeriesKind kind, double x, double y) {
    colour(cr, markerColour(kind));
    switch (kind) {
    case ChartSeriesKind::Harmonics:
        cairo_arc(cr, x, y, 3.5, 0, 2 * kPi);
        cairo_fill(cr);
        break;
    case ChartSeriesKind::Dc:
        cairo_rectangle(cr, x - 3.5, y - 3.5, 7.0, 7.0);
        cairo_fill(cr);
        break;
    default:
        // Hollow, a size larger than the dot: a harmonic on the same spot shows inside it.
        cairo_set_line_width(cr, 1.5);
        cairo_move_to(cr, x - 5.5, y - 3.5);
        cairo_line_to(cr, x + 5.5, y - 3.5);
        cairo_line_to(cr, x, y + 5.5);
        cairo_close_path(cr);
        cairo_stroke(cr);
        break;
    }
}

void drawSeries(cairo_t* cr, const ChartPlot& plot) {
    cairo_save(cr);
    cairo_rectangle(cr, plot.frame.left, plot.frame.top, plot.frame.right - plot.frame.left,
                    plot.frame.bottom - plot.frame.top);
    cairo_clip(cr);
    for (const ChartSeries& s : plot.series) {
        if (s.kind == ChartSeriesKind::Identity || s.kind == ChartSeriesKind::Curve) {
            lineStyle(cr, s.kind);
            drawPolyline(cr, s.points);
            cairo_set_dash(cr, nullptr, 0, 0);
        } else if (s.kind == ChartSeriesKind::Bins) {
            colour(cr, kSpectrum);
            cairo_set_line_width(cr, 1.0);
            for (const ChartPoint& p : s.points) {
                cairo_move_to(cr, p.x, plot.baseline);
                cairo_line_to(cr, p.x, p.y);
            }
            cairo_stroke(cr);
        }
    }
    // Stems first, aliases beneath the rest; then the markers, aliases last and hollow.
    for (ChartSeriesKind kind : {ChartSeriesKind::Aliases, ChartSeriesKind::Dc, ChartSeriesKind::Harmonics})
        for (const ChartSeries& s : plot.series)
            if (s.kind == kind)
                for (const ChartPoint& p : s.points)
                    drawStem(cr, kind, p.x, p.y, plot.baseline);
    cairo_restore(cr);
    for (ChartSeriesKind kind : {ChartSeriesKind::Harmonics, ChartSeriesKind::Dc, ChartSeriesKind::Aliases})
        for (const ChartSeries& s : plot.series)
            if (s.kind == kind)
                for (const ChartPoint& p : s.points)
                    drawMarker(cr, kind, p.x, p.y);
}

void drawAxes(cairo_t* cr, const ChartPlot& plot) {
    const ChartBox& f = plot.frame;
    colour(cr, kPlotArea);
    cairo_rectangle(cr, f.left, f.top, f.right - f.left, f.bottom - f.top);
    cairo_fill(cr);
    cairo_set_line_width(cr, 1.0);
    for (const ChartTick& t : plot.xTicks) {
        colour(cr, kGrid);
        strokeLine(cr, t.position, f.top, t.position, f.bottom);
        colour(cr, kFrame);
        strokeLine(cr, t.position, f.bottom, t.position, f.bottom + 5);
    }
    for (const ChartTick& t : plot.yTicks) {
        colour(cr, kGrid);
        strokeLine(cr, f.left, t.position, f.right, t.position);
        colour(cr, kFrame);
        strokeLine(cr, f.left - 5, t.position, f.left, t.position);
    }
}

void drawFrame(cairo_t* cr, const ChartPlot& plot) {
    const ChartBox& f = plot.frame;
    colour(cr, kFrame);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, f.left, f.top, f.right - f.left, f.bottom - f.top);
    cairo_stroke(cr);
}

void drawLegend(cairo_t* cr, const ChartPlot& plot) {
    if (plot.legendEntries.empty())
        return;
    const ChartBox& b = plot.legend;
    colour(cr, kBackground);
    cairo_rectangle(cr, b.left, b.top, b.right - b.left, b.bottom - b.top);
    cairo_fill_preserve(cr);
    colour(cr, kGrid);
    cairo_set_line_width(cr, 1.0);
    cairo_stroke(cr);
    for (const ChartLegendEntry& e : plot.legendEntries) {
        const ChartPoint k = e.key;
        switch (e.kind) {
        case ChartSeriesKind::Curve:
        case ChartSeriesKind::Identity:
            lineStyle(cr, e.kind);
            strokeLine(cr, k.x - 14, k.y, k.x + 14, k.y);
            cairo_set_dash(cr, nullptr, 0, 0);
            break;
        case ChartSeriesKind::Bins:
            colour(cr, kSpectrum);
            cairo_set_line_width(cr, 1.0);
            for (double dx : {-6.0, -3.0, 0.0, 3.0, 6.0})
                strokeLine(cr, k.x + dx + 0.5, k.y + 6, k.x + dx + 0.5,
                           k.y + 2 - 3 * std::fabs(std::fabs(dx) - 3.0));
            break;
        default:
            drawStem(cr, e.kind, k.x, k.y, k.y + 8);
            drawMarker(cr, e.kind, k.x, k.y - 1);
            break;
        }
    }
}

void drawTexts(cairo_t* cr, const std::vector<ChartText>& texts) {
    colour(cr, kText);
    for (const ChartText& t : texts) {
        cairo_set_font_face(cr, Canvas::face(cr, t.bold));
        cairo_set_font_size(cr, t.size);
        cairo_save(cr);
        cairo_translate(cr, t.origin.x, t.origin.y);
        if (t.vertical)
            cairo_rotate(cr, -kPi / 2);
        cairo_move_to(cr, 0, 0);
        cairo_show_text(cr, t.text.c_str());
        cairo_restore(cr);
    }
}

} // namespace

ChartLayout transferChartLayout(const TransferChart& chart, int size) {
    if (size < kMinTransferChartSize)
        throw usageError("a transfer chart needs at least " + std::to_string(kMinTransferChartSize) + " x " +
                         std::to_string(kMinTransferChartSize) +
                         " pixels for its title, tick labels and legend");
    ChartLayout layout;
    layout.width = size;
    layout.height = size;
    const Canvas measure(1, 1);
    TextSetter setter(measure.cr(), layout.texts);

    // Output range: +-5 V, grown to hold the curve (within reason), then to whole tick steps.
    Axis y{-5.0, 5.0, 0.0, 1.0};
    for (float v : chart.table) {
        const double volts = static_cast<double>(v) * 10.0;
        if (std::isfinite(volts)) {
            y.lo = std::min(y.lo, std::max(volts, -1000.0));
            y.hi = std::max(y.hi, std::min(volts, 1000.0));
        }
    }
    const bool anyFinite =
        std::any_of(chart.table.begin(), chart.table.end(), [](float v) { return std::isfinite(v); });
    std::vector<LegendItem> legend;
    if (anyFinite)
        legend.push_back({ChartSeriesKind::Curve, "transfer curve"});
    legend.push_back({ChartSeriesKind::Identity, "identity (output = input)"});
    const double frameTop = std::round(layTitle(setter, 0, size, chart.title, chart.subtitle)) + 0.5;
    ChartPlot plot;
    const PlotAxes axes = layPlotFrame(setter, plot, 0, size, frameTop, size, Axis{-5.0, 5.0, 0.0, 1.0}, y,
                                       true, 0.0, 0.0, "input / V", "output / V", legend);

    addSeries(plot, {ChartSeriesKind::Identity,
                     {{axes.x.pixel(-5.0), axes.y.pixel(-5.0)}, {axes.x.pixel(5.0), axes.y.pixel(5.0)}}});
    ChartSeries piece{ChartSeriesKind::Curve, {}};
    const int last = static_cast<int>(chart.table.size()) - 1;
    for (int i = 0; i <= last; ++i) {
        const double volts = static_cast<double>(chart.table[static_cast<std::size_t>(i)]) * 10.0;
        if (!std::isfinite(volts)) {
            addSeries(plot, std::move(piece));
            piece = {ChartSeriesKind::Curve, {}};
            continue;
        }
        // Beyond the range a point lies just outside the frame, where the clip cuts the line.
        const double shown = std::max(axes.y.lo - 1.0, std::min(volts, axes.y.hi + 1.0));
        piece.points.push_back({axes.x.pixel(-5.0 + 10.0 * i / std::max(last, 1)), axes.y.pixel(shown)});
    }
    addSeries(plot, std::move(piece));
    layout.plots.push_back(std::move(plot));
    return layout;
}

ChartLayout spectrumChartLayout(const SpectrumChart& chart, int panelWidth, int height) {
    if (panelWidth < kMinSpectrumPanelWidth || height < kMinSpectrumChartHeight)
        throw usageError("a spectrum chart needs at least " + std::to_string(kMinSpectrumPanelWidth) + " x " +
                         std::to_string(kMinSpectrumChartHeight) + " pixels per panel");
    const int panels = static_cast<int>(std::max<std::size_t>(chart.panels.size(), 1));
    ChartLayout layout;
    layout.width = panelWidth * panels;
    layout.height = height;
    const Canvas measure(1, 1);
    TextSetter setter(measure.cr(), layout.texts);
    const double titleBottom = layTitle(setter, 0, layout.width, chart.title, chart.subtitle);

    // One level range for all panels so they compare at a glance.
    double top = 0.0;
    for (const SpectrumPanel& p : chart.panels) {
        for (double d : p.decibels)
            top = std::max(top, std::min(std::ceil(d / 20.0) * 20.0, 200.0));
    }
    const double bottom = -160.0;

    // Panel labels, wrapped alike, so that every panel's frame starts at the same height.
    std::vector<std::vector<std::string>> labels;
    std::size_t labelLines = 0;
    for (const SpectrumPanel& p : chart.panels) {
        std::string label = p.label;
        if (p.hasFigures)
            label += (label.empty() ? "" : ": ") + std::string("aliasing ") + formatFixed(p.aliasingDb, 1) +
                     " dB, THD " + formatFixed(p.thdPercent, 2) + " %, both relative to the fundamental";
        labels.push_back(wrapped(setter.cr(), label, kPanelLabelSize, panelWidth - 20, 2, true));
        labelLines = std::max(labelLines, labels.back().size());
    }
    const double frameTop = std::round(titleBottom + 18.0 * static_cast<double>(labelLines) + 8.0) + 0.5;

    for (std::size_t i = 0; i < chart.panels.size(); ++i) {
        const SpectrumPanel& p = chart.panels[i];
        const double panelLeft = static_cast<double>(panelWidth) * static_cast<double>(i);
        const double nyquist = p.sampleRate / 2.0;
        const std::size_t bins = p.decibels.size();
        const double binHz = bins > 1 ? nyquist / static_cast<double>(bins - 1) : 0.0;

        // What the panel will draw decides what its legend names.
        auto marked = [&](const std::vector<char>& marks) {
            for (std::size_t k = 1; k < std::min(bins, marks.size()); ++k)
                if (marks[k] && p.decibels[k] >= bottom + 10.0)
                    return true;
            return false;
        };
        const bool drawsDc = bins > 0 && p.decibels[0] > kDcFloorDb;
        std::vector<LegendItem> legend;
        if (marked(p.binIsHarmonic))
            legend.push_back({ChartSeriesKind::Harmonics, "harmonics"});
        if (marked(p.binIsAlias))
            legend.push_back(
                {ChartSeriesKind::Aliases,
                 "aliases: harmonics above " + formatDouble(nyquist / 1000.0) + " kHz, folded back"});
        if (drawsDc)
            legend.push_back({ChartSeriesKind::Dc, "DC"});
        if (bins > 1)
            legend.push_back({ChartSeriesKind::Bins, "all bins"});

        double y = titleBottom;
        for (const std::string& line : labels[i]) {
            y += 18.0;
            setter.add(line, ChartTextRole::PanelLabel, panelLeft + panelWidth / 2.0, y, kPanelLabelSize,
                       Align::Centre, true);
        }
        ChartPlot plot;
        // The frequency axis keeps a few pixels free at both ends, so that markers at 0 Hz (DC) and at
        // half the rate are drawn whole; the level axis the same at the top.
        const PlotAxes axes =
            layPlotFrame(setter, plot, panelLeft, panelWidth, frameTop, height,
                         Axis{0.0, nyquist / 1000.0, 0.0, 1.0}, Axis{bottom, top, 0.0, 1.0}, false, 8.0, 8.0,
                         "frequency / kHz", "level / dBFS (0 dBFS = 10 V peak)", legend);
        auto px = [&](std::size_t k) { return axes.x.pixel(static_cast<double>(k) * binHz / 1000.0); };
        auto py = [&](double level) { return axes.y.pixel(std::max(bottom, std::min(level, top))); };

        // The whole spectrum: per pixel column, the highest bin in it.
        ChartSeries columns{ChartSeriesKind::Bins, {}};
        const int count = static_cast<int>(axes.x.to - axes.x.from);
        for (int c = 0; c < count && bins > 1; ++c) {
            const auto first = static_cast<std::size_t>(static_cast<double>(c) / count * (bins - 1));
            const std::size_t end = std::max(
                first + 1, static_cast<std::size_t>(static_cast<double>(c + 1) / count * (bins - 1)));
            double level = -1e9;
            for (std::size_t k = first; k < end && k < bins; ++k)
                level = std::max(level, p.decibels[k]);
            if (level > bottom)
                columns.points.push_back({axes.x.from + c + 0.5, py(level)});
        }
        addSeries(plot, std::move(columns));
        for (ChartSeriesKind kind : {ChartSeriesKind::Harmonics, ChartSeriesKind::Aliases}) {
            const std::vector<char>& marks =
                kind == ChartSeriesKind::Harmonics ? p.binIsHarmonic : p.binIsAlias;
            ChartSeries markers{kind, {}};
            for (std::size_t k = 1; k < std::min(bins, marks.size()); ++k)
                if (marks[k] && p.decibels[k] >= bottom + 10.0)
                    markers.points.push_back({px(k), py(p.decibels[k])});
            addSeries(plot, std::move(markers));
        }
        if (drawsDc)
            addSeries(plot, {ChartSeriesKind::Dc, {{px(0), py(p.decibels[0])}}});
        layout.plots.push_back(std::move(plot));
    }
    return layout;
}

Image drawChart(const ChartLayout& layout) {
    const Canvas canvas(layout.width, layout.height);
    cairo_t* cr = canvas.cr();
    colour(cr, kBackground);
    cairo_paint(cr);
    for (const ChartPlot& plot : layout.plots) {
        drawAxes(cr, plot);
        drawSeries(cr, plot);
        drawFrame(cr, plot);
        drawLegend(cr, plot);
    }
    drawTexts(cr, layout.texts);
    return canvas.image();
}

} // namespace shaperhost
