#include "cli/audio/audio_io.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/common/cli_error.h"
#include "cli/common/text_args.h"
#include "cli/output/output_file.h"
#include "cli/platform/file_system.h"

namespace fs = std::filesystem;

namespace shaperhost {

namespace {

std::string lowerExtension(const std::string& path) {
    std::string ext = fs::u8path(path).extension().u8string();
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}

// The libsndfile major format for the type, else the extension, or 0.
int containerFor(const std::string& path, AudioContainer type = AudioContainer::FromName) {
    switch (type) {
    case AudioContainer::Wav:
        return SF_FORMAT_WAV;
    case AudioContainer::Aiff:
        return SF_FORMAT_AIFF;
    case AudioContainer::Flac:
        return SF_FORMAT_FLAC;
    case AudioContainer::FromName:
        break;
    }
    if (path == kStandardStream)
        return 0;
    const std::string ext = lowerExtension(path);
    if (ext == ".wav")
        return SF_FORMAT_WAV;
    if (ext == ".flac")
        return SF_FORMAT_FLAC;
    if (ext == ".aif" || ext == ".aiff")
        return SF_FORMAT_AIFF;
    return 0;
}

int subtypeFor(SampleFormat format) {
    switch (format) {
    case SampleFormat::Pcm16:
        return SF_FORMAT_PCM_16;
    case SampleFormat::Pcm24:
        return SF_FORMAT_PCM_24;
    case SampleFormat::Float:
        break;
    }
    return SF_FORMAT_FLOAT;
}

// More channels than any audio interface has; each channel runs its own module instance.
constexpr int kMaxChannels = 256;

uint32_t littleEndian32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint32_t bigEndian32(const unsigned char* p) {
    return static_cast<uint32_t>(p[3]) | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[0]) << 24;
}

// True when the bytes of `file` from `at` to `length` are whole RIFF chunks with names of printable
// characters (or nothing).
bool onlyChunksFrom(std::FILE* file, long long at, long long length) {
    for (int chunks = 0; at < length; ++chunks) {
        unsigned char chunk[8];
        if (chunks == 10000 || at + 8 > length || std::fseek(file, static_cast<long>(at), SEEK_SET) != 0 ||
            std::fread(chunk, 1, 8, file) != 8)
            return false;
        for (int i = 0; i < 4; ++i) {
            if (chunk[i] < 0x20 || chunk[i] > 0x7E)
                return false;
        }
        const uint32_t size = littleEndian32(chunk + 4);
        at += 8 + static_cast<long long>(size) + (size & 1u);
        if (at > length + 1)
            return false;
    }
    return true;
}

// libsndfile shortens a WAV or AIFF file whose sample chunk claims more bytes than the file holds and
// reads it without a word; FLAC reports the same damage as a read error. Walks the chunks of a RIFF or
// FORM file to the sample chunk and says what is missing, or returns null when nothing is.
const char* truncationOf(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return nullptr;
    unsigned char header[12];
    const char* damage = nullptr;
    if (std::fread(header, 1, 12, file) == 12) {
        const bool riff = std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "WAVE", 4) == 0;
        const bool form = std::memcmp(header, "FORM", 4) == 0 && (std::memcmp(header + 8, "AIFF", 4) == 0 ||
                                                                  std::memcmp(header + 8, "AIFC", 4) == 0);
        const char* samplesChunk = riff ? "data" : "SSND";
        std::fseek(file, 0, SEEK_END);
        const long long length = std::ftell(file);
        long long at = 12;
        for (int chunks = 0; (riff || form) && chunks < 10000 && at + 8 <= length; ++chunks) {
            unsigned char chunk[8];
            if (std::fseek(file, static_cast<long>(at), SEEK_SET) != 0 || std::fread(chunk, 1, 8, file) != 8)
                break;
            const uint32_t size = riff ? littleEndian32(chunk + 4) : bigEndian32(chunk + 4);
            if (std::memcmp(chunk, samplesChunk, 4) == 0) {
                // 0xFFFFFFFF is written by programs that stream and cannot go back to the header; it is
                // read to the end of the file.
                if (size != 0 && size != 0xFFFFFFFFu && at + 8 + static_cast<long long>(size) > length)
                    damage = "its sample data is shorter than its header declares";
                // A declared 0 would be read as no audio at all: when what follows is not a chain of
                // chunks, it is audio whose header was never finished.
                if (riff && size == 0 && !onlyChunksFrom(file, at + 8, length))
                    damage = "its data chunk declares no audio but is followed by data that is not a chunk "
                             "(a header its writer never finished?)";
                break;
            }
            at += 8 + static_cast<long long>(size) + (size & 1u);
        }
    }
    std::fclose(file);
    return damage;
}

