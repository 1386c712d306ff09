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

#include "cli/chart_fonts.h"
#include "cli/charts.h"
#include "cli/cli_error.h"
#include "cli/output_file.h"
#include "cli/plots.h"
#include "cli/text_args.h"

namespace shaperhost {

namespace {

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

constexpr double kPi = 3.14159265358979323846;

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
    // The picture as PNG, to the staging file of `output`.
    void save(const StagedOutput& output) const;

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

void Canvas::save(const StagedOutput& output) const {
    cairo_surface_flush(surface_);
    Image image(width_, height_, 0);
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    for (int y = 0; y < height_; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < width_; ++x)
            image.set(x, y, row[x] & 0xFFFFFFu); // RGB24: 0x00RRGGBB in native order
    }
    writePng(output, image);
}

void colour(cairo_t* cr, const Rgb& c) {
    cairo_set_source_rgb(cr, c.r, c.g, c.b);
}

enum class Align { Left, Centre, Right };

// Text whose baseline starts, centres or ends at (x, y).
void text(cairo_t* cr, double x, double y, const std::string& s, double size, Align align,
          bool bold = false) {
    cairo_set_font_face(cr, Canvas::face(cr, bold));
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, s.c_str(), &e);
    const double left = align == Align::Left     ? x
                        : align == Align::Centre ? x - e.x_advance / 2
                                                 : x - e.x_advance;
    cairo_move_to(cr, left, y);
    cairo_show_text(cr, s.c_str());
}

double textWidth(cairo_t* cr, const std::string& s, double size, bool bold = false) {
    cairo_set_font_face(cr, Canvas::face(cr, bold));
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, s.c_str(), &e);
    return e.x_advance;
}

// The text cut with an ellipsis to fit the width.
std::string fitted(cairo_t* cr, const std::string& s, double size, double width, bool bold = false) {
    if (textWidth(cr, s, size, bold) <= width)
        return s;
    std::string cut = s;
    while (!cut.empty() && textWidth(cr, cut + "...", size, bold) > width)
        cut.pop_back();
    return cut + "...";
}

// The text in at most `lines` lines of the width, broken after a space or a closing parenthesis where
// there is one, the last line cut with an ellipsis.
std::vector<std::string> wrapped(cairo_t* cr, const std::string& s, double size, double width, int lines) {
    std::vector<std::string> out;
    std::string rest = s;
    while (!rest.empty() && static_cast<int>(out.size()) < lines - 1 && textWidth(cr, rest, size) > width) {
        std::size_t fit = 1;
        while (fit < rest.size() && textWidth(cr, rest.substr(0, fit + 1), size) <= width)
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
    }
    if (!rest.empty())
        out.push_back(fitted(cr, rest, size, width));
    return out;
}

// Tick positions from lo to hi at a step of 1, 2 or 5 times a power of ten, about `count` of them.
std::vector<double> ticks(double lo, double hi, int count, double* stepOut) {
    const double raw = (hi - lo) / std::max(count, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * power;
        if (step >= raw)
            break;
    }
    std::vector<double> out;
    for (double v = std::ceil(lo / step - 1e-9) * step; v <= hi + step * 1e-9; v += step)
        out.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
    *stepOut = step;
    return out;
}

std::string tickLabel(double value, double step) {
    const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    return formatFixed(value, decimals);
}

// A plot area inside a picture, mapping data to pixels.
struct Frame {
    double left, top, width, height;
    double x0, x1, y0, y1; // data ranges

    double px(double x) const { return left + (x - x0) / (x1 - x0) * width; }
    double py(double y) const { return top + height - (y - y0) / (y1 - y0) * height; }
};

// Background, grid, numbered ticks, frame and axis labels.
void drawAxes(cairo_t* cr, const Frame& f, const std::string& xLabel, const std::string& yLabel, int xTicks,
              int yTicks, double xScale = 1.0) {
    colour(cr, kPlotArea);
    cairo_rectangle(cr, f.left, f.top, f.width, f.height);
    cairo_fill(cr);
    double xStep = 0.0;
    double yStep = 0.0;
    const std::vector<double> xs = ticks(f.x0 * xScale, f.x1 * xScale, xTicks, &xStep);
    const std::vector<double> ys = ticks(f.y0, f.y1, yTicks, &yStep);
    cairo_set_line_width(cr, 1.0);
    for (double x : xs) {
        const double p = std::round(f.px(x / xScale)) + 0.5;
        colour(cr, kGrid);
        cairo_move_to(cr, p, f.top);
        cairo_line_to(cr, p, f.top + f.height);
        cairo_stroke(cr);
        colour(cr, kFrame);
        cairo_move_to(cr, p, f.top + f.height);
        cairo_line_to(cr, p, f.top + f.height + 5);
        cairo_stroke(cr);
        colour(cr, kText);
        text(cr, p, f.top + f.height + 19, tickLabel(x, xStep), 12, Align::Centre);
    }
    for (double y : ys) {
        const double p = std::round(f.py(y)) + 0.5;
        colour(cr, kGrid);
        cairo_move_to(cr, f.left, p);
        cairo_line_to(cr, f.left + f.width, p);
        cairo_stroke(cr);
        colour(cr, kFrame);
        cairo_move_to(cr, f.left - 5, p);
        cairo_line_to(cr, f.left, p);
        cairo_stroke(cr);
        colour(cr, kText);
        text(cr, f.left - 8, p + 4, tickLabel(y, yStep), 12, Align::Right);
    }
    colour(cr, kFrame);
    cairo_rectangle(cr, std::round(f.left) + 0.5, std::round(f.top) + 0.5, std::round(f.width),
                    std::round(f.height));
    cairo_stroke(cr);
    colour(cr, kText);
    text(cr, f.left + f.width / 2, f.top + f.height + 42, xLabel, 13, Align::Centre);
    cairo_save(cr);
    cairo_translate(cr, f.left - 50, f.top + f.height / 2);
    cairo_rotate(cr, -kPi / 2);
    text(cr, 0, 0, yLabel, 13, Align::Centre);
    cairo_restore(cr);
}

