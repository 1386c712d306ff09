// render and analyze: audio through a waveshaper module, to a file or to a harmonic analysis.
#include <cmath>
#include <iostream>
#include <memory>

#include "cli/cli_error.h"
#include "cli/media_jobs.h"
#include "cli/output_file.h"
#include "cli/plots.h"
#include "cli/terminal.h"
#include "cli/text_notes.h"

namespace shaperhost {

namespace {

std::string decibels(double value) {
    if (value <= 0.0)
        return "-inf";
    return formatFixed(20.0 * std::log10(value), 2);
}

// Redraws "rendering NN%" on the terminal whenever the percentage changes.
class Progress {
public:
    explicit Progress(bool enabled) : enabled(enabled) {}
    ~Progress() {
        if (enabled && shown >= 0)
            std::cerr << "\r                    \r" << std::flush;
    }
    void update(int64_t done, int64_t total) {
        if (!enabled || total <= 0)
            return;
        const int percent = static_cast<int>(done * 100 / total);
        if (percent != shown) {
            shown = percent;
            std::cerr << "\rrendering " << percent << "%" << std::flush;
        }
    }

private:
    bool enabled;
    int shown = -1;
};

} // namespace

void printLevels(std::ostream& out, const char* label, const Levels& levels) {
    out << "  " << label << "  peak " << formatFixed(levels.peak, 6) << " ("
        << formatFixed(levels.peak * 10.0, 3) << " V, " << decibels(levels.peak) << " dBFS)  RMS "
        << formatFixed(levels.rms, 6) << " (" << formatFixed(levels.rms * 10.0, 3) << " V, "
        << decibels(levels.rms) << " dBFS)\n";
}

void checkRenderJob(const RenderJob& job) {
    if (job.blockSize < 1 || job.blockSize > 65536)
        throw usageError("--block-size must be 1 to 65536");
    if (!std::isfinite(job.gain))
        throw usageError("--gain must be a finite number");
    checkOutputPath(job.output, job.format);
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

    RenderSettings settings;
    settings.moduleId = module.id;
    settings.text = pinText(job.text);
    settings.blockSize = job.blockSize;
    for (const TimedText& timed : job.timed) {
        // Compared before any conversion: a time far past the end must not wrap the sample number.
        const double at = timed.seconds * summary.sampleRate;
        const int64_t sample = at < static_cast<double>(summary.frames) ? std::llround(at) : summary.frames;
        if (sample >= summary.frames) {
            log << "note: the text change at " << formatDouble(timed.seconds)
                << " s lies after the end of the audio\n";
            continue;
        }
        settings.changes.push_back({sample, pinText(timed.text)});
    }
    for (const TextChange& change : job.extra)
        settings.changes.push_back(change);

    StreamRenderer renderer(session.library(), settings, summary.channels);
    AudioWriter writer(output, summary.channels, summary.sampleRate, job.format);
    // Pieces of whole blocks of about 8192 frames.
    const int64_t piece = ((8191 + static_cast<int64_t>(job.blockSize)) / job.blockSize) * job.blockSize;
    std::vector<float> in(static_cast<std::size_t>(piece * summary.channels));
    std::vector<float> out(in.size());
    LevelMeter inputMeter;
    LevelMeter outputMeter;
    // Progress only where someone watches, and only when it takes a while.
    Progress progress(progressTerminal() && summary.frames > 10LL * summary.sampleRate);
    int64_t position = 0;
    do {
        int64_t count = std::min(piece, summary.frames - position);
        if (reader != nullptr)
            count = reader->read(in.data(), count);
        else
            sine.fill(in.data(), position, count);
        const std::size_t samples = static_cast<std::size_t>(count * summary.channels);
        if (job.gain != 1.0f) {
            for (std::size_t i = 0; i < samples; ++i)
                in[i] *= job.gain;
        }
        renderer.process(in.data(), out.data(), count);
        inputMeter.add(in.data(), samples);
        outputMeter.add(out.data(), samples);
        writer.write(out.data(), count);
        position += count;
        progress.update(position, summary.frames);
        if (count == 0)
            break;
    } while (position < summary.frames);
    writer.close();
    summary.frames = position;
    summary.report = renderer.report();
    summary.inputLevels = inputMeter.levels();
    summary.outputLevels = outputMeter.levels();
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
    std::string format = "float";
};

void runRender(Session& session, RenderCommandOptions& options) {
    RenderJob& job = options.job;
    const ModuleDescription& module = session.catalog().processingModule(job.module);
    job.text = moduleText(options.text.text, options.text.file, module.defaultText());
    job.format = sampleFormatNamed(options.format);
    for (const std::string& value : options.timed)
        job.timed.push_back(parseTimedText(value));
    printTextNotes(std::cerr, module.id, job.text);
    for (const TimedText& timed : job.timed)
        printTextNotes(std::cerr, module.id, timed.text,
                       "the text at " + formatDouble(timed.seconds) + " s: ");

    const RenderSummary s = runRenderJob(session, job, std::cout);
    const int64_t frames = s.frames;
    std::cout << "render: " << s.moduleId << ", " << (job.input.empty() ? "built-in test signal" : job.input)
              << ", " << s.channels << " channel(s), " << s.sampleRate << " Hz, " << frames << " frames ("
              << formatFixed(static_cast<double>(frames) / s.sampleRate, 3) << " s), block size "
              << job.blockSize << "\n";
    printLevels(std::cout, "input ", s.inputLevels);
    printLevels(std::cout, "output", s.outputLevels);
    std::cout << "  blocks " << s.report.blocks << ", text events " << s.report.textEvents
              << ", module sleep requests " << s.report.sleepRequests << "\n"
              << "wrote " << job.output << " (" << options.format << ")\n";
}

struct AnalyzeCommandOptions {
    AnalyzeJob job;
    TextOptions text;
};

} // namespace