// libsndfile writes the format chunk of a float WAV without the two bytes (cbSize) that every format
// other than integer PCM has, and some readers warn about it. Its header is "fmt " (16 bytes), "fact",
// a "PEAK" chunk, then "data": the format chunk grows by two bytes, taken from the PEAK chunk, which
// becomes a padding chunk, so the data stays where it is. True when done or when the header is laid
// out otherwise (it is then left as written); false when the file cannot be read back or rewritten.
bool completeFloatFormatChunk(std::FILE* file) {
    unsigned char header[4096];
    if (std::fflush(file) != 0 || std::fseek(file, 0, SEEK_SET) != 0)
        return false;
    const std::size_t size = std::fread(header, 1, sizeof(header), file);
    const std::size_t fmt = 12;
    const std::size_t fact = fmt + 8 + 16;
    const std::size_t peak = fact + 12;
    if (size < peak + 8 || std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + fmt, "fmt ", 4) != 0 ||
        littleEndian32(header + fmt + 4) != 16 || std::memcmp(header + fact, "fact", 4) != 0 ||
        littleEndian32(header + fact + 4) != 4 || std::memcmp(header + peak, "PEAK", 4) != 0)
        return true;
    const uint32_t peakSize = littleEndian32(header + peak + 4);
    if (peakSize < 4 || peakSize % 2 != 0 || peak + 8 + peakSize + 8 > size ||
        std::memcmp(header + peak + 8 + peakSize, "data", 4) != 0)
        return true;
    unsigned char rewritten[4096];
    std::size_t at = 0;
    auto put = [&rewritten, &at](const void* bytes, std::size_t count) {
        std::memcpy(rewritten + at, bytes, count);
        at += count;
    };
    auto put32 = [&put](uint32_t value) {
        const unsigned char bytes[4] = {
            static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
            static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
        put(bytes, 4);
    };
    const unsigned char noExtension[2] = {0, 0};
    put(header, fmt);
    put("fmt ", 4);
    put32(18);
    put(header + fmt + 8, 16);
    put(noExtension, 2);
    put(header + fact, 12);
    put("JUNK", 4);
    put32(peakSize - 2);
    std::memset(rewritten + at, 0, peakSize - 2);
    at += peakSize - 2;
    if (at != peak + 8 + peakSize)
        return false;
    return std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(rewritten, 1, at, file) == at &&
           std::fflush(file) == 0;
}

// Opens a named audio file after the checks that give a missing, unreadable or truncated file its own
// message.
SNDFILE* openAudioFile(const std::string& path, SF_INFO& info) {
    std::error_code error;
    const fs::path name = fs::u8path(path);
    if (!fs::exists(name, error)) {
        std::string message = "input file '" + path + "' does not exist";
        if (looksLikeModuleText(path))
            message += " (this looks like a module text: give texts with --text, files with --in)";
        throw failure(message);
    }
    if (fs::is_directory(name, error))
        throw failure("input '" + path + "' is a folder, not an audio file");
    // Only a regular file can be opened twice and inspected: a FIFO or pipe would lose its first bytes.
    if (fs::is_regular_file(name, error)) {
        std::FILE* probe = std::fopen(path.c_str(), "rb");
        if (probe == nullptr)
            throw failure("cannot read input '" + path + "' (" + std::generic_category().message(errno) +
                          ")");
        std::fclose(probe);
    }
    const char* damage = fs::is_regular_file(name, error) ? truncationOf(path) : nullptr;
    if (damage != nullptr)
        throw failure("input '" + path + "' is truncated or damaged: " + damage);
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        throw failure("input '" + path + "' is not a supported audio file (WAV, FLAC or AIFF) or is damaged");
    return file;
}

} // namespace

