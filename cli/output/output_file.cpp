#include "cli/output/output_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <system_error>

#include "cli/common/cli_error.h"
#include "cli/platform/file_system.h"

namespace fs = std::filesystem;

namespace shaperhost {

namespace {

// Symbolic links followed before a chain counts as a loop (the limit Linux uses).
constexpr int kMaxLinks = 40;

fs::path folderOf(const fs::path& path) {
    const fs::path parent = path.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

std::string reasonOf(int error) {
    return std::generic_category().message(error);
}

bool isSpecial(fs::file_type type) {
    return type == fs::file_type::character || type == fs::file_type::block || type == fs::file_type::fifo ||
           type == fs::file_type::socket;
}

// The path that a chain of symbolic links ends in; the end itself need not exist yet.
fs::path followLinks(const std::string& target) {
    fs::path path = fs::u8path(target);
    for (int followed = 0;; ++followed) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error)))
            return path;
        if (followed == kMaxLinks)
            throw failure("cannot write '" + target + "': its symbolic links form a loop");
        const fs::path next = fs::read_symlink(path, error);
        if (error)
            throw failure("cannot write '" + target + "': its symbolic link cannot be read");
        path = next.is_absolute() ? next : folderOf(path) / next;
    }
}

// The longest file name, in bytes, that the usual file systems take (255 UTF-16 units on Windows,
// which is never fewer than 255 bytes).
constexpr std::size_t kMaxNameBytes = 255;

// `stem` cut to at most `bytes` bytes, never inside a UTF-8 sequence.
std::string cutName(const std::string& stem, std::size_t bytes) {
    if (stem.size() <= bytes)
        return stem;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(stem[end]) & 0xC0) == 0x80)
        --end;
    return stem.substr(0, end);
}

// Creates a new, empty file of a name not taken yet in `folder`; returns its path. The name is the
// stem with a dot before and a number and ".partial" after, the stem shortened so that the name fits
// wherever the target's own name does.
std::string createStagingFile(const fs::path& folder, const std::string& stem, const std::string& target) {
    std::random_device random;
    for (int attempt = 0;; ++attempt) {
        const std::string suffix = "." + std::to_string(random() % 1000000u) + ".partial";
        const fs::path name = folder / ("." + cutName(stem, kMaxNameBytes - 1 - suffix.size()) + suffix);
        const int error = createNewFile(name.u8string());
        if (error == 0)
            return name.u8string();
        if (error != EEXIST || attempt == 20)
            throw failure("cannot write '" + target + "': no file can be created in the folder '" +
                          folder.u8string() + "' (" + reasonOf(error) + ")");
    }
}

} // namespace

StagedOutput::StagedOutput(const std::string& path) : target(path) {
    if (target.empty())
        throw usageError("an output file name is empty");
    std::error_code error;
    standardOutput = target == "-";
    const fs::file_status status = fs::status(fs::u8path(target), error);
    if (!standardOutput && status.type() == fs::file_type::directory)
        throw failure("cannot write '" + target + "': it is a folder");
    if (standardOutput || isSpecial(status.type())) {
        // Devices, FIFOs and pipes are written into, so the data is staged elsewhere.
        direct = true;
        destination = target;
        std::error_code noTemp;
        const fs::path temporaryFolder = fs::temp_directory_path(noTemp);
        staging = createStagingFile(noTemp ? fs::path(".") : temporaryFolder, "shaperhost", target);
    } else {
        const fs::path resolved = followLinks(target);
        destination = resolved.u8string();
        const fs::path folder = folderOf(resolved);
        if (!fs::is_directory(folder, error))
            throw failure("cannot write '" + target + "': the folder '" + folder.u8string() +
                          "' does not exist");
        staging = createStagingFile(folder, resolved.filename().u8string(), target);
    }
    interruptSlot = registerPartialFile(staging.c_str());
}