struct LegendEntry {
    std::string label;
    Rgb colour;
    bool dashed;
    bool dot;
};

double legendWidth(cairo_t* cr, const std::vector<LegendEntry>& entries) {
    double width = 0.0;
    for (const LegendEntry& e : entries)
        width = std::max(width, textWidth(cr, e.label, 12));
    return width + 52;
}

// A boxed legend with its top-left corner at (x, y).
void drawLegend(cairo_t* cr, double x, double y, const std::vector<LegendEntry>& entries) {
    const double boxWidth = legendWidth(cr, entries);
    const double boxHeight = 10 + 18.0 * entries.size();
    cairo_set_source_rgba(cr, 1, 1, 1, 0.92);
    cairo_rectangle(cr, x, y, boxWidth, boxHeight);
    cairo_fill_preserve(cr);
    colour(cr, kGrid);
    cairo_set_line_width(cr, 1.0);
    cairo_stroke(cr);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const LegendEntry& e = entries[i];
        const double row = y + 14 + 18.0 * i;
        colour(cr, e.colour);
        if (e.dot) {
            cairo_arc(cr, x + 22, row, 3.0, 0, 2 * kPi);
            cairo_fill(cr);
        } else {
            const double dash[] = {6.0, 4.0};
            cairo_set_dash(cr, dash, e.dashed ? 2 : 0, 0);
            cairo_set_line_width(cr, 2.0);
            cairo_move_to(cr, x + 8, row);
            cairo_line_to(cr, x + 36, row);
            cairo_stroke(cr);
            cairo_set_dash(cr, nullptr, 0, 0);
        }
        colour(cr, kText);
        text(cr, x + 44, row + 4, e.label, 12, Align::Left);
    }
}

// Title and up to two lines of subtitle; returns the height they take.
double drawTitle(cairo_t* cr, double width, const std::string& title, const std::string& subtitle) {
    colour(cr, kText);
    text(cr, width / 2, 24, fitted(cr, title, 16, width - 20, true), 16, Align::Centre, true);
    double y = 30.0;
    for (const std::string& line : wrapped(cr, subtitle, 12, width - 20, 2)) {
        y += 16.0;
        text(cr, width / 2, y, line, 12, Align::Centre);
    }
    return y + 8.0;
}

} // namespace

void writeTransferChart(const StagedOutput& output, const TransferChart& chart, int size) {
    const Canvas canvas(size, size);
    cairo_t* cr = canvas.cr();
    colour(cr, kBackground);
    cairo_paint(cr);

    // Output range: +-5 V, grown in whole volts to hold the curve (within reason).
    double lo = -5.0;
    double hi = 5.0;
    for (float v : chart.table) {
        const double volts = static_cast<double>(v) * 10.0;
        if (std::isfinite(volts)) {
            lo = std::min(lo, std::max(std::floor(volts), -1000.0));
            hi = std::max(hi, std::min(std::ceil(volts), 1000.0));
        }
    }
    const double margin = 70.0;
    const double top = drawTitle(cr, size, chart.title, chart.subtitle) + 6.0;
    Frame f{margin, top, size - margin - 20.0, size - top - 58.0, -5.0, 5.0, lo, hi};
    drawAxes(cr, f, "input / V", "output / V", 10, 10);

    cairo_save(cr);
    cairo_rectangle(cr, f.left, f.top, f.width, f.height);
    cairo_clip(cr);
    const double dash[] = {6.0, 4.0};
    cairo_set_dash(cr, dash, 2, 0);
    cairo_set_line_width(cr, 1.5);
    colour(cr, kIdentity);
    cairo_move_to(cr, f.px(-5.0), f.py(-5.0));
    cairo_line_to(cr, f.px(5.0), f.py(5.0));
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);

    colour(cr, kCurve);
    cairo_set_line_width(cr, 2.2);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    bool drawing = false;
    const int last = static_cast<int>(chart.table.size()) - 1;
    for (int i = 0; i <= last; ++i) {
        const double volts = static_cast<double>(chart.table[static_cast<std::size_t>(i)]) * 10.0;
        if (!std::isfinite(volts)) {
            drawing = false;
            continue;
        }
        const double x = f.px(-5.0 + 10.0 * i / std::max(last, 1));
        const double y = f.py(std::max(lo - 1.0, std::min(volts, hi + 1.0)));
        if (drawing)
            cairo_line_to(cr, x, y);
        else
            cairo_move_to(cr, x, y);
        drawing = true;
    }
    cairo_stroke(cr);
    cairo_restore(cr);

    drawLegend(
        cr, f.left + 10, f.top + 10,
        {{"transfer curve", kCurve, false, false}, {"identity (output = input)", kIdentity, true, false}});
    canvas.save(output);
}