SampleFormat sampleFormatNamed(const std::string& given) {
    std::string name = given;
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    if (name == "float")
        return SampleFormat::Float;
    if (name == "pcm16")
        return SampleFormat::Pcm16;
    if (name == "pcm24")
        return SampleFormat::Pcm24;
    throw usageError("unknown sample format '" + given + "' (float, pcm16 or pcm24)");
}

AudioContainer audioContainerNamed(const std::string& given) {
    std::string name = given;
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    if (name == "wav")
        return AudioContainer::Wav;
    if (name == "aiff" || name == "aif")
        return AudioContainer::Aiff;
    if (name == "flac")
        return AudioContainer::Flac;
    throw usageError("unknown audio file type '" + given + "' (wav, aiff or flac)");
}

std::string inputName(const std::string& path) {
    return path == kStandardStream ? std::string("standard input") : "'" + path + "'";
}

std::string outputName(const std::string& path) {
    return path == kStandardStream ? std::string("standard output") : "'" + path + "'";
}

bool flacAvailable() {
    // The list of major formats names only the codecs the library was built with.
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof(count));
    for (int k = 0; k < count; ++k) {
        SF_FORMAT_INFO info{};
        info.format = k;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof(info)) == 0 &&
            info.format == SF_FORMAT_FLAC)
            return true;
    }
    return false;
}

void checkOutputPath(const std::string& path, SampleFormat format, AudioContainer type) {
    const int container = containerFor(path, type);
    if (container == 0 && path == kStandardStream)
        throw usageError("cannot tell the audio format for standard output: add --type wav, aiff or flac");
    if (container == 0)
        throw usageError("cannot tell the audio format of '" + path +
                         "': use .wav, .flac, .aif or .aiff, or add --type wav, aiff or flac");
    if (container == SF_FORMAT_FLAC && format == SampleFormat::Float)
        throw usageError("FLAC holds no float samples: add --format pcm16 or --format pcm24 for " +
                         outputName(path));
    if (container == SF_FORMAT_FLAC && !flacAvailable())
        throw usageError("this build reads and writes no FLAC (its libsndfile has no FLAC codec): write " +
                         outputName(path) + " as WAV or AIFF");
}

AudioReader::AudioReader(const std::string& filePath) : path(filePath) {
    SF_INFO info{};
    if (path == kStandardStream) {
        // Read as it comes: a pipe is never looked into twice.
        file = sf_open_fd(fileno(stdin), SFM_READ, &info, SF_FALSE);
        if (file == nullptr)
            throw failure("standard input is not a supported audio file (WAV, FLAC or AIFF) or is damaged");
    } else {
        file = openAudioFile(path, info);
    }
    const int container = info.format & SF_FORMAT_TYPEMASK;
    if (container != SF_FORMAT_WAV && container != SF_FORMAT_WAVEX && container != SF_FORMAT_FLAC &&
        container != SF_FORMAT_AIFF)
        throw failure("input " + inputName(path) + " is not a WAV, FLAC or AIFF file");
    if (info.channels < 1 || info.samplerate < 1)
        throw failure("input " + inputName(path) + " has no channels or no sample rate");
    if (info.channels > kMaxChannels)
        throw failure("input " + inputName(path) + " has " + std::to_string(info.channels) +
                      " channels; at most " + std::to_string(kMaxChannels) + " are rendered");
    channelCount = info.channels;
    rate = info.samplerate;
    frameCount = info.frames;
    subtype = info.format & SF_FORMAT_SUBMASK;
}

AudioReader::~AudioReader() {
    if (file != nullptr)
        sf_close(static_cast<SNDFILE*>(file));
}

int64_t AudioReader::read(float* samples, int64_t count) {
    const int64_t wanted = std::min(count, frameCount - framesRead);
    if (wanted <= 0)
        return 0;
    const sf_count_t got = sf_readf_float(static_cast<SNDFILE*>(file), samples, wanted);
    if (got < wanted)
        throw failure("input " + inputName(path) + " is truncated or damaged: it ends after " +
                      std::to_string(framesRead + std::max<sf_count_t>(got, 0)) + " of the " +
                      std::to_string(frameCount) + " frames it declares");
    framesRead += got;
    return got;
}

