// render and analyze: audio through a waveshaper module, to a file or to a harmonic analysis.
#include <cmath>
#include <iostream>

#include "cli/cli_error.h"
#include "cli/media_jobs.h"
#include "cli/output_file.h"
#include "cli/plots.h"
#include "cli/terminal.h"

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

RenderSummary runRenderJob(Session& session, const RenderJob& job, std::ostream& log) {
    const ModuleDescription& module = session.catalog().processingModule(job.module);
    if (job.blockSize < 1 || job.blockSize > 65536)
        throw usageError("--block-size must be 1 to 65536");
    if (!std::isfinite(job.gain))
        throw usageError("--gain must be a finite number");
    checkOutputPath(job.output, job.format);
    requireOutputFolder(job.output);

    RenderSummary summary;
    summary.moduleId = module.id;
    summary.input = job.input.empty() ? risingSine(job.sampleRate, kTestSignalSeconds, job.signalFrequency,
                                                   kTestSignalEndAmplitude)
                                      : readAudioFile(job.input);
    applyGain(summary.input, job.gain);

    RenderSettings settings;
    settings.moduleId = module.id;
    settings.text = pinText(job.text);
    settings.blockSize = job.blockSize;
    for (const TimedText& timed : job.timed) {
        const int64_t sample = std::llround(timed.seconds * summary.input.sampleRate);
        if (sample >= summary.input.frames())
            log << "note: the text change at " << formatDouble(timed.seconds)
                << " s lies after the end of the audio\n";
        settings.changes.push_back({sample, pinText(timed.text)});
    }
    for (const TextChange& change : job.extra)
        settings.changes.push_back(change);

    // Progress only where someone watches, and only when it takes a while.
    Progress progress(progressTerminal() && summary.input.frames() > 10LL * summary.input.sampleRate);
    settings.progress = [&progress](int64_t done, int64_t total) { progress.update(done, total); };
    summary.report = renderThroughModule(session.library(), settings, summary.input, summary.output);
    summary.inputLevels = measureLevels(summary.input);
    summary.outputLevels = measureLevels(summary.output);
    writeAudioFile(job.output, summary.output, job.format);
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

    const RenderSummary s = runRenderJob(session, job, std::cout);
    const int64_t frames = s.input.frames();
    std::cout << "render: " << s.moduleId << ", " << (job.input.empty() ? "built-in test signal" : job.input)
              << ", " << s.input.channels << " channel(s), " << s.input.sampleRate << " Hz, " << frames
              << " frames (" << formatFixed(static_cast<double>(frames) / s.input.sampleRate, 3)
              << " s), block size " << job.blockSize << "\n";
    printLevels(std::cout, "input ", s.inputLevels);
    printLevels(std::cout, "output", s.outputLevels);
    std::cout << "  blocks " << s.report.blocks << ", text events " << s.report.textEvents
              << ", module sleep requests " << s.report.sleepRequests << "\n"
              << "wrote " << job.output << " (" << options.format << ")\n";
    if (s.outputLevels.peak == 0.0 && s.inputLevels.peak > 0.0)
        std::cerr
            << "note: the output is silent; a formula the module cannot evaluate gives 0 V everywhere\n";
}

struct AnalyzeCommandOptions {
    AnalyzeJob job;
    TextOptions text;
};

} // namespace

AnalyzeSummary runAnalyzeJob(Session& session, const AnalyzeJob& job, std::ostream& log) {
    const ModuleDescription& module = session.catalog().processingModule(job.module);
    if (!(job.levelVolts > 0.0) || !std::isfinite(job.levelVolts))
        throw usageError("--level must be a positive voltage");
    if (!(job.frequency > 0.0) || job.frequency >= job.sampleRate / 2.0)
        throw usageError("--frequency must lie between 0 Hz and half the sample rate");
    if (!job.png.empty() && !pngAvailable())
        throw usageError("--png: this build writes no PNG files");
    (void)log;

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
    if (!job.png.empty())
        writePng(job.png, spectrumPlot(summary.analysis.spectrumDecibels, job.sampleRate, 1024, 480));
    return summary;
}

namespace {

void runAnalyze(Session& session, AnalyzeCommandOptions& options) {
    AnalyzeJob& job = options.job;
    const ModuleDescription& module = session.catalog().processingModule(job.module);
    job.text = moduleText(options.text.text, options.text.file, module.defaultText());
    const AnalyzeSummary s = runAnalyzeJob(session, job, std::cout);
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
    command->add_option("-i,--in", job.input,
                        "input audio file, WAV, FLAC or AIFF (default: the test signal)");
    command->add_option("-o,--out", job.output, "output audio file, .wav .flac .aif .aiff")->required();
    command->add_option("--format", options->format, "output samples: float, pcm16 or pcm24")
        ->capture_default_str();
    command->add_option("-b,--block-size", job.blockSize, "samples per processBlock call")
        ->check(CLI::Range(1, 65536))
        ->capture_default_str();
    command->add_option("-g,--gain", job.gain, "input gain, a factor")->capture_default_str();
    command->add_option(
        "--text-at", options->timed,
        "SECONDS:TEXT, a new text from that time on, delivered at its exact sample (repeatable)");
    command->add_option("--signal-frequency", job.signalFrequency, "test signal frequency in Hz")
        ->check(CLI::Range(1.0, 20000.0))
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
    command->add_option("-l,--level", job.levelVolts, "sine level in volts peak")->capture_default_str();
    command->add_option("-f,--frequency", job.frequency, "sine frequency in Hz (moved to the nearest bin)")
        ->capture_default_str();
    command->add_option("--rate", job.sampleRate, "sample rate in Hz")
        ->check(CLI::Range(8000, 384000))
        ->capture_default_str();
    command->add_option("--harmonics", job.harmonics, "harmonics to list, the fundamental included")
        ->check(CLI::Range(1, 100))
        ->capture_default_str();
    command->add_option("--png", job.png, "PNG file for the spectrum");
    command->callback([&session, options] { runAnalyze(session, *options); });
}

std::vector<float> writeTransferPng(Session& session, const std::string& moduleId, const std::string& text,
                                    const std::string& path, int size) {
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