void writeSpectrumChart(const StagedOutput& output, const SpectrumChart& chart, int panelWidth, int height) {
    const int panels = static_cast<int>(std::max<std::size_t>(chart.panels.size(), 1));
    const int width = panelWidth * panels;
    const Canvas canvas(width, height);
    cairo_t* cr = canvas.cr();
    colour(cr, kBackground);
    cairo_paint(cr);
    const double titleHeight = drawTitle(cr, width, chart.title, chart.subtitle);

    // One level range for all panels so they compare at a glance.
    double top = 0.0;
    for (const SpectrumPanel& p : chart.panels) {
        for (double d : p.decibels)
            top = std::max(top, std::min(std::ceil(d / 20.0) * 20.0, 200.0));
    }
    const double bottom = -160.0;

    for (int i = 0; i < static_cast<int>(chart.panels.size()); ++i) {
        const SpectrumPanel& p = chart.panels[static_cast<std::size_t>(i)];
        const double nyquist = p.sampleRate / 2.0;
        const double frameTop = titleHeight + 28.0;
        Frame f{panelWidth * i + 78.0,
                frameTop,
                panelWidth - 78.0 - 22.0,
                height - frameTop - 58.0,
                0.0,
                nyquist,
                bottom,
                top};
        colour(cr, kText);
        text(cr, f.left + f.width / 2, frameTop - 10.0, p.label, 13, Align::Centre, true);
        drawAxes(cr, f, "frequency / kHz", "level / dBFS (0 dBFS = 10 V peak)", 12, 8, 1e-3);

        cairo_save(cr);
        cairo_rectangle(cr, f.left, f.top, f.width, f.height);
        cairo_clip(cr);
        const std::size_t bins = p.decibels.size();
        // The whole spectrum: per pixel column, the highest bin in it.
        colour(cr, kSpectrum);
        cairo_set_line_width(cr, 1.0);
        const int columns = static_cast<int>(f.width);
        for (int c = 0; c < columns && bins > 1; ++c) {
            const std::size_t first = static_cast<std::size_t>(static_cast<double>(c) / columns * (bins - 1));
            const std::size_t end = std::max(
                first + 1, static_cast<std::size_t>(static_cast<double>(c + 1) / columns * (bins - 1)));
            double level = -1e9;
            for (std::size_t k = first; k < end && k < bins; ++k)
                level = std::max(level, p.decibels[k]);
            const double x = f.left + c + 0.5;
            cairo_move_to(cr, x, f.py(bottom));
            cairo_line_to(cr, x, f.py(std::max(level, bottom)));
        }
        cairo_stroke(cr);
        // Harmonics and aliases as stems with a dot, aliases first so harmonics stay on top.
        for (int pass = 0; pass < 2; ++pass) {
            const std::vector<char>& marks = pass == 0 ? p.binIsAlias : p.binIsHarmonic;
            colour(cr, pass == 0 ? kAlias : kHarmonic);
            for (std::size_t k = 1; k < std::min(bins, marks.size()); ++k) {
                if (!marks[k] || p.decibels[k] < bottom + 10.0)
                    continue;
                const double x = f.px(static_cast<double>(k) / (bins - 1) * nyquist);
                const double y = f.py(p.decibels[k]);
                cairo_set_line_width(cr, 1.5);
                cairo_move_to(cr, x, f.py(bottom));
                cairo_line_to(cr, x, y);
                cairo_stroke(cr);
                cairo_arc(cr, x, y, 3.0, 0, 2 * kPi);
                cairo_fill(cr);
            }
        }
        cairo_restore(cr);
        const std::vector<LegendEntry> legend = {
            {"harmonics", kHarmonic, false, true},
            {"aliases (harmonics above " + formatDouble(nyquist / 1000.0) + " kHz, folded back)", kAlias,
             false, true},
            {"all bins", kSpectrum, false, false}};
        drawLegend(cr, f.left + f.width - legendWidth(cr, legend) - 10, f.top + 10, legend);
    }
    canvas.save(output);
}

} // namespace shaperhost
