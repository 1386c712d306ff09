// PNG files through libpng.
#include <png.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "cli/common/cli_error.h"
#include "cli/output/output_file.h"
#include "cli/output/plots.h"
#include "cli/platform/file_system.h"

namespace shaperhost {

void writePng(const StagedOutput& output, const Image& image) {
    const std::string& path = output.targetPath();
    png_image description{};
    description.version = PNG_IMAGE_VERSION;
    description.width = static_cast<png_uint_32>(image.width);
    description.height = static_cast<png_uint_32>(image.height);
    description.format = PNG_FORMAT_RGB;
    std::FILE* file = openStagingFile(output.stagingPath());
    if (file == nullptr)
        throw failure("cannot write the picture '" + path + "' (" + std::generic_category().message(errno) +
                      ")");
    const bool written =
        png_image_write_to_stdio(&description, file, 0, image.rgb.data(), image.width * 3, nullptr) != 0;
    png_image_free(&description);
    if (std::fclose(file) != 0 || !written)
        throw failure("cannot write the picture '" + path + "': writing the PNG data failed");
}

void writePng(const std::string& path, const Image& image) {
    StagedOutput output(path);
    writePng(output, image);
    output.commit();
}

} // namespace shaperhost
