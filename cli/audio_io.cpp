#include "cli/audio_io.h"

#include <sndfile.h>

#include <filesystem>
#include <memory>

#include "cli/cli_error.h"
#include "cli/output_file.h"
#include "cli/text_args.h"

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

// The libsndfile major format for an extension, or 0.
int containerFor(const std::string& path) {
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

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

} // namespace

SampleFormat sampleFormatNamed(const std::string& name) {
    if (name == "float")
        return SampleFormat::Float;
    if (name == "pcm16")
        return SampleFormat::Pcm16;
    if (name == "pcm24")
        return SampleFormat::Pcm24;
    throw usageError("unknown sample format '" + name + "' (float, pcm16 or pcm24)");
}

void checkOutputPath(const std::string& path, SampleFormat format) {
    const int container = containerFor(path);
    if (container == 0)
        throw usageError("cannot tell the audio format of '" + path + "': use .wav, .flac, .aif or .aiff");
    if (container == SF_FORMAT_FLAC && format == SampleFormat::Float)
        throw usageError("FLAC holds no float samples: add --format pcm16 or --format pcm24 for '" + path +
                         "'");
}

AudioBuffer readAudioFile(const std::string& path) {
    std::error_code error;
    const fs::path file = fs::u8path(path);
    if (!fs::exists(file, error)) {
        std::string message = "input file '" + path + "' does not exist";
        if (looksLikeModuleText(path))
            message += " (this looks like a module text: give texts with --text, files with --in)";
        throw failure(message);
    }
    if (fs::is_directory(file, error))
        throw failure("input '" + path + "' is a folder, not an audio file");
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndFileCloser> sound(sf_open(path.c_str(), SFM_READ, &info));
    if (!sound) {
        const int code = sf_error(nullptr);
        const std::string reason = sf_error_number(code);
        if (code == SF_ERR_UNRECOGNISED_FORMAT || code == SF_ERR_MALFORMED_FILE ||
            code == SF_ERR_UNSUPPORTED_ENCODING)
            throw failure("input '" + path +
                          "' is not a supported audio file (WAV, FLAC or AIFF): " + reason);
        throw failure("cannot read input '" + path + "': " + reason);
    }
    const int container = info.format & SF_FORMAT_TYPEMASK;
    if (container != SF_FORMAT_WAV && container != SF_FORMAT_WAVEX && container != SF_FORMAT_FLAC &&
        container != SF_FORMAT_AIFF)
        throw failure("input '" + path + "' is not a WAV, FLAC or AIFF file");
    if (info.channels < 1 || info.samplerate < 1)
        throw failure("input '" + path + "' has no channels or no sample rate");
    AudioBuffer audio;
    audio.channels = info.channels;
    audio.sampleRate = info.samplerate;
    audio.samples.resize(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    const sf_count_t got = sf_readf_float(sound.get(), audio.samples.data(), info.frames);
    if (got != info.frames)
        throw failure("cannot read input '" + path + "': the file ends early or is damaged (" +
                      sf_strerror(sound.get()) + ")");
    return audio;
}

void writeAudioFile(const std::string& path, const AudioBuffer& audio, SampleFormat format) {
    checkOutputPath(path, format);
    requireOutputFolder(path);
    PendingOutput output(path);
    {
        SF_INFO info{};
        info.channels = audio.channels;
        info.samplerate = audio.sampleRate;
        info.format = containerFor(path) | subtypeFor(format);
        if (!sf_format_check(&info))
            throw failure("libsndfile cannot write this format to '" + path + "'");
        std::unique_ptr<SNDFILE, SndFileCloser> sound(
            sf_open(output.temporaryPath().c_str(), SFM_WRITE, &info));
        if (!sound)
            throw failure("cannot write '" + path + "': " + sf_strerror(nullptr));
        // Integer formats: values beyond full scale clip instead of wrapping around.
        sf_command(sound.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
        const sf_count_t wrote = sf_writef_float(sound.get(), audio.samples.data(), audio.frames());
        if (wrote != audio.frames())
            throw failure("cannot write '" + path + "': " + sf_strerror(sound.get()));
        if (sf_close(sound.release()) != 0)
            throw failure("cannot write '" + path + "': closing the file failed");
    }
    output.commit();
}

} // namespace shaperhost
