// Pictures the program writes: the transfer curve of a table, a spectrum, and pixels taken from an
// editor window. Drawing is plain raster work; files are PNG through libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace shaperhost {

class StagedOutput;

// The largest picture the program draws or writes, in pixels (4096 x 4096): three bytes each in memory.
constexpr long long kMaxImagePixels = 4096LL * 4096LL;

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // rows from the top, red-green-blue bytes

    Image() = default;
    // Sizes beyond kMaxImagePixels are a failure error (the callers check them first as usage errors).
    Image(int w, int h, uint32_t fill);
    void set(int x, int y, uint32_t colour);
    void line(int x0, int y0, int x1, int y1, uint32_t colour);
    void fill(int x0, int y0, int x1, int y1, uint32_t colour);
    // Each pixel becomes a factor x factor square; the same limit applies to the result.
    Image enlarged(int factor) const;
};

constexpr uint32_t colour(int r, int g, int b) {
    return (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
}

// The transfer curve: input -5 V..+5 V across, output up; grid lines every volt, axes brighter, the
// identity diagonal dim. The vertical range grows in whole volts when the curve leaves +-5 V.
Image transferPlot(const std::vector<float>& table, int size);

// A spectrum in dB (0 dB = full scale, 10 V) over 0 Hz..sampleRate/2 across, -140..0 dB up; grid lines
// every 20 dB and every kilohertz (every 5 kHz drawn brighter).
Image spectrumPlot(const std::vector<double>& decibels, double sampleRate, int width, int height);

// Whether this build writes PNG files.
bool pngAvailable();
// Writes the image as an 8-bit RGB PNG to the staging file of `output`; failures are failure errors.
void writePng(const StagedOutput& output, const Image& image);
// Stages, writes and commits one PNG file.
void writePng(const std::string& path, const Image& image);

} // namespace shaperhost
