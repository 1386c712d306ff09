#include "cli/plots.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "cli/cli_error.h"

namespace shaperhost {

namespace {

constexpr uint32_t kBackground = colour(16, 16, 20);
constexpr uint32_t kGrid = colour(48, 48, 56);
constexpr uint32_t kGridStrong = colour(90, 90, 100);
constexpr uint32_t kAxis = colour(150, 150, 160);
constexpr uint32_t kDiagonal = colour(70, 70, 120);
constexpr uint32_t kCurve = colour(40, 230, 90);
constexpr uint32_t kLimit = colour(150, 60, 40);

int checkedSide(int side) {
    if (side < 0)
        throw failure("a picture cannot have a negative size");
    return side;
}

} // namespace

Image::Image(int w, int h, uint32_t fillColour) : width(checkedSide(w)), height(checkedSide(h)) {
    const long long pixels = static_cast<long long>(w) * h;
    if (pixels > kMaxImagePixels)
        throw failure("a picture of " + std::to_string(w) + "x" + std::to_string(h) +
                      " pixels is larger than the " + std::to_string(kMaxImagePixels) + " pixels allowed");
    rgb.assign(static_cast<std::size_t>(pixels) * 3, 0);
    fill(0, 0, w, h, fillColour);
}

void Image::set(int x, int y, uint32_t c) {
    if (x < 0 || y < 0 || x >= width || y >= height)
        return;
    uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    p[0] = static_cast<uint8_t>(c >> 16);
    p[1] = static_cast<uint8_t>(c >> 8);
    p[2] = static_cast<uint8_t>(c);
}

void Image::fill(int x0, int y0, int x1, int y1, uint32_t c) {
    for (int y = std::max(y0, 0); y < std::min(y1, height); ++y) {
        for (int x = std::max(x0, 0); x < std::min(x1, width); ++x)
            set(x, y, c);
    }
}

void Image::line(int x0, int y0, int x1, int y1, uint32_t c) {
    // Bresenham, both end points included.
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    int error = dx + dy;
    for (;;) {
        set(x0, y0, c);
        if (x0 == x1 && y0 == y1)
            break;
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x0 += sx;
        }
        if (twice <= dx) {
            error += dx;
            y0 += sy;
        }
    }
}

Image Image::enlarged(int factor) const {
    if (factor <= 1)
        return *this;
    const long long bigWidth = static_cast<long long>(width) * factor;
    const long long bigHeight = static_cast<long long>(height) * factor;
    if (bigWidth * bigHeight > kMaxImagePixels)
        throw failure("a picture of " + std::to_string(bigWidth) + "x" + std::to_string(bigHeight) +
                      " pixels is larger than the " + std::to_string(kMaxImagePixels) + " pixels allowed");
    Image big(static_cast<int>(bigWidth), static_cast<int>(bigHeight), 0);
    for (int y = 0; y < big.height; ++y) {
        for (int x = 0; x < big.width; ++x) {
            const uint8_t* p = &rgb[(static_cast<std::size_t>(y / factor) * width + x / factor) * 3];
            big.set(x, y, colour(p[0], p[1], p[2]));
        }
    }
    return big;
}

Image transferPlot(const std::vector<float>& table, int size) {
    Image image(size, size, kBackground);
    // Vertical range: +-5 V, widened to the curve's largest finite magnitude in whole volts (at most 50).
    double range = 5.0;
    for (float t : table) {
        if (std::isfinite(t))
            range = std::max(range, std::min(50.0, std::ceil(std::fabs(t * 10.0))));
    }
    const int last = size - 1;
    auto xPixel = [&](double volts) { return static_cast<int>(std::lround((volts + 5.0) / 10.0 * last)); };
    auto yPixel = [&](double volts) {
        return static_cast<int>(std::lround((range - volts) / (2.0 * range) * last));
    };

    for (int v = -5; v <= 5; ++v)
        image.line(xPixel(v), 0, xPixel(v), last, v == 0 ? kAxis : kGrid);
    for (int v = -static_cast<int>(range); v <= static_cast<int>(range); ++v)
        image.line(0, yPixel(v), last, yPixel(v), v == 0 ? kAxis : (v % 5 == 0 ? kGridStrong : kGrid));
    if (range > 5.0) {
        image.line(0, yPixel(5), last, yPixel(5), kLimit);
        image.line(0, yPixel(-5), last, yPixel(-5), kLimit);
    }
    image.line(xPixel(-5), yPixel(-5), xPixel(5), yPixel(5), kDiagonal);

    bool previousValid = false;
    int px = 0;
    int py = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const double out = static_cast<double>(table[i]) * 10.0;
        if (!std::isfinite(out)) {
            previousValid = false;
            continue;
        }
        const int x = xPixel(static_cast<double>(i) * 10.0 / 512.0 - 5.0);
        const int y = yPixel(std::max(-range, std::min(range, out)));
        if (previousValid)
            image.line(px, py, x, y, kCurve);
        else
            image.set(x, y, kCurve);
        px = x;
        py = y;
        previousValid = true;
    }
    return image;
}

Image spectrumPlot(const std::vector<double>& decibels, double sampleRate, int width, int height) {
    Image image(width, height, kBackground);
    const double floor = -140.0;
    const int bottom = height - 1;
    auto yPixel = [&](double db) {
        const double clamped = std::max(floor, std::min(0.0, db));
        return static_cast<int>(std::lround(-clamped / -floor * bottom));
    };
    const double nyquist = sampleRate / 2.0;
    for (double f = 1000.0; f < nyquist; f += 1000.0) {
        const int x = static_cast<int>(std::lround(f / nyquist * (width - 1)));
        const bool strong = std::fmod(f, 5000.0) == 0.0;
        image.line(x, 0, x, bottom, strong ? kGridStrong : kGrid);
    }
    for (double db = 0.0; db >= floor; db -= 20.0)
        image.line(0, yPixel(db), width - 1, yPixel(db), db == 0.0 ? kAxis : kGrid);
    if (decibels.size() < 2)
        return image;
    // Each column shows the loudest bin that falls in it.
    const std::size_t bins = decibels.size();
    int previousY = -1;
    for (int x = 0; x < width; ++x) {
        const std::size_t first = static_cast<std::size_t>(static_cast<double>(x) / width * (bins - 1));
        const std::size_t last =
            std::max(first, static_cast<std::size_t>(static_cast<double>(x + 1) / width * (bins - 1)));
        double loudest = -1e300;
        for (std::size_t b = first; b <= last && b < bins; ++b)
            loudest = std::max(loudest, decibels[b]);
        const int y = yPixel(loudest);
        if (previousY >= 0)
            image.line(x - 1, previousY, x, y, kCurve);
        previousY = y;
    }
    return image;
}

} // namespace shaperhost