void checkAnalyzeJob(const AnalyzeJob& job) {
    if (!(job.levelVolts > 0.0) || !(job.levelVolts <= kMaxLevelVolts))
        throw usageError("--level must be a voltage above 0 and at most " + formatDouble(kMaxLevelVolts) +
                         " V");
    if (!(job.frequency > 0.0) || !(job.frequency < job.sampleRate / 2.0))
        throw usageError("--frequency must lie between 0 Hz and half the sample rate");
    if (!job.png.empty() && !pngAvailable())
        throw usageError("--png: this build writes no PNG files");
}

AnalyzeSummary runAnalyzeJob(Session& session, const AnalyzeJob& job, const StagedOutput* png) {
    const ModuleDescription& module = session.catalog().processingModule(job.module);
    checkAnalyzeJob(job);

    AnalyzeSummary summary;
    summary.moduleId = module.id;
    summary.frequency = binFrequency(job.frequency, job.sampleRate, job.length);
    // Two analysis lengths: the second, steady one is analysed.
    const AudioBuffer input =
        steadySine(job.sampleRate, 2LL * job.length, summary.frequency, job.levelVolts * 0.1);
    RenderSettings settings;
    settings.moduleId = module.id;
    settings.text = pinText(job.text);
    settings.blockSize = job.blockSize;
    AudioBuffer output;
    renderThroughModule(session.library(), settings, input, output);
    const std::vector<float> steady(output.samples.begin() + job.length, output.samples.end());
    summary.analysis = analyzeSpectrum(steady, job.sampleRate, summary.frequency, job.harmonics);
    if (png != nullptr)
        writePng(*png, spectrumPlot(summary.analysis.spectrumDecibels, job.sampleRate, 1024, 480));
    return summary;
}

