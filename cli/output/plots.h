// Pixels taken from an editor window, as the editor drew them, written as PNG through libpng. Charts
// are drawn elsewhere (charts.h).
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
    // Each pixel becomes a factor x factor square; the same limit applies to the result.
    Image enlarged(int factor) const;
};

constexpr uint32_t colour(int r, int g, int b) {
    return (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
}

// Pictures are written as PNG only, so a name that says otherwise (out.jpg) would mislead whoever opens
// it: what is wrong with such a name, or nothing for a name ending in .png (any letter case) or without
// an extension (pipes such as /dev/stdout).
std::string pngNameProblem(const std::string& path);

// Writes the image as an 8-bit RGB PNG to the staging file of `output`; failures are failure errors.
void writePng(const StagedOutput& output, const Image& image);
// Stages, writes and commits one PNG file.
void writePng(const std::string& path, const Image& image);

} // namespace shaperhost
