// Audio files through libsndfile: WAV, FLAC and AIFF, read as float samples, written through a
// temporary file so that a failed write leaves the target untouched.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/audio/audio_buffer.h"
#include "cli/output/output_file.h"

namespace shaperhost {

enum class SampleFormat { Float, Pcm16, Pcm24 };

// The sample format named on the command line ("float", "pcm16", "pcm24", in any letter case); a usage
// error otherwise.
SampleFormat sampleFormatNamed(const std::string& name);

// The file type of an output: told by its extension, or given with --type (standard output and names
// without an extension have none to tell).
enum class AudioContainer { FromName, Wav, Aiff, Flac };
// "wav", "aiff" or "flac" (any letter case); a usage error otherwise.
AudioContainer audioContainerNamed(const std::string& name);

// The name that stands for standard input (-i -) and standard output (-o -).
constexpr const char* kStandardStream = "-";
// "standard input" / "standard output" for "-", else the name in quotes, for messages.
std::string inputName(const std::string& path);
std::string outputName(const std::string& path);

// Whether the linked libsndfile has its FLAC codec (builds without external codecs have none).
bool flacAvailable();
// The container for the output (`type`, else the path's extension); a usage error when neither tells
// one, and for FLAC where the build has none. FLAC holds no float samples, so it needs a PCM format.
void checkOutputPath(const std::string& path, SampleFormat format,
                     AudioContainer type = AudioContainer::FromName);

// An audio file read block by block, so a long file never sits in memory whole.
class AudioReader {
public:
    // Opens the file ("-": standard input) and checks it: missing, unreadable, unsupported and truncated
    // files (a WAV or AIFF whose data chunk claims more than the file holds) are failures that say which.
    explicit AudioReader(const std::string& path);
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    int channels() const { return channelCount; }
    int sampleRate() const { return rate; }
    int64_t frames() const { return frameCount; }
    // The file's sample encoding (libsndfile's subtype code).
    int encoding() const { return subtype; }
    // Reads up to `count` frames (interleaved) into `samples`; returns the number read, 0 at the end.
    // A file that ends before the frames it declared is a failure.
    int64_t read(float* samples, int64_t count);

private:
    std::string path;
    void* file = nullptr;
    int channelCount = 0;
    int rate = 0;
    int64_t frameCount = 0;
    int64_t framesRead = 0;
    int subtype = 0;
};

// An audio file written block by block to the staging file of an output.
class AudioWriter {
public:
    // A WAV output of `expectedFrames` frames (when known, else -1) that is beyond the 4 GiB a WAV
    // header can state is written as RF64; a WAV or AIFF output that grows beyond that limit otherwise
    // fails before the data that would not fit is written, never with a header that lies.
    AudioWriter(const StagedOutput& output, int channels, int sampleRate, SampleFormat format,
                AudioContainer type = AudioContainer::FromName, int64_t expectedFrames = -1);
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    // Float samples go as they are; for integer formats each sample is rounded to the nearest step (full
    // scale 2^(bits-1) steps) and clipped to the format's range, and clipped samples are counted.
    void write(const float* samples, int64_t frames);
    // Refuses, as write() does, a file of `frames` frames in all that the format's sizes cannot state:
    // for output held back (for normalisation) before it is written.
    void checkLength(int64_t frames) const;
    // Per channel, the samples clipped so far (all 0 for float).
    const std::vector<int64_t>& clipped() const { return clippedCounts; }
    // Finishes the file (header sizes); a failure error when that fails. The output is not committed.
    void close();

private:
    std::string target;
    std::FILE* stream = nullptr; // the open staging file, written by libsndfile through its descriptor
    void* file = nullptr;
    int bits = 0; // 0 for float
    int64_t framesWritten = 0;
    int64_t bytesPerFrame = 4;
    int64_t maxFrames = -1; // -1: no limit
    // The sample data a 32-bit size field holds, less room for the header and other chunks.
    static constexpr int64_t kMaxDataBytes = 0xFFFFFFFFLL - 65536;
    bool floatWav = false;
    bool flacFile = false;
    std::vector<int64_t> clippedCounts;
    std::vector<int> integers;
};

// The output format when none is asked for: the input's where the output's container holds it (16-bit
// stays 16-bit, 24-bit 24-bit, float float); 16-bit for an 8-bit input; 24-bit PCM for float into FLAC,
// which holds no float; float for the built-in signal (`input` null) and other encodings. `reason` says
// why, for summaries.
SampleFormat defaultOutputFormat(const AudioReader* input, const std::string& outputPath, AudioContainer type,
                                 std::string* reason);

// The output for `input` in `folder`: the input's file name there.
std::string outputPathIn(const std::string& folder, const std::string& input);

// Reads a whole (short) file; failures as for AudioReader.
AudioBuffer readAudioFile(const std::string& path);

// Writes audio to the staging file of `output`, or stages, writes and commits `path`.
// Returns per channel the samples clipped (see AudioWriter::write).
std::vector<int64_t> writeAudioFile(const StagedOutput& output, const AudioBuffer& audio,
                                    SampleFormat format);
void writeAudioFile(const std::string& path, const AudioBuffer& audio, SampleFormat format);

} // namespace shaperhost
