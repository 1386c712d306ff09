// Audio files through libsndfile: WAV, FLAC and AIFF, read as float samples, written through a
// temporary file so that a failed write leaves the target untouched.
#pragma once

#include <string>

#include "cli/render_engine.h"

namespace shaperhost {

enum class SampleFormat { Float, Pcm16, Pcm24 };

// The sample format named on the command line ("float", "pcm16", "pcm24"); a usage error otherwise.
SampleFormat sampleFormatNamed(const std::string& name);

// The container for the output path's extension; a usage error for any other extension. FLAC holds
// no float samples, so it needs a PCM format.
void checkOutputPath(const std::string& path, SampleFormat format);

// Reads the whole file; missing, unreadable or unsupported files are failures that say which.
AudioBuffer readAudioFile(const std::string& path);

void writeAudioFile(const std::string& path, const AudioBuffer& audio, SampleFormat format);

} // namespace shaperhost
