// PNG files through libpng.
#include <png.h>

#include <cstdio>

#include "cli/cli_error.h"
#include "cli/output_file.h"
#include "cli/plots.h"

namespace shaperhost {

bool pngAvailable() {
    return true;
}

void writePng(const std::string& path, const Image& image) {
    requireOutputFolder(path);
    PendingOutput output(path);
    png_image description{};
    description.version = PNG_IMAGE_VERSION;
    description.width = static_cast<png_uint_32>(image.width);
    description.height = static_cast<png_uint_32>(image.height);
    description.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&description, output.temporaryPath().c_str(), 0, image.rgb.data(),
                                 image.width * 3, nullptr)) {
        const std::string reason = description.message;
        png_image_free(&description);
        throw failure("cannot write '" + path + "': " + reason);
    }
    output.commit();
}

} // namespace shaperhost