namespace {

void runAnalyze(Session& session, AnalyzeCommandOptions& options) {
    AnalyzeJob& job = options.job;
    const ModuleDescription& module = session.catalog().processingModule(job.module);
    job.text = moduleText(options.text.text, options.text.file, module.defaultText());
    checkAnalyzeJob(job);
    printTextNotes(std::cerr, module.id, job.text);
    std::unique_ptr<StagedOutput> png;
    if (!job.png.empty())
        png = std::make_unique<StagedOutput>(job.png);
    const AnalyzeSummary s = runAnalyzeJob(session, job, png.get());
    if (png)
        png->commit();
    const SpectrumAnalysis& a = s.analysis;
    std::cout << "analyze: " << s.moduleId << ", sine of " << formatFixed(job.levelVolts, 3) << " V peak at "
              << formatFixed(s.frequency, 3) << " Hz (" << job.length << "-point transform, "
              << job.sampleRate << " Hz)\n"
              << "  DC offset     " << formatFixed(a.dcVolts, 6) << " V\n"
              << "  fundamental   " << formatFixed(a.fundamentalVolts, 6) << " V peak\n"
              << "  THD           " << formatFixed(a.thdPercent, 4) << " % (harmonics 2-" << job.harmonics
              << " below " << job.sampleRate / 2 << " Hz)\n"
              << "  harmonic  frequency/Hz   level/V      dB re fundamental\n";
    for (const Harmonic& h : a.harmonics) {
        std::string order = std::to_string(h.order);
        std::cout << "  " << order << std::string(10 - order.size(), ' ') << formatFixed(h.frequency, 2)
                  << "    " << formatFixed(h.volts, 6) << "    "
                  << (h.order == 1 ? std::string("0") : formatFixed(h.decibels, 2)) << "\n";
    }
    if (!job.png.empty())
        std::cout << "wrote " << job.png << " (spectrum, 0..-140 dB full scale, grid 20 dB and 1 kHz)\n";
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
        ->add_option("-i,--in", job.input, "input audio file, WAV, FLAC or AIFF (default: the test signal)")
        ->check(fileName());
    command->add_option("-o,--out", job.output, "output audio file, .wav .flac .aif .aiff")
        ->required()
        ->check(fileName());
    command->add_option("--format", options->format, "output samples: float, pcm16 or pcm24")
        ->capture_default_str();
    command->add_option("-b,--block-size", job.blockSize, "samples per processBlock call")
        ->check(CLI::Range(1, 65536))
        ->capture_default_str();
    command->add_option("-g,--gain", job.gain, "input gain, a factor")
        ->check(numberRange(-kMaxGain, kMaxGain))
        ->capture_default_str();
    command->add_option(
        "--text-at", options->timed,
        "SECONDS:TEXT, a new text from that time on, delivered at its exact sample (repeatable)");
    command->add_option("--signal-frequency", job.signalFrequency, "test signal frequency in Hz")
        ->check(numberRange(1.0, 20000.0))
        ->capture_default_str();
    command->add_option("--rate", job.sampleRate, "test signal sample rate in Hz")
        ->check(CLI::Range(8000, 384000))
        ->capture_default_str();
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
        ->check(CLI::Range(8000, 384000))
        ->capture_default_str();
    command->add_option("--harmonics", job.harmonics, "harmonics to list, the fundamental included")
        ->check(CLI::Range(1, 100))
        ->capture_default_str();
    command->add_option("--png", job.png, "PNG file for the spectrum")->check(fileName());
    command->callback([&session, options] { runAnalyze(session, *options); });
}

std::vector<float> writeTransferPng(Session& session, const std::string& moduleId, const std::string& text,
                                    const StagedOutput& path, int size) {
    const std::vector<float> table = readModuleTable(session.library(), moduleId, pinText(text));
    if (table.size() != static_cast<std::size_t>(kTableEntries))
        throw failure("the module obtained no table from the host");
    writePng(path, transferPlot(table, size));
    return table;
}

void addMediaCommands(CLI::App& app, Session& session) {
    addRenderCommand(app, session);
    addAnalyzeCommand(app, session);
    addEditorCommand(app, session);
    addDemoCommand(app, session);
}

} // namespace shaperhost