ScratchFile::ScratchFile(const std::string& forTarget) {
    std::error_code noTemp;
    const fs::path temporaryFolder = fs::temp_directory_path(noTemp);
    const std::string scratch = createStagingFile(noTemp ? folderOf(fs::u8path(forTarget)) : temporaryFolder,
                                                  "shaperhost-scratch", forTarget);
    stream = openScratchFile(scratch);
    if (stream == nullptr) {
        const int error = errno;
        std::error_code ignored;
        fs::remove(fs::u8path(scratch), ignored);
        throw failure("cannot write '" + forTarget + "': no room for the output before normalising (" +
                      reasonOf(error) + ")");
    }
}

ScratchFile::~ScratchFile() {
    std::fclose(stream);
}

StagedOutput::~StagedOutput() {
    if (!committed || direct) {
        std::error_code ignored;
        fs::remove(fs::u8path(staging), ignored);
    }
    withdrawPartialFile(interruptSlot);
}

void StagedOutput::commit() {
    if (committed)
        return;
    if (!direct) {
        // A replaced file keeps its permissions.
        std::error_code error;
        const fs::file_status old = fs::status(fs::u8path(destination), error);
        if (!error && old.type() == fs::file_type::regular)
            fs::permissions(fs::u8path(staging), old.permissions(), error);
        fs::rename(fs::u8path(staging), fs::u8path(destination), error);
        if (error)
            throw failure("cannot write '" + target + "': renaming the finished file failed (" +
                          error.message() + ")");
        committed = true;
        return;
    }
    std::FILE* from = std::fopen(staging.c_str(), "rb");
    if (from == nullptr)
        throw failure("cannot write '" + target + "': the finished data cannot be read back");
    const std::string name = standardOutput ? std::string("standard output") : "'" + target + "'";
    if (standardOutput) {
        std::cout.flush();
        useBinaryMode(stdout);
    }
    std::FILE* to = standardOutput ? stdout : std::fopen(target.c_str(), "wb");
    if (to == nullptr) {
        const int error = errno;
        std::fclose(from);
        throw failure("cannot write '" + target + "' (" + reasonOf(error) + ")");
    }
    char buffer[65536];
    bool written = true;
    int error = 0;
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof(buffer), from);
        if (n == 0)
            break;
        if (std::fwrite(buffer, 1, n, to) != n) {
            error = errno;
            written = false;
            break;
        }
    }
    const bool readBack = std::ferror(from) == 0;
    std::fclose(from);
    if (std::fflush(to) != 0 && written) {
        error = errno;
        written = false;
    }
    if (!standardOutput && std::fclose(to) != 0 && written) {
        error = errno;
        written = false;
    }
    if (!readBack)
        throw failure("cannot write " + name + ": the finished data cannot be read back");
    if (!written)
        throw failure("cannot write " + name + " (" + reasonOf(error) + ")");
    committed = true;
}

StagedOutput& OutputSet::add(const std::string& path) {
    std::vector<std::string> paths;
    for (const auto& earlier : outputs)
        paths.push_back(earlier->targetPath());
    paths.push_back(path);
    refuseSameFiles(reads, paths);
    outputs.push_back(std::make_unique<StagedOutput>(path));
    return *outputs.back();
}

std::vector<std::string> OutputSet::committed() const {
    std::vector<std::string> done;
    for (const auto& output : outputs) {
        if (output->isCommitted())
            done.push_back(output->targetPath());
    }
    return done;
}

void OutputSet::commitAll() {
    for (const auto& output : outputs) {
        if (output->writesInto())
            output->commit();
    }
    for (const auto& output : outputs)
        output->commit();
}

