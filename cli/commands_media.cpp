// render and analyze: audio through a waveshaper module, to a file or to a harmonic analysis.
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>

#include "cli/cli_error.h"
#include "cli/file_system.h"
#include "cli/json_reports.h"
#include "cli/media_jobs.h"
#include "cli/output_file.h"
#include "cli/oversampler.h"
#include "cli/progress.h"
#include "cli/text_notes.h"

namespace shaperhost {

namespace {

// The output side of a render: the mix with the dry input, DC removal, the output gain or
// normalisation, level metering, dither and the file. Normalisation needs the peak of the whole output
// before the first sample can be written, so then the processed output goes to a scratch file as
// floats, and finish() scales it into the file piece by piece.
class OutputSink {
public:
    OutputSink(const RenderJob& job, SampleFormat format, int channels, int sampleRate, AudioWriter& writer,
               const std::string& target)
        : stage(job.stage), channels(channels), processor(job.stage, channels, sampleRate), writer(writer),
          target(target), dither(16), dithered(format == SampleFormat::Pcm16 && job.dither) {
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
    // 16-bit output gets TPDF dither unless the job says not to.
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

std::string decibels(double value) {
    if (value <= 0.0)
        return "-inf";
    return formatFixed(20.0 * std::log10(value), 2);
}

// Outputs of a batch committed together (each holds a slot for removal on interruption while staged).
constexpr std::size_t kBatchGroup = 200;

// Samples rendered past the analysed stretch.
constexpr int kAnalysisMargin = 4096;

// "1386 (channel 1), 0 (channel 2)"
std::string perChannel(const std::vector<int64_t>& counts) {
    std::string text;
    for (std::size_t c = 0; c < counts.size(); ++c)
        text += (c > 0 ? ", " : "") + std::to_string(counts[c]) + " (channel " + std::to_string(c + 1) + ")";
    return text;
}

int64_t total(const std::vector<int64_t>& counts) {
    int64_t sum = 0;
    for (int64_t n : counts)
        sum += n;
    return sum;
}

} // namespace

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

void printLevels(std::ostream& out, const char* label, const Levels& levels) {
    out << "  " << label << "  peak " << formatFixed(levels.peak, 6) << " ("
        << formatFixed(levels.peak * 10.0, 3) << " V, " << decibels(levels.peak) << " dBFS)  RMS "
        << formatFixed(levels.rms, 6) << " (" << formatFixed(levels.rms * 10.0, 3) << " V, "
        << decibels(levels.rms) << " dBFS)\n";
}

std::string decibelsText(double factor) {
    return factor > 0.0 ? formatFixed(20.0 * std::log10(factor), 2) + " dB" : "-inf dB";
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
    OutputSink sink(job, summary.format, summary.channels, summary.sampleRate, writer, output.targetPath());
    summary.dithered = sink.dithers();
    summary.normalizedPeak = sink.normalizedPeak();
    // The module at the audio's rate gives each piece's output at once; oversampled, the resamplers
    // hold some back, so the input waits in `dry` for the output frames it is mixed with.
    std::unique_ptr<StreamRenderer> plain;
    std::unique_ptr<OversampledStream> oversampled;
    if (job.oversample > 1)
        oversampled = std::make_unique<OversampledStream>(session.library(), settings, summary.channels,
                                                          summary.sampleRate);
    else
        plain = std::make_unique<StreamRenderer>(session.library(), settings, summary.channels);
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
    std::vector<float> out(in.size());
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
        if (plain) {
            plain->process(in.data(), out.data(), count);
            sink.take(in.data(), out.data(), count);
        } else {
            dry.insert(dry.end(), in.begin(), in.begin() + static_cast<std::ptrdiff_t>(samples));
            out.clear();
            oversampled->push(in.data(), count, out);
            takeReady(out);
        }
        position += count;
        progress.update(position, summary.frames);
        if (count == 0)
            break;
    } while (position < summary.frames);
    if (oversampled) {
        out.clear();
        oversampled->finish(out);
        takeReady(out);
    }
    sink.finish();
    summary.frames = position;
    summary.report = plain ? plain->report() : oversampled->report();
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

namespace {

struct RenderCommandOptions {
    RenderJob job;
    TextOptions text;
    std::vector<std::string> timed;
    std::vector<std::string> inputs;
    std::string outDir;
    std::string format; // empty: chosen from the input and the output's container
    std::string quality = "vhq";
    std::string gain = "1";
    std::string outputGain = "1";
    std::string normalize; // peak in dBFS
    bool normalizeGiven = false;
    std::string type; // the output's file type, empty: from its extension
    bool noDither = false;
    bool json = false;
};

Json renderJson(const RenderJob& job, const RenderSummary& s) {
    const double seconds = static_cast<double>(s.frames) / s.sampleRate;
    Json doc;
    doc["command"] = "render";
    doc["module"] = s.moduleId;
    doc["text"] = job.text;
    doc["input"] = job.input.empty() ? Json(nullptr) : Json(job.input);
    doc["output"] = job.output;
    doc["format"] = sampleFormatName(s.format);
    doc["format_reason"] = s.formatReason.empty() ? Json(nullptr) : Json(s.formatReason);
    doc["dithered"] = s.dithered;
    doc["channels"] = s.channels;
    doc["sample_rate"] = s.sampleRate;
    doc["frames"] = s.frames;
    doc["seconds"] = seconds;
    doc["block_size"] = job.blockSize;
    doc["oversample"] = job.oversample;
    doc["resampler_quality"] = job.quality == ResamplerQuality::High ? "hq" : "vhq";
    doc["input_levels"] = levelsJson(s.inputLevels.peak, s.inputLevels.rms);
    doc["non_finite_input_samples"] = s.inputLevels.nonFinite;
    doc["module_input_levels"] = levelsJson(s.moduleInputLevels.peak, s.moduleInputLevels.rms);
    doc["output_levels"] = levelsJson(s.outputLevels.peak, s.outputLevels.rms);
    doc["blocks"] = s.report.blocks;
    doc["text_events"] = s.report.textEvents;
    doc["sleep_requests"] = s.report.sleepRequests;
    doc["input_beyond_5v"] = s.inputBeyondTable;
    doc["clipped_samples"] = s.format == SampleFormat::Float ? Json(nullptr) : Json(s.clipped);
    doc["gain"] = job.gain;
    doc["output_gain"] = job.stage.normalize ? Json(nullptr) : Json(job.stage.gain);
    doc["normalize_dbfs"] = job.stage.normalize ? decibelsJson(s.normalizedPeak) : Json(nullptr);
    doc["mix"] = job.stage.mix;
    doc["dc_block"] = job.stage.dcBlock;
    Json timing;
    timing["render_seconds"] = s.renderSeconds;
    timing["seconds_per_audio_second"] = seconds > 0.0 ? Json(s.renderSeconds / seconds) : Json(nullptr);
    doc["timing"] = timing;
    return doc;
}

// The settings a render used, in the order the audio meets them.
std::string renderSettingsLine(const RenderJob& job, const RenderSummary& s) {
    std::string line =
        "  gain " + formatFloat(job.gain) + " (" + decibelsText(std::fabs(job.gain)) +
        (job.gain < 0.0f ? ", polarity inverted" : "") + "), " +
        (job.oversample == 1 ? std::string("no oversampling")
                             : "oversampled " + std::to_string(job.oversample) + "x (" +
                                   (job.quality == ResamplerQuality::High ? "HQ" : "VHQ") + ")") +
        ", mix " + formatDouble(job.stage.mix) +
        (job.stage.mix == 1.0   ? " (wet only)"
         : job.stage.mix == 0.0 ? " (dry only)"
                                : "") +
        ", DC block " + (job.stage.dcBlock ? "on" : "off") + ", ";
    if (job.stage.normalize)
        line += "normalised to a peak of " + decibelsText(s.normalizedPeak) + "FS";
    else
        line += "output gain " + formatDouble(job.stage.gain) + " (" +
                decibelsText(std::fabs(job.stage.gain)) + ")";
    return line + "\n";
}

void printRenderSummary(std::ostream& out, const RenderJob& job, const RenderSummary& s) {
    const int64_t frames = s.frames;
    out << "render: " << s.moduleId << ", "
        << (job.input.empty() ? std::string("built-in test signal") : inputName(job.input)) << ", "
        << s.channels << " channel(s), " << s.sampleRate << " Hz, " << frames << " frames ("
        << formatFixed(static_cast<double>(frames) / s.sampleRate, 3) << " s), block size " << job.blockSize
        << "\n"
        << renderSettingsLine(job, s);
    printLevels(out, "input ", s.inputLevels);
    if (job.gain != 1.0f)
        printLevels(out, "module in", s.moduleInputLevels);
    printLevels(out, "output", s.outputLevels);
    out << "  blocks " << s.report.blocks << ", text events " << s.report.textEvents
        << ", module sleep requests " << s.report.sleepRequests << "\n";
    if (total(s.inputBeyondTable) > 0)
        out << "  input beyond +-5 V" << (job.gain != 1.0f ? " after the gain" : "")
            << ", where the curve holds its end values: " << perChannel(s.inputBeyondTable) << " samples of "
            << frames << "\n";
    if (s.format != SampleFormat::Float)
        out << "  clipped in the file (beyond full scale): " << perChannel(s.clipped) << " samples\n";
    out << "wrote " << (job.output == kStandardStream ? std::string("standard output") : job.output) << " ("
        << sampleFormatName(s.format) << (s.formatReason.empty() ? "" : ": " + s.formatReason)
        << (s.dithered ? ", TPDF dither" : "") << ")\n";
}

// A gain written as a bare number below zero is a factor, as it always was (scripts rely on that), but
// a reader used to other audio tools may have meant decibels: say once what it does.
void noteNegativeFactor(const std::string& text, double factor, const char* option) {
    Quantity q;
    if (!readQuantity(text, &q) || q.decibels || !(factor < 0.0))
        return;
    const double db = 20.0 * std::log10(-factor);
    std::cerr << kProgramPrefix << "note: " << option << " " << text
              << " is a factor: it inverts the polarity and " << (db >= 0.0 ? "raises" : "lowers")
              << " the level by " << formatFixed(std::fabs(db), 1) << " dB; for decibels write " << text
              << "dB\n";
}

void runRender(Session& session, RenderCommandOptions& options) {
    RenderJob& job = options.job;
    const ModuleDescription& module = session.catalog().processingModule(job.module);
    job.text = moduleText(options.text.text, options.text.file, module.defaultText());
    job.quality = resamplerQualityNamed(options.quality);
    if (!options.type.empty())
        job.type = audioContainerNamed(options.type);
    const bool toStandardOutput = job.output == kStandardStream;
    if (toStandardOutput && options.json)
        throw usageError("--json and -o - both want standard output: give -o a file name");
    // Standard output carries the audio: the summary goes to standard error.
    std::ostream& report = toStandardOutput ? std::cerr : std::cout;
    job.progress = !session.quiet && !options.json;
    job.gain = static_cast<float>(readGain(options.gain, "--gain"));
    job.stage.gain = readGain(options.outputGain, "--output-gain");
    noteNegativeFactor(options.gain, job.gain, "--gain");
    noteNegativeFactor(options.outputGain, job.stage.gain, "--output-gain");
    if (options.normalizeGiven) {
        if (options.outputGain != "1")
            throw usageError("--normalize and --output-gain both set the output level: give one");
        job.stage.normalize = true;
        job.stage.normalizePeak = std::pow(10.0, readLevelDb(options.normalize, "--normalize") / 20.0);
    }
    job.dither = !options.noDither;
    for (const std::string& value : options.timed)
        job.timed.push_back(parseTimedText(value));
    printTextNotes(std::cerr, module.id, job.text);
    for (const TimedText& timed : job.timed)
        printTextNotes(std::cerr, module.id, timed.text,
                       "the text at " + formatDouble(timed.seconds) + " s: ");
    if (!job.automation.empty()) {
        // Each distinct text once, at its first time.
        std::set<std::string> noted;
        for (const AutomationPoint& point : readAutomationFile(job.automation)) {
            if (noted.insert(point.text).second)
                printTextNotes(std::cerr, module.id, point.text,
                               "the automation's text at " + automationTime(point) + ": ");
        }
    }

    // One input to -o, or each of several inputs to the folder under its own name.
    std::vector<RenderJob> jobs;
    int fromStandardInput = 0;
    for (const std::string& input : options.inputs)
        fromStandardInput += input == kStandardStream;
    if (fromStandardInput > 1)
        throw usageError("standard input can be read only once: give -i - once");
    if (options.outDir.empty()) {
        if (options.inputs.size() > 1)
            throw usageError("several inputs need --out-dir DIR for their outputs");
        if (job.output.empty())
            throw usageError("--out is required (or --out-dir with inputs)");
        job.input = options.inputs.empty() ? std::string() : options.inputs.front();
        jobs.push_back(job);
    } else {
        if (!job.output.empty())
            throw usageError("give either --out or --out-dir, not both");
        if (options.inputs.empty())
            throw usageError("--out-dir needs inputs (-i FILE, repeatable)");
        if (fromStandardInput > 0)
            throw usageError("--out-dir names each output after its input: standard input has no name");
        for (const std::string& input : options.inputs) {
            RenderJob each = job;
            each.input = input;
            each.output = outputPathIn(options.outDir, input);
            for (const RenderJob& earlier : jobs) {
                if (earlier.output == each.output)
                    throw usageError("inputs '" + earlier.input + "' and '" + input + "' would both write " +
                                     each.output);
            }
            jobs.push_back(each);
        }
    }
    // The outputs are committed together when all are rendered, in groups of kBatchGroup outputs for
    // a longer batch (the staged files wait on disk meanwhile): a failure leaves the outputs of its
    // group as they were, and says which outputs of earlier groups were already replaced.
    Json renders = Json::array();
    std::vector<std::string> replaced;
    try {
        // Everything is checked before anything is written: the options of every job, that no output is a
        // file the command reads (any job's input included, so one job's output never becomes a later
        // job's input) or another output, and that every input opens as audio.
        std::vector<ReadFile> reads = session.moduleFiles();
        reads.push_back({options.text.file, "the text file"});
        reads.push_back({job.automation, "the automation file"});
        std::vector<std::string> outputPaths;
        for (RenderJob& each : jobs) {
            each.formatFromInput = options.format.empty();
            if (!options.format.empty())
                each.format = sampleFormatNamed(options.format);
            checkRenderJob(each);
            reads.push_back({each.input, "the input file"});
            outputPaths.push_back(each.output);
        }
        refuseSameFiles(reads, outputPaths);
        if (jobs.size() > 1) {
            std::error_code error;
            for (const RenderJob& each : jobs) {
                // A pipe or FIFO is read once, when its turn comes.
                if (std::filesystem::is_regular_file(std::filesystem::u8path(each.input), error))
                    AudioReader check(each.input);
                else if (!std::filesystem::exists(std::filesystem::u8path(each.input), error))
                    throw failure("input '" + each.input + "' does not exist");
            }
            std::filesystem::create_directories(std::filesystem::u8path(options.outDir), error);
            if (!std::filesystem::is_directory(std::filesystem::u8path(options.outDir), error))
                throw failure("cannot create the output folder '" + options.outDir + "'");
        } else if (!options.outDir.empty()) {
            std::error_code error;
            std::filesystem::create_directories(std::filesystem::u8path(options.outDir), error);
            if (!std::filesystem::is_directory(std::filesystem::u8path(options.outDir), error))
                throw failure("cannot create the output folder '" + options.outDir + "'");
        }
        for (std::size_t first = 0; first < jobs.size(); first += kBatchGroup) {
            const std::size_t end = std::min(jobs.size(), first + kBatchGroup);
            OutputSet outputs;
            std::vector<const StagedOutput*> staged;
            for (std::size_t i = first; i < end; ++i)
                staged.push_back(&outputs.add(jobs[i].output));
            std::vector<RenderSummary> group;
            for (std::size_t i = first; i < end; ++i)
                group.push_back(runRenderJob(session, jobs[i], *staged[i - first], std::cerr));
            try {
                outputs.commitAll();
            } catch (...) {
                for (const std::string& done : outputs.committed())
                    replaced.push_back(done);
                throw;
            }
            for (std::size_t i = first; i < end; ++i) {
                const RenderJob& each = jobs[i];
                const RenderSummary& s = group[i - first];
                replaced.push_back(each.output);
                if (options.json)
                    renders.push_back(renderJson(each, s));
                else if (!session.quiet)
                    printRenderSummary(report, each, s);
                report.flush();
                if (s.inputLevels.nonFinite > 0)
                    std::cerr << kProgramPrefix << "warning: " << s.inputLevels.nonFinite << " samples of "
                              << (each.input == kStandardStream ? std::string("standard input") : each.input)
                              << " are not finite numbers (NaN or infinite): the levels leave them out\n";
                if (total(s.clipped) > 0)
                    std::cerr << kProgramPrefix << "warning: " << total(s.clipped) << " samples clipped in "
                              << outputName(each.output)
                              << "; lower the level with --output-gain or --normalize\n";
            }
        }
    } catch (const CliError& e) {
        if (options.outDir.empty())
            throw;
        // A script learns which files changed although the batch failed.
        if (!replaced.empty() && !options.json) {
            std::cerr << kProgramPrefix << "note: the batch failed after these outputs were written:";
            for (const std::string& done : replaced)
                std::cerr << " " << done;
            std::cerr << "\n";
        }
        if (options.json) {
            Json doc;
            doc["command"] = "render";
            doc["renders"] = renders;
            doc["replaced_outputs"] = replaced;
            doc["error"] = e.what();
            printJson(doc);
        }
        throw;
    }
    if (options.json) {
        if (options.outDir.empty()) {
            printJson(renders.front());
        } else {
            Json doc;
            doc["command"] = "render";
            doc["renders"] = renders;
            doc["replaced_outputs"] = replaced;
            doc["error"] = nullptr;
            printJson(doc);
        }
    }
}

struct AnalyzeCommandOptions {
    AnalyzeJob job;
    TextOptions text;
    std::string quality = "vhq";
    bool json = false;
};

Json analyzeJson(const AnalyzeJob& job, const AnalyzeSummary& s) {
    const SpectrumAnalysis& a = s.analysis;
    Json doc;
    doc["command"] = "analyze";
    doc["module"] = s.moduleId;
    doc["text"] = job.text;
    doc["level_volts"] = job.levelVolts;
    doc["requested_frequency"] = job.frequency;
    doc["frequency"] = s.frequency;
    doc["sample_rate"] = job.sampleRate;
    doc["transform_length"] = a.length;
    doc["oversample"] = job.oversample;
    doc["resampler_quality"] = job.quality == ResamplerQuality::High ? "hq" : "vhq";
    doc["dc_volts"] = a.dcVolts;
    doc["fundamental_volts"] = a.fundamentalVolts;
    const auto figure = [&a](double value) { return a.figuresValid ? Json(value) : Json(nullptr); };
    doc["thd_percent"] = figure(a.thdPercent);
    doc["thd_db"] = figure(a.thdDecibels);
    doc["alias_to_signal_db"] = figure(a.aliasToSignalDb);
    doc["sinad_db"] = figure(a.sinadDb);
    doc["non_finite_samples"] = a.nonFiniteSamples;
    doc["harmonics"] = Json::array();
    for (const Harmonic& h : a.harmonics)
        doc["harmonics"].push_back(
            Json{{"order", h.order}, {"frequency", h.frequency}, {"volts", h.volts}, {"db", h.decibels}});
    doc["aliases"] = Json::array();
    for (const Alias& alias : a.aliases)
        doc["aliases"].push_back(
            Json{{"order", alias.order}, {"frequency", alias.frequency}, {"db", alias.decibels}});
    doc["warnings"] = Json::array();
    if (!s.foldWarning.empty())
        doc["warnings"].push_back(s.foldWarning);
    if (!s.figuresWarning.empty())
        doc["warnings"].push_back(s.figuresWarning);
    return doc;
}

} // namespace

void checkAnalyzeJob(const AnalyzeJob& job) {
    if (!(job.levelVolts > 0.0) || !(job.levelVolts <= kMaxLevelVolts))
        throw badOptionValue("--level", formatDouble(job.levelVolts),
                             "a voltage above 0 and at most " + formatDouble(kMaxLevelVolts) + " V");
    if (!(job.frequency > 0.0) || !(job.frequency < job.sampleRate / 2.0))
        throw badOptionValue("--frequency", formatDouble(job.frequency),
                             "a frequency above 0 Hz and below half the sample rate");
    if (!isOversampleFactor(job.oversample))
        throw badOptionValue("--oversample", std::to_string(job.oversample), "1, 2, 4, 8 or 16");
}

SpectrumPanel spectrumPanel(const AnalyzeJob& job, const AnalyzeSummary& summary) {
    SpectrumPanel panel;
    panel.label =
        (job.oversample == 1 ? std::string("no oversampling")
                             : "oversampled " + std::to_string(job.oversample) + "x (" +
                                   (job.quality == ResamplerQuality::High ? "HQ" : "VHQ") + ")") +
        (summary.analysis.figuresValid ? std::string()
                                       : std::string(": no fundamental, no aliasing or THD figure"));
    panel.hasFigures = summary.analysis.figuresValid;
    panel.aliasingDb = summary.analysis.aliasToSignalDb;
    panel.thdPercent = summary.analysis.thdPercent;
    panel.decibels = summary.analysis.spectrumDecibels;
    panel.binIsHarmonic = summary.analysis.binIsHarmonic;
    panel.binIsAlias = summary.analysis.binIsAlias;
    panel.sampleRate = job.sampleRate;
    return panel;
}

SpectrumChart spectrumChart(const ModuleDescription& module, const AnalyzeJob& job,
                            const AnalyzeSummary& summary, std::vector<SpectrumPanel> panels) {
    SpectrumChart chart;
    chart.title = module.name + " (" + module.id + "): spectrum of a " + formatDouble(job.levelVolts) +
                  " V sine at " + formatFixed(summary.frequency, 2) + " Hz, " +
                  std::to_string(job.sampleRate) + " Hz";
    chart.subtitle = "text: " + job.text;
    chart.panels = std::move(panels);
    return chart;
}

AnalyzeSummary runAnalyzeJob(Session& session, const AnalyzeJob& job, const StagedOutput* png) {
    const ModuleDescription& module = session.catalog().processingModule(job.module);
    checkAnalyzeJob(job);

    AnalyzeSummary summary;
    summary.moduleId = module.id;
    summary.frequency = binFrequency(job.frequency, job.sampleRate, job.length);
    if (dividesSampleRate(job.frequency, job.sampleRate))
        summary.foldWarning =
            formatDouble(job.frequency) + " Hz divides the sample rate " + std::to_string(job.sampleRate) +
            " Hz: there every alias folds exactly onto a harmonic and hides in it; measured at " +
            formatFixed(summary.frequency, 3) + " Hz instead, where aliases fall between the harmonics";
    // Two analysis lengths and a margin: the second length is analysed, clear of the start and of the
    // resamplers' ringing where the sine stops at the end.
    const AudioBuffer input = steadySine(job.sampleRate, 2LL * job.length + kAnalysisMargin,
                                         summary.frequency, job.levelVolts * 0.1);
    RenderSettings settings;
    settings.moduleId = module.id;
    settings.text = pinText(job.text);
    settings.blockSize = job.blockSize;
    settings.oversample = job.oversample;
    settings.quality = job.quality;
    ProgressLine progress("analysing", job.progress);
    settings.progress = [&progress](int64_t done, int64_t total) { progress.update(done, total); };
    AudioBuffer output;
    renderAtRate(session.library(), settings, input, output);
    const std::vector<float> steady(output.samples.begin() + job.length,
                                    output.samples.begin() + 2 * job.length);
    summary.analysis = analyzeSpectrum(steady, job.sampleRate, summary.frequency);
    if (summary.analysis.nonFiniteSamples > 0)
        summary.figuresWarning = std::to_string(summary.analysis.nonFiniteSamples) +
                                 " samples of the module's output are not finite numbers (NaN or infinite): "
                                 "they are analysed as 0, and no THD, aliasing or SINAD is given";
    else if (!summary.analysis.figuresValid)
        summary.figuresWarning = "the module's output holds no fundamental above the noise: no THD, aliasing "
                                 "or SINAD is given, as they are relative to the fundamental";
    if (png != nullptr)
        writeSpectrumChart(*png, spectrumChart(module, job, summary, {spectrumPanel(job, summary)}), 1000,
                           560);
    return summary;
}

namespace {

void runAnalyze(Session& session, AnalyzeCommandOptions& options) {
    AnalyzeJob& job = options.job;
    std::vector<ReadFile> reads = session.moduleFiles();
    reads.push_back({options.text.file, "the text file"});
    refuseSameFiles(reads, {job.png});
    const ModuleDescription& module = session.catalog().processingModule(job.module);
    job.text = moduleText(options.text.text, options.text.file, module.defaultText());
    job.quality = resamplerQualityNamed(options.quality);
    job.progress = !session.quiet && !options.json;
    checkAnalyzeJob(job);
    printTextNotes(std::cerr, module.id, job.text);
    std::unique_ptr<StagedOutput> png;
    if (!job.png.empty())
        png = std::make_unique<StagedOutput>(job.png);
    const AnalyzeSummary s = runAnalyzeJob(session, job, png.get());
    if (png)
        png->commit();
    const SpectrumAnalysis& a = s.analysis;
    if (!s.foldWarning.empty())
        std::cerr << kProgramPrefix << "warning: " << s.foldWarning << "\n";
    if (!s.figuresWarning.empty())
        std::cerr << kProgramPrefix << "warning: " << s.figuresWarning << "\n";
    const auto figure = [&a](double value, int decimals) {
        return a.figuresValid ? formatFixed(value, decimals) : std::string("none");
    };
    if (options.json) {
        printJson(analyzeJson(job, s));
        return;
    }
    std::cout << "analyze: " << s.moduleId << ", sine of " << formatFixed(job.levelVolts, 3) << " V peak at "
              << formatFixed(s.frequency, 3) << " Hz (" << job.length << "-point transform, coherent tone, "
              << job.sampleRate << " Hz" << oversampleNote(job.oversample, job.quality) << ")\n"
              << "  DC offset     " << formatFixed(a.dcVolts, 6) << " V\n"
              << "  fundamental   " << formatFixed(a.fundamentalVolts, 6) << " V peak\n"
              << "  THD           " << figure(a.thdPercent, 4) << " % (" << figure(a.thdDecibels, 2)
              << " dB, harmonics 2-" << a.harmonics.size() << " below " << job.sampleRate / 2 << " Hz)\n"
              << "  aliasing      " << figure(a.aliasToSignalDb, 2)
              << " dB re fundamental (all bins that are neither DC nor harmonics)\n"
              << "  SINAD         " << figure(a.sinadDb, 2) << " dB\n"
              << "  harmonic  frequency/Hz   level/V      dB re fundamental\n";
    std::size_t listed = 0;
    for (const Harmonic& h : a.harmonics) {
        if (job.harmonics > 0 && listed++ >= static_cast<std::size_t>(job.harmonics))
            break;
        std::string order = std::to_string(h.order);
        std::cout << "  " << order << std::string(10 - order.size(), ' ') << formatFixed(h.frequency, 2)
                  << "    " << formatFixed(h.volts, 6) << "    "
                  << (h.order == 1 ? std::string("0") : formatFixed(h.decibels, 2)) << "\n";
    }
    if (!a.aliases.empty()) {
        std::cout << "  strongest aliases (harmonic folded back below " << job.sampleRate / 2 << " Hz)\n"
                  << "  harmonic  lies at/Hz     dB re fundamental\n";
        for (const Alias& alias : a.aliases) {
            const std::string order = std::to_string(alias.order);
            std::cout << "  " << order << std::string(order.size() < 10 ? 10 - order.size() : 1, ' ')
                      << formatFixed(alias.frequency, 2) << "    " << formatFixed(alias.decibels, 2) << "\n";
        }
    }
    if (!job.png.empty() && !session.quiet)
        std::cout << "wrote " << job.png << " (spectrum in dBFS against kHz, harmonics and aliases marked)\n";
}

} // namespace

void addRenderCommand(CLI::App& app, Session& session) {
    auto options = std::make_shared<RenderCommandOptions>();
    RenderJob& job = options->job;
    CLI::App* command = app.add_subcommand(
        "render",
        "Run an audio file, or the built-in test signal (a sine rising from 0 to 5 V over two seconds), "
        "through a waveshaper module; one module instance per channel");
    command->add_option("-m,--module", job.module, "module identifier or name")->required();
    options->text.addTo(*command, "curve points or formula");
    command
        ->add_option("-i,--in", options->inputs,
                     "input audio file, WAV, FLAC or AIFF, - for standard input (default: the test signal); "
                     "repeatable with --out-dir")
        ->check(fileName());
    command
        ->add_option("-o,--out", job.output,
                     "output audio file, .wav .flac .aif .aiff, or - for standard output (with --type)")
        ->check(fileName());
    restrictToChoices(command->add_option("--type", options->type,
                                          "the output's file type whatever its name: needed for -o - and "
                                          "for names without a known extension"),
                      {"wav", "aiff", "flac"});
    command
        ->add_option("--out-dir", options->outDir,
                     "folder for the outputs of several inputs, each under its "
                     "input's name")
        ->check(fileName());
    restrictToChoices(command->add_option("--format", options->format,
                                          "output samples (default: the input's where the output holds "
                                          "them: 16-bit stays 16-bit, 24-bit 24-bit, float float; 24-bit for "
                                          "float into FLAC; float for the built-in signal)"),
                      {"float", "pcm16", "pcm24"});
    command->add_option("-b,--block-size", job.blockSize, "samples per processBlock call")
        ->check(wholeNumberRange(1, 65536))
        ->capture_default_str();
    command->add_option("-g,--gain", options->gain, "input gain, a factor or dB (e.g. 0.5 or -6dB)")
        ->capture_default_str();
    command->add_option("--output-gain", options->outputGain, "output gain, a factor or dB")
        ->capture_default_str();
    command->add_option("--normalize", options->normalize, "scale the output to this peak in dBFS (e.g. -1)")
        ->each([options](const std::string&) { options->normalizeGiven = true; });
    command->add_option("--mix", job.stage.mix, "dry/wet: 0 the input only, 1 the module's output only")
        ->check(numberRange(0.0, 1.0))
        ->capture_default_str();
    command->add_flag("--dc-block", job.stage.dcBlock,
                      "remove DC from the output (first-order high-pass at 5 Hz)");
    command->add_flag("--no-dither", options->noDither, "no TPDF dither when writing 16-bit PCM");
    command
        ->add_option(
            "--automation", job.automation,
            "JSON file of text changes: [{\"seconds\": 1.5, \"text\": \"...\"}, {\"sample\": N, ...}, "
            "{\"percent\": P, ...}]")
        ->check(fileName());
    command->add_option(
        "--text-at", options->timed,
        "SECONDS:TEXT, a new text from that time on, delivered at its exact sample (repeatable)");
    command->add_option("--signal-frequency", job.signalFrequency, "test signal frequency in Hz")
        ->check(numberRange(1.0, 20000.0))
        ->capture_default_str();
    command->add_option("--rate", job.sampleRate, "test signal sample rate in Hz")
        ->check(wholeNumberRange(8000, 384000))
        ->capture_default_str();
    addOversampleOptions(*command, job.oversample, options->quality);
    command->add_flag("--json", options->json, "one JSON document on standard output instead of the summary");
    command->callback([&session, options] { runRender(session, *options); });
}

void addAnalyzeCommand(CLI::App& app, Session& session) {
    auto options = std::make_shared<AnalyzeCommandOptions>();
    AnalyzeJob& job = options->job;
    CLI::App* command = app.add_subcommand(
        "analyze",
        "Shape a sine of a chosen level and frequency and report DC offset, THD and harmonic levels");
    command->add_option("-m,--module", job.module, "module identifier or name")->required();
    options->text.addTo(*command, "curve points or formula");
    command->add_option("-l,--level", job.levelVolts, "sine level in volts peak")
        ->check(numberRange(0.0, kMaxLevelVolts))
        ->capture_default_str();
    command->add_option("-f,--frequency", job.frequency, "sine frequency in Hz (moved to the nearest bin)")
        ->check(numberRange(0.0, 192000.0))
        ->capture_default_str();
    command->add_option("--rate", job.sampleRate, "sample rate in Hz")
        ->check(wholeNumberRange(8000, 384000))
        ->capture_default_str();
    command
        ->add_option("--harmonics", job.harmonics,
                     "harmonics to list, the fundamental included (0: all below half the sample rate)")
        ->check(wholeNumberRange(0, 100000))
        ->capture_default_str();
    command->add_option("--png", job.png, "PNG file for the spectrum")
        ->check(fileName())
        ->check(CLI::Validator(pngNameProblem, "FILE.png"));
    addOversampleOptions(*command, job.oversample, options->quality);
    command->add_flag("--json", options->json, "one JSON document on standard output instead of the report");
    command->callback([&session, options] { runAnalyze(session, *options); });
}

std::vector<float> writeTransferPng(Session& session, const std::string& moduleId, const std::string& text,
                                    const StagedOutput& path, int size) {
    const std::vector<float> table = readModuleTable(session.library(), moduleId, pinText(text));
    if (table.size() != static_cast<std::size_t>(kTableEntries))
        throw failure("the module obtained no table from the host");
    const ModuleDescription& module = session.catalog().processingModule(moduleId);
    writeTransferChart(path, {"Transfer curve: " + module.name, module.id + ", text: " + text, table}, size);
    return table;
}

void addMediaCommands(CLI::App& app, Session& session) {
    addRenderCommand(app, session);
    addAnalyzeCommand(app, session);
    addEditorCommand(app, session);
    addDemoCommand(app, session);
    addDiffCommand(app, session);
}

void addOversampleOptions(CLI::App& command, int& factor, std::string& quality) {
    command
        .add_option(
            "--oversample", factor,
            "run the module at 1, 2, 4, 8 or 16 times the sample rate between linear-phase resamplers")
        ->check(wholeNumberChoice({1, 2, 4, 8, 16}))
        ->capture_default_str();
    restrictToChoices(command.add_option("--quality", quality, "resampler quality when oversampling"),
                      {"hq", "vhq"})
        ->capture_default_str();
}

ResamplerQuality resamplerQualityNamed(const std::string& given) {
    const std::string name = lowerCase(given);
    if (name == "hq")
        return ResamplerQuality::High;
    if (name == "vhq")
        return ResamplerQuality::VeryHigh;
    throw usageError("unknown resampler quality '" + given + "' (hq or vhq)");
}

std::string oversampleNote(int factor, ResamplerQuality quality) {
    if (factor == 1)
        return "";
    return ", oversampled " + std::to_string(factor) + "x (" +
           (quality == ResamplerQuality::High ? "HQ" : "VHQ") + ")";
}

} // namespace shaperhost
