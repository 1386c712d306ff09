#include "cli/render/render_job.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <system_error>

#include "cli/common/cli_error.h"
#include "cli/output/progress.h"
#include "cli/render/automation.h"
#include "cli/render/module_stream.h"
#include "cli/render/output_sink.h"
#include "cli/render/oversampling.h"
#include "cli/render/test_signals.h"

namespace shaperhost {

std::string sampleFormatName(SampleFormat format) {
    switch (format) {
    case SampleFormat::Pcm16:
        return "pcm16";
    case SampleFormat::Pcm24:
        return "pcm24";
    case SampleFormat::Float:
        break;
    }
    return "float";
}

void checkRenderJob(const RenderJob& job) {
    if (job.blockSize < 1 || job.blockSize > 65536)
        throw badOptionValue("--block-size", std::to_string(job.blockSize), "a whole number from 1 to 65536");
    if (!std::isfinite(job.gain))
        throw badOptionValue("--gain", formatDouble(job.gain), "a finite number");
    if (!isOversampleFactor(job.oversample))
        throw badOptionValue("--oversample", std::to_string(job.oversample), "1, 2, 4, 8 or 16");
    if (!(job.stage.mix >= 0.0 && job.stage.mix <= 1.0))
        throw badOptionValue("--mix", formatDouble(job.stage.mix), "a number from 0 to 1");
    // A format chosen from the input is never float for FLAC.
    checkOutputPath(job.output, job.formatFromInput ? SampleFormat::Pcm24 : job.format, job.type);
}

RenderSummary runRenderJob(Session& session, const RenderJob& job, const StagedOutput& output,
                           std::ostream& log, AudioReader* opened) {
    const ModuleDescription& module = session.catalog().processingModule(job.module);
    checkRenderJob(job);
    refuseInputAsOutput(job.input, job.output);

    // The source: the input file, read in pieces, or the built-in signal, made in pieces.
    std::unique_ptr<AudioReader> ownReader;
    AudioReader* reader = opened;
    RisingSine sine{job.sampleRate, 0, job.signalFrequency, kTestSignalEndAmplitude};
    sine.frames = static_cast<int64_t>(std::llround(kTestSignalSeconds * job.sampleRate));
    RenderSummary summary;
    summary.moduleId = module.id;
    if (!job.input.empty()) {
        if (reader == nullptr) {
            ownReader = std::make_unique<AudioReader>(job.input);
            reader = ownReader.get();
        }
        summary.channels = reader->channels();
        summary.sampleRate = reader->sampleRate();
        summary.frames = reader->frames();
    } else {
        summary.channels = 1;
        summary.sampleRate = job.sampleRate;
        summary.frames = sine.frames;
    }

    const std::vector<AutomationPoint> automation =
        job.automation.empty() ? std::vector<AutomationPoint>() : readAutomationFile(job.automation);
    const auto started = std::chrono::steady_clock::now();
    summary.inputBeyondTable.assign(static_cast<std::size_t>(summary.channels), 0);

    RenderSettings settings;
    settings.moduleId = module.id;
    settings.text = pinText(job.text);
    settings.blockSize = job.blockSize;
    settings.oversample = job.oversample;
    settings.quality = job.quality;
    for (const AutomationPoint& point : automation) {
        const int64_t sample = automationSample(point, summary.sampleRate, summary.frames);
        if (sample >= summary.frames) {
            log << kProgramPrefix << "note: the automation's text change at " << automationTime(point)
                << " lies after the end of the audio\n";
            continue;
        }
        settings.changes.push_back({sample, pinText(point.text)});
    }
    for (const TimedText& timed : job.timed) {
        // Compared before any conversion: a time far past the end must not wrap the sample number.
        const double at = timed.seconds * summary.sampleRate;
        const int64_t sample = at < static_cast<double>(summary.frames) ? std::llround(at) : summary.frames;
        if (sample >= summary.frames) {
            log << kProgramPrefix << "note: the text change at " << formatDouble(timed.seconds)
                << " s lies after the end of the audio\n";
            continue;
        }
        settings.changes.push_back({sample, pinText(timed.text)});
    }
    for (const TextChange& change : job.extra)
        settings.changes.push_back(change);

    summary.format = job.format;
    if (job.formatFromInput)
        summary.format = defaultOutputFormat(reader, job.output, job.type, &summary.formatReason);
    // A length from a pipe's header cannot be trusted to be reached; only a regular file's is used.
    std::error_code notRegular;
    const bool lengthKnown =
        job.input.empty() || std::filesystem::is_regular_file(std::filesystem::u8path(job.input), notRegular);
    AudioWriter writer(output, summary.channels, summary.sampleRate, summary.format, job.type,
                       lengthKnown ? summary.frames : -1);
    OutputSink sink(job.stage, job.dither, summary.format, summary.channels, summary.sampleRate, writer,
                    output.targetPath());
    summary.dithered = sink.dithers();
    summary.normalizedPeak = sink.normalizedPeak();
    // The module stream may hold output back (the resamplers do), so the input waits in `dry` for the
    // output frames it is mixed with.
    const std::unique_ptr<ModuleStream> stream =
        openModuleStream(session.library(), settings, summary.channels, summary.sampleRate);
    std::vector<float> dry;
    auto takeReady = [&](std::vector<float>& ready) {
        const int64_t frames = static_cast<int64_t>(ready.size()) / summary.channels;
        sink.take(dry.data(), ready.data(), frames);
        dry.erase(dry.begin(), dry.begin() + static_cast<std::ptrdiff_t>(ready.size()));
        ready.clear();
    };
    // Pieces of whole blocks of about 8192 frames.
    const int64_t piece = ((8191 + static_cast<int64_t>(job.blockSize)) / job.blockSize) * job.blockSize;
    std::vector<float> in(static_cast<std::size_t>(piece * summary.channels));
    std::vector<float> out;
    LevelMeter inputMeter;
    LevelMeter moduleInputMeter;
    ProgressLine progress("rendering", job.progress);
    int64_t position = 0;
    do {
        int64_t count = std::min(piece, summary.frames - position);
        if (reader != nullptr)
            count = reader->read(in.data(), count);
        else
            sine.fill(in.data(), position, count);
        const std::size_t samples = static_cast<std::size_t>(count * summary.channels);
        inputMeter.add(in.data(), samples);
        if (job.gain != 1.0f) {
            for (std::size_t i = 0; i < samples; ++i)
                in[i] *= job.gain;
        }
        countBeyondTable(in.data(), samples, summary.inputBeyondTable);
        moduleInputMeter.add(in.data(), samples);
        dry.insert(dry.end(), in.begin(), in.begin() + static_cast<std::ptrdiff_t>(samples));
        stream->push(in.data(), count, out);
        takeReady(out);
        position += count;
        progress.update(position, summary.frames);
        if (count == 0)
            break;
    } while (position < summary.frames);
    stream->finish(out);
    takeReady(out);
    sink.finish();
    summary.frames = position;
    summary.report = stream->report();
    summary.inputLevels = inputMeter.levels();
    summary.moduleInputLevels = moduleInputMeter.levels();
    summary.outputLevels = sink.levels();
    summary.clipped = writer.clipped();
    summary.renderSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return summary;
}

RenderSummary runRenderJob(Session& session, const RenderJob& job, std::ostream& log) {
    checkRenderJob(job);
    refuseInputAsOutput(job.input, job.output);
    StagedOutput output(job.output);
    const RenderSummary summary = runRenderJob(session, job, output, log);
    output.commit();
    return summary;
}

} // namespace shaperhost
