// render: audio through a waveshaper module into a file, one input or a batch of them.
#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <system_error>

#include "cli/commands/command_line.h"
#include "cli/commands/json_reports.h"
#include "cli/commands/printing.h"
#include "cli/common/cli_error.h"
#include "cli/common/text_args.h"
#include "cli/modules/text_notes.h"
#include "cli/output/output_file.h"
#include "cli/render/automation.h"
#include "cli/render/render_job.h"

namespace shaperhost {

namespace {

// Outputs of a batch committed together (each holds a slot for removal on interruption while staged).
constexpr std::size_t kBatchGroup = 200;

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

std::string decibelsText(double factor) {
    return factor > 0.0 ? formatFixed(20.0 * std::log10(factor), 2) + " dB" : "-inf dB";
}

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

} // namespace shaperhost
