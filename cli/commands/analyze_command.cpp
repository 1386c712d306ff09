// analyze: a sine of a chosen level and frequency through a module, and its harmonics, THD, aliasing
// and SINAD.
#include <iostream>
#include <memory>
#include <string>

#include "cli/analysis/analyze_job.h"
#include "cli/commands/command_line.h"
#include "cli/commands/json_reports.h"
#include "cli/common/cli_error.h"
#include "cli/common/text_args.h"
#include "cli/modules/text_notes.h"
#include "cli/output/charts.h"
#include "cli/output/output_file.h"

namespace shaperhost {

namespace {

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

} // namespace shaperhost
