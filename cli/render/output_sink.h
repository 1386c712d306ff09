// The end of the render path: the output stage, level metering, dither and the output file.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/audio/audio_io.h"
#include "cli/common/cli_error.h"
#include "cli/output/output_file.h"
#include "cli/render/levels.h"
#include "cli/render/output_stage.h"

namespace shaperhost {

// The output side of a render: the mix with the dry input, DC removal, the output gain or
// normalisation, level metering, dither and the file. Normalisation needs the peak of the whole output
// before the first sample can be written, so then the processed output goes to a scratch file as
// floats, and finish() scales it into the file piece by piece.
class OutputSink {
public:
    // `dither`: 16-bit output gets TPDF dither.
    OutputSink(const OutputStage& outputStage, bool dither, SampleFormat format, int channels, int sampleRate,
               AudioWriter& writer, const std::string& target)
        : stage(outputStage), channels(channels), processor(outputStage, channels, sampleRate),
          writer(writer), target(target), dither(16), dithered(format == SampleFormat::Pcm16 && dither) {
        if (!stage.normalize)
            return;
        // An integer file holds one step less than full scale, and dither adds up to one step more: a
        // target beyond what the file holds is lowered to the largest peak it holds without clipping.
        const int bits = format == SampleFormat::Pcm16 ? 16 : format == SampleFormat::Pcm24 ? 24 : 0;
        if (bits > 0) {
            const double step = std::ldexp(1.0, 1 - bits);
            stage.normalizePeak = std::min(stage.normalizePeak, 1.0 - step * (dithered ? 2.0 : 1.0));
        }
        scratch = std::make_unique<ScratchFile>(target);
        scratchFile = scratch->file();
    }
    OutputSink(const OutputSink&) = delete;
    OutputSink& operator=(const OutputSink&) = delete;

    // `frames` frames of the module's output with the input frames they came from; `wet` is changed.
    void take(const float* dry, float* wet, int64_t frames) {
        processor.process(dry, wet, frames);
        const std::size_t count = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels);
        if (!stage.normalize) {
            emit(wet, count);
            return;
        }
        // Refused when the output could not hold it, before the scratch file grows beyond the output.
        heldFrames += frames;
        writer.checkLength(heldFrames);
        for (std::size_t i = 0; i < count; ++i) {
            if (std::isfinite(wet[i]))
                peak = std::max(peak, static_cast<double>(std::fabs(wet[i])));
        }
        if (std::fwrite(wet, sizeof(float), count, scratchFile) != count)
            throw failure("cannot write '" + target +
                          "': no room for the output before normalising (is the disk full?)");
    }

    // Writes what waits for normalisation and closes the file.
    void finish() {
        if (stage.normalize) {
            const double gain = peak > 0.0 ? stage.normalizePeak / peak : 1.0;
            if (std::fflush(scratchFile) != 0 || std::fseek(scratchFile, 0, SEEK_SET) != 0)
                throw failure("cannot write '" + target + "': the output before normalising is lost");
            std::vector<float> piece(8192 * static_cast<std::size_t>(channels));
            std::size_t count = 0;
            while ((count = std::fread(piece.data(), sizeof(float), piece.size(), scratchFile)) > 0) {
                for (std::size_t i = 0; i < count; ++i)
                    piece[i] = static_cast<float>(piece[i] * gain);
                emit(piece.data(), count);
            }
            if (std::ferror(scratchFile))
                throw failure("cannot write '" + target + "': the output before normalising is lost");
        }
        writer.close();
    }

    Levels levels() const { return meter.levels(); }
    // The peak normalisation aims at, 0 without normalisation.
    double normalizedPeak() const { return stage.normalize ? stage.normalizePeak : 0.0; }
    // Whether the output is dithered.
    bool dithers() const { return dithered; }

private:
    void emit(float* samples, std::size_t count) {
        meter.add(samples, count);
        if (dithered)
            dither.apply(samples, count);
        writer.write(samples, static_cast<int64_t>(count / static_cast<std::size_t>(channels)));
    }

    OutputStage stage;
    int channels;
    OutputProcessor processor;
    AudioWriter& writer;
    std::string target;
    LevelMeter meter;
    TpdfDither dither;
    bool dithered;
    std::unique_ptr<ScratchFile> scratch;
    std::FILE* scratchFile = nullptr;
    int64_t heldFrames = 0; // in the scratch file
    double peak = 0.0;
};

} // namespace shaperhost
