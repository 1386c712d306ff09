// Writing result files so that no existing file is lost or damaged by a failed command:
// - a regular file (or a new path) is written to a temporary name in the same folder and renamed over
//   the target when complete; a symbolic link is followed and its target replaced, never the link;
// - anything else that exists (a device, a FIFO, a socket, a pipe such as /dev/fd/63) is never replaced:
//   the data is staged in the system's temporary folder and copied into it when complete;
// - a command with several outputs stages them all and commits them only when all were produced;
// - an unfinished temporary file is removed on failure and on interruption (see file_system.h).
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
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
    bool isCommitted() const { return committed; }

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
// the target), open for writing and reading back, never committed. Its name is removed as soon as it
// is open (on Windows it is deleted when closed), so no scratch data outlives the program, however the
// program ends.
class ScratchFile {
public:
    explicit ScratchFile(const std::string& forTarget);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    std::FILE* file() const { return stream; }

private:
    std::FILE* stream = nullptr;
};

// A file a command reads, and what it is to the command ("the input file", "the text file", ...).
struct ReadFile {
    std::string path;
    std::string role;
};

// The outputs of one command, all staged before any is committed.
class OutputSet {
public:
    // `reads`: files the command reads, which no output may be.
    explicit OutputSet(std::vector<ReadFile> reads = {}) : reads(std::move(reads)) {}
    // Stages `path`; refuses (a usage error) a path that names one of the files read or the same file
    // as an earlier output of the set.
    StagedOutput& add(const std::string& path);
    // The outputs committed so far (all of them after commitAll).
    std::vector<std::string> committed() const;
    // Commits every output: first those written into devices and pipes, which can fail half way (a
    // reader that goes away, a full device), then the renames, which do not once the data is complete.
    void commitAll();

private:
    std::vector<ReadFile> reads;
    std::vector<std::unique_ptr<StagedOutput>> outputs;
};

// A usage error when an output is one of the files the command reads, or two outputs are one file:
// by the files' identity where they exist (so "./x.wav", links and hard links are caught), else by the
// path with its symbolic links followed (a new file named twice, a link to where another output goes).
// Called before anything is written.
void refuseSameFiles(const std::vector<ReadFile>& reads, const std::vector<std::string>& outputs);

// refuseSameFiles for one input and one output.
void refuseInputAsOutput(const std::string& input, const std::string& output);

// Writes text to the staging file of `output`; failures are failure errors.
void writeTextFile(const StagedOutput& output, const std::string& contents);
// Stages, writes and commits one text file.
void writeTextFile(const std::string& path, const std::string& contents);

} // namespace shaperhost
