#include "cli/output/plots.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "cli/common/cli_error.h"

namespace shaperhost {

namespace {

int checkedSide(int side) {
    if (side < 0)
        throw failure("a picture cannot have a negative size");
    return side;
}

} // namespace

std::string pngNameProblem(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return {};
    std::string extension = name.substr(dot + 1);
    for (char& c : extension)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (extension == "png")
        return {};
    return "pictures are written as PNG: give '" + path + "' a name ending in .png (not ." +
           name.substr(dot + 1) + ")";
}

Image::Image(int w, int h, uint32_t fillColour) : width(checkedSide(w)), height(checkedSide(h)) {
    const long long pixels = static_cast<long long>(w) * h;
    if (pixels > kMaxImagePixels)
        throw failure("a picture of " + std::to_string(w) + "x" + std::to_string(h) +
                      " pixels is larger than the " + std::to_string(kMaxImagePixels) + " pixels allowed");
    rgb.resize(static_cast<std::size_t>(pixels) * 3);
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = static_cast<uint8_t>(fillColour >> 16);
        rgb[i + 1] = static_cast<uint8_t>(fillColour >> 8);
        rgb[i + 2] = static_cast<uint8_t>(fillColour);
    }
}

void Image::set(int x, int y, uint32_t c) {
    if (x < 0 || y < 0 || x >= width || y >= height)
        return;
    uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    p[0] = static_cast<uint8_t>(c >> 16);
    p[1] = static_cast<uint8_t>(c >> 8);
    p[2] = static_cast<uint8_t>(c);
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

} // namespace shaperhost
