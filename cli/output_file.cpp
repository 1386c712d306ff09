#include "cli/output_file.h"

#include <filesystem>
#include <fstream>
#include <random>

#include "cli/cli_error.h"

namespace fs = std::filesystem;

namespace shaperhost {

namespace {

fs::path folderOf(const std::string& path) {
    const fs::path parent = fs::u8path(path).parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

} // namespace

PendingOutput::PendingOutput(const std::string& path) : target(path) {
    std::random_device random;
    const unsigned tag = random();
    const fs::path name = fs::u8path(path).filename();
    fs::path temp =
        folderOf(path) / ("." + name.u8string() + "." + std::to_string(tag % 1000000u) + ".partial");
    temporary = temp.u8string();
}

PendingOutput::~PendingOutput() {
    if (!committed) {
        std::error_code ignored;
        fs::remove(fs::u8path(temporary), ignored);
    }
}

void PendingOutput::commit() {
    std::error_code error;
    fs::rename(fs::u8path(temporary), fs::u8path(target), error);
    if (error)
        throw failure("cannot write '" + target + "': " + error.message());
    committed = true;
}

void writeTextFile(const std::string& path, const std::string& contents) {
    PendingOutput output(path);
    {
        std::ofstream out(fs::u8path(output.temporaryPath()), std::ios::binary);
        if (!out)
            throw failure("cannot write '" + path + "': the folder is missing or not writable");
        out << contents;
        out.flush();
        if (!out)
            throw failure("cannot write '" + path + "': writing failed");
    }
    output.commit();
}

void requireOutputFolder(const std::string& path) {
    std::error_code error;
    const fs::path folder = folderOf(path);
    if (!fs::is_directory(folder, error))
        throw failure("cannot write '" + path + "': the folder '" + folder.u8string() + "' does not exist");
}

} // namespace shaperhost
