// Reading what an X server shows in a window, as red-green-blue bytes, for the tests that compare a
// window on the screen with the editor's own painting.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <vector>

namespace x11_pixels {

// One 8-bit channel out of a pixel value, read through the visual's mask.
inline int channel(unsigned long pixel, unsigned long mask) {
    int shift = 0;
    while (((mask >> shift) & 1UL) == 0)
        ++shift;
    const unsigned long bits = mask >> shift;
    return static_cast<int>(((pixel >> shift) & bits) * 255 / bits);
}

// The width x height pixels at (x, y) of the window, rows from the top, three bytes each; empty when the
// server gives no image (a window that is gone, or not mapped).
inline std::vector<uint8_t> windowRgb(Display* display, Window window, int x, int y, int width, int height) {
    std::vector<uint8_t> rgb;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) == 0)
        return rgb;
    XImage* image = XGetImage(display, window, x, y, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr)
        return rgb;
    const Visual* visual = attributes.visual;
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const unsigned long p = XGetPixel(image, column, row);
            rgb.push_back(static_cast<uint8_t>(channel(p, visual->red_mask)));
            rgb.push_back(static_cast<uint8_t>(channel(p, visual->green_mask)));
            rgb.push_back(static_cast<uint8_t>(channel(p, visual->blue_mask)));
        }
    }
    XDestroyImage(image);
    return rgb;
}

} // namespace x11_pixels