namespace {

// Where a path leads: its symbolic links followed, then made absolute and normal.
fs::path whereItLeads(const std::string& path) {
    fs::path resolved;
    try {
        resolved = followLinks(path);
    } catch (const CliError&) {
        resolved = fs::u8path(path); // a loop: the output's own check reports it
    }
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(resolved, error);
    return error ? resolved.lexically_normal() : canonical;
}

// A path as compared: where it leads, and whether the file exists, so that its identity can be
// compared too. The identity catches what the path cannot: hard links, and links that the system
// resolves out of the program's sight (under a Windows layer on a POSIX system, a symbolic link looks
// like a plain file).
struct FileKey {
    fs::path leadsTo;
    bool existing = false;
};

FileKey keyOf(const std::string& path) {
    FileKey key;
    key.leadsTo = whereItLeads(path);
    std::error_code error;
    key.existing = fs::exists(fs::u8path(path), error) && !error;
    return key;
}

bool sameIdentity(const std::string& a, const FileKey& keyA, const std::string& b, const FileKey& keyB) {
    std::error_code error;
    return keyA.existing && keyB.existing && fs::equivalent(fs::u8path(a), fs::u8path(b), error) && !error;
}

} // namespace

void refuseSameFiles(const std::vector<ReadFile>& reads, const std::vector<std::string>& outputs) {
    // Each path is looked up once and found by its key; only files that exist are also compared by
    // identity, pair by pair (a batch into a new folder writes no existing file, so it stays quick).
    std::vector<FileKey> readKeys(reads.size());
    std::map<fs::path, std::size_t> readAt;
    std::vector<std::size_t> existingReads;
    for (std::size_t r = 0; r < reads.size(); ++r) {
        // "-" reads standard input, which is no file an output could replace.
        if (reads[r].path.empty() || reads[r].path == "-")
            continue;
        readKeys[r] = keyOf(reads[r].path);
        readAt.emplace(readKeys[r].leadsTo, r);
        if (readKeys[r].existing)
            existingReads.push_back(r);
    }
    std::vector<FileKey> outputKeys(outputs.size());
    std::map<fs::path, std::size_t> outputAt;
    std::vector<std::size_t> existingOutputs;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (outputs[i].empty())
            continue;
        const FileKey key = keyOf(outputs[i]);
        outputKeys[i] = key;
        std::size_t same = reads.size();
        const auto byPath = readAt.find(key.leadsTo);
        if (byPath != readAt.end())
            same = byPath->second;
        for (std::size_t r : existingReads) {
            if (same == reads.size() && sameIdentity(reads[r].path, readKeys[r], outputs[i], key))
                same = r;
        }
        if (same < reads.size())
            throw usageError("cannot write '" + outputs[i] + "': it is " + reads[same].role + " '" +
                             reads[same].path + "', which this command reads");
        std::size_t earlier = outputs.size();
        const auto byOutput = outputAt.find(key.leadsTo);
        if (byOutput != outputAt.end())
            earlier = byOutput->second;
        for (std::size_t j : existingOutputs) {
            if (earlier == outputs.size() && sameIdentity(outputs[j], outputKeys[j], outputs[i], key))
                earlier = j;
        }
        if (earlier < outputs.size())
            throw usageError(
                "'" + outputs[i] + "' is given for two outputs" +
                (outputs[earlier] == outputs[i] ? std::string() : " (also as '" + outputs[earlier] + "')"));
        outputAt.emplace(key.leadsTo, i);
        if (key.existing)
            existingOutputs.push_back(i);
    }
}

void refuseInputAsOutput(const std::string& input, const std::string& output) {
    refuseSameFiles({{input, "the input file"}}, {output});
}

void writeTextFile(const StagedOutput& output, const std::string& contents) {
    std::FILE* file = openStagingFile(output.stagingPath());
    if (file == nullptr)
        throw failure("cannot write '" + output.targetPath() + "' (" + reasonOf(errno) + ")");
    const bool written = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    const int error = errno;
    if (std::fclose(file) != 0 || !written)
        throw failure("cannot write '" + output.targetPath() + "' (" + reasonOf(written ? errno : error) +
                      ")");
}

void writeTextFile(const std::string& path, const std::string& contents) {
    StagedOutput output(path);
    writeTextFile(output, contents);
    output.commit();
}

} // namespace shaperhost