std::string outputPathIn(const std::string& folder, const std::string& input) {
    return (fs::u8path(folder) / fs::u8path(input).filename()).u8string();
}

SampleFormat defaultOutputFormat(const AudioReader* input, const std::string& outputPath, AudioContainer type,
                                 std::string* reason) {
    const bool flac = containerFor(outputPath, type) == SF_FORMAT_FLAC;
    const int subtype = input != nullptr ? input->encoding() : 0;
    switch (subtype) {
    case SF_FORMAT_PCM_16:
        *reason = "16-bit PCM, as the input";
        return SampleFormat::Pcm16;
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        *reason = "16-bit PCM, the smallest format written, for an 8-bit input";
        return SampleFormat::Pcm16;
    case SF_FORMAT_PCM_24:
        *reason = "24-bit PCM, as the input";
        return SampleFormat::Pcm24;
    default:
        break;
    }
    if (flac) {
        *reason = "24-bit PCM, the most FLAC holds";
        return SampleFormat::Pcm24;
    }
    if (input == nullptr)
        *reason = "float for the built-in signal";
    else if (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE)
        *reason = "float, as the input";
    else
        *reason = "float, which holds the input's samples exactly";
    return SampleFormat::Float;
}

namespace {

// A failed write of audio data, with the system's reason when there is one: a full disk, or a file
// larger than the process may write (ulimit -f; SIGXFSZ is ignored so that such a write fails here).
CliError writeFailure(const std::string& target, int error) {
    return failure("cannot write '" + target + "': writing the audio data failed (" +
                   (error != 0 ? std::generic_category().message(error) : std::string("is the disk full?")) +
                   ")");
}

} // namespace

