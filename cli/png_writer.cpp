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

void writePng(const StagedOutput& output, const Image& image) {
    const std::string& path = output.targetPath();
    png_image description{};
    description.version = PNG_IMAGE_VERSION;
    description.width = static_cast<png_uint_32>(image.width);
    description.height = static_cast<png_uint_32>(image.height);
    description.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&description, output.stagingPath().c_str(), 0, image.rgb.data(),
                                 image.width * 3, nullptr)) {
        png_image_free(&description);
        throw failure("cannot write the picture '" + path + "': writing the PNG data failed");
    }
}

void writePng(const std::string& path, const Image& image) {
    StagedOutput output(path);
    writePng(output, image);
    output.commit();
}

} // namespace shaperhost
