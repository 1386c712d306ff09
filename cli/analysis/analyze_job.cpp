#include "cli/analysis/analyze_job.h"

#include <cmath>
#include <string>

#include "cli/common/cli_error.h"
#include "cli/common/text_args.h"
#include "cli/output/progress.h"
#include "cli/render/module_stream.h"
#include "cli/render/oversampling.h"
#include "cli/render/test_signals.h"

namespace shaperhost {

namespace {

// Samples rendered past the analysed stretch.
constexpr int kAnalysisMargin = 4096;

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

} // namespace shaperhost