AudioWriter::AudioWriter(const StagedOutput& output, int channels, int sampleRate, SampleFormat format,
                         AudioContainer type, int64_t expectedFrames)
    : target(output.targetPath()) {
    checkOutputPath(target, format, type);
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sampleRate;
    const int container = containerFor(target, type);
    bytesPerFrame = static_cast<int64_t>(channels) * (format == SampleFormat::Pcm16   ? 2
                                                      : format == SampleFormat::Pcm24 ? 3
                                                                                      : 4);
    // WAV and AIFF state their sizes in 32 bits. A WAV known to need more becomes RF64, the same
    // format with 64-bit sizes; otherwise the data is bounded below the limit (checked in write()).
    const bool rf64 =
        container == SF_FORMAT_WAV && expectedFrames > 0 && expectedFrames > kMaxDataBytes / bytesPerFrame;
    if (container == SF_FORMAT_WAV || container == SF_FORMAT_AIFF)
        maxFrames = rf64 ? -1 : kMaxDataBytes / bytesPerFrame;
    if (maxFrames >= 0 && expectedFrames > maxFrames)
        throw failure("cannot write '" + target +
                      "': the audio is longer than an AIFF file's 32-bit sizes can "
                      "state (4 GiB of samples); write .wav (RF64) or .flac");
    info.format = (rf64 ? SF_FORMAT_RF64 : container) | subtypeFor(format);
    floatWav = info.format == (SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    flacFile = container == SF_FORMAT_FLAC;
    if (!sf_format_check(&info))
        throw failure("cannot write '" + target + "': this format holds no " + std::to_string(channels) +
                      " channel(s) at " + std::to_string(sampleRate) + " Hz");
    // Opened here rather than by libsndfile so that an interruption can remove it while it is open.
    stream = openStagingFile(output.stagingPath(), floatWav);
    if (stream == nullptr)
        throw failure("cannot write " + outputName(target) + " (" + std::generic_category().message(errno) +
                      ")");
    file = sf_open_fd(fileno(stream), SFM_WRITE, &info, SF_FALSE);
    if (file == nullptr) {
        std::fclose(stream);
        throw failure("cannot write '" + target + "': the audio file cannot be created");
    }
    // Integer formats: values beyond full scale clip instead of wrapping around.
    sf_command(static_cast<SNDFILE*>(file), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    bits = format == SampleFormat::Pcm16 ? 16 : format == SampleFormat::Pcm24 ? 24 : 0;
    clippedCounts.assign(static_cast<std::size_t>(std::max(channels, 1)), 0);
}

AudioWriter::~AudioWriter() {
    if (file != nullptr)
        sf_close(static_cast<SNDFILE*>(file));
    if (stream != nullptr)
        std::fclose(stream);
}

void AudioWriter::checkLength(int64_t frames) const {
    if (maxFrames >= 0 && frames > maxFrames)
        throw failure("cannot write '" + target +
                      "': the audio is longer than this format's 32-bit sizes "
                      "can state (4 GiB of samples); write .flac, or a .wav from a regular input file, "
                      "which then becomes RF64");
}

void AudioWriter::write(const float* samples, int64_t frames) {
    checkLength(framesWritten + frames);
    framesWritten += frames;
    if (bits == 0) {
        errno = 0;
        if (sf_writef_float(static_cast<SNDFILE*>(file), samples, frames) != frames)
            throw writeFailure(target, errno);
        return;
    }
    // Rounded here: libsndfile's clipping conversion rounds toward minus infinity, half a step low on
    // average. Integers go to libsndfile as 32-bit values, which it cuts to the file's width exactly.
    // NaN becomes 0 and infinities full scale, both counted as clipped.
    const double scale = std::ldexp(1.0, bits - 1);
    const int64_t unit = int64_t{1} << (32 - bits);
    const std::size_t channels = clippedCounts.size();
    const std::size_t count = static_cast<std::size_t>(frames) * channels;
    integers.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double x = samples[i];
        double step = std::isnan(x) ? 0.0 : std::nearbyint(x * scale);
        if (!(step >= -scale && step <= scale - 1.0) || std::isnan(x)) {
            ++clippedCounts[i % channels];
            step = std::isnan(x) ? 0.0 : step < 0.0 ? -scale : scale - 1.0;
        }
        integers[i] = static_cast<int>(static_cast<int64_t>(step) * unit);
    }
    errno = 0;
    if (sf_writef_int(static_cast<SNDFILE*>(file), integers.data(), frames) != frames)
        throw writeFailure(target, errno);
}

void AudioWriter::close() {
    // The FLAC encoder writes its header with the first frame: without one the file stays empty, a
    // file no reader opens.
    if (framesWritten == 0 && flacFile)
        throw failure("cannot write '" + target +
                      "': there is no audio to write, and a FLAC file needs at least one frame (write .wav "
                      "or .aiff)");
    SNDFILE* sound = static_cast<SNDFILE*>(file);
    std::FILE* descriptor = stream;
    file = nullptr;
    stream = nullptr;
    const bool finished = sf_close(sound) == 0 && (!floatWav || completeFloatFormatChunk(descriptor));
    if (std::fclose(descriptor) != 0 || !finished)
        throw failure("cannot write '" + target + "': finishing the audio file failed");
}

AudioBuffer readAudioFile(const std::string& path) {
    AudioReader reader(path);
    AudioBuffer audio;
    audio.channels = reader.channels();
    audio.sampleRate = reader.sampleRate();
    audio.samples.resize(static_cast<std::size_t>(reader.frames()) *
                         static_cast<std::size_t>(audio.channels));
    const int64_t got = reader.read(audio.samples.data(), reader.frames());
    audio.samples.resize(static_cast<std::size_t>(got) * static_cast<std::size_t>(audio.channels));
    return audio;
}

std::vector<int64_t> writeAudioFile(const StagedOutput& output, const AudioBuffer& audio,
                                    SampleFormat format) {
    AudioWriter writer(output, audio.channels, audio.sampleRate, format);
    writer.write(audio.samples.data(), audio.frames());
    writer.close();
    return writer.clipped();
}

void writeAudioFile(const std::string& path, const AudioBuffer& audio, SampleFormat format) {
    checkOutputPath(path, format);
    StagedOutput output(path);
    writeAudioFile(output, audio, format);
    output.commit();
}

} // namespace shaperhost
