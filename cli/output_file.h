// Writing result files so that no existing file is lost or damaged by a failed command:
// - a regular file (or a new path) is written to a temporary name in the same folder and renamed over
//   the target when complete; a symbolic link is followed and its target replaced, never the link;
// - anything else that exists (a device, a FIFO, a socket, a pipe such as /dev/fd/63) is never replaced:
//   the data is staged in the system's temporary folder and copied into it when complete;
// - a command with several outputs stages them all and commits them only when all were produced;
// - an unfinished temporary file is removed on failure and on interruption (see file_system.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace shaperhost {

class StagedOutput {
public:
    // Checks the target (no folder, a folder that exists, the parent folder writable) and creates the
    // staging file at once ("-" stands for standard output, written into like a pipe), so every problem with
    // the path shows before any work is done. Failures are failure errors naming the target.
    explicit StagedOutput(const std::string& target);
    // Removes the staging file unless it was committed.
    ~StagedOutput();
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;

    // Where to write the data now (an existing, empty file).
    const std::string& stagingPath() const { return staging; }
    // The path as the user gave it.
    const std::string& targetPath() const { return target; }
    // Moves or copies the staged data to the target; a failure is a failure error.
    void commit();
    // The target is a device, FIFO or socket, written into by commit.
    bool writesInto() const { return direct; }

private:
    std::string target;
    std::string destination; // the target with its symbolic links followed
    std::string staging;
    bool direct = false; // the target is a device, FIFO or socket: copied into, never replaced
    bool standardOutput = false;
    bool committed = false;
    int interruptSlot = -1;
};

// A file for intermediate data of the output `forTarget`: in the system's temporary folder (else beside
// the target), removed when destroyed and on interruption, never committed.
class ScratchFile {
public:
    explicit ScratchFile(const std::string& forTarget);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& path() const { return scratch; }

private:
    std::string scratch;
    int interruptSlot = -1;
};

// The outputs of one command, all staged before any is committed.
class OutputSet {
public:
    // Stages `path`; refuses a path that names the same file as an earlier output of the set.
    StagedOutput& add(const std::string& path);
    // Commits every output: first those written into devices and pipes, which can fail half way (a
    // reader that goes away, a full device), then the renames, which do not once the data is complete.
    void commitAll();

private:
    std::vector<std::unique_ptr<StagedOutput>> outputs;
};

// A failure when `output` names the same file as `input` (by the files' identity, so "./x.wav", a
// link to it or a hard link are caught too).
void refuseInputAsOutput(const std::string& input, const std::string& output);

// Writes text to the staging file of `output`; failures are failure errors.
void writeTextFile(const StagedOutput& output, const std::string& contents);
// Stages, writes and commits one text file.
void writeTextFile(const std::string& path, const std::string& contents);

} // namespace shaperhost
