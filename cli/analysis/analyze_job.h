// An analysis from start to end: a steady sine through the module stream, its spectrum and figures,
// and the spectrum chart. The analyze command and the demo both run this.
#pragma once

#include <string>
#include <vector>

#include "cli/analysis/spectrum.h"
#include "cli/modules/module_catalog.h"
#include "cli/modules/session.h"
#include "cli/output/charts.h"
#include "cli/output/output_file.h"
#include "cli/render/render_settings.h"

namespace shaperhost {

// The highest analysis level: far past full scale (10 V), and still a finite single-precision sample.
constexpr double kMaxLevelVolts = 1000.0;

struct AnalyzeJob {
    std::string module;
    std::string text;
    double levelVolts = 5.0;
    double frequency = 1000.0;
    int sampleRate = 48000;
    int length = 65536;
    int harmonics = 0; // harmonics to list; 0: all below half the sample rate
    int32_t blockSize = 64;
    int oversample = 1;
    ResamplerQuality quality = ResamplerQuality::VeryHigh;
    std::string png;
    bool progress = false; // a progress line on a terminal when the work takes a while
};

struct AnalyzeSummary {
    std::string moduleId;
    double frequency = 0.0; // the bin frequency actually used
    SpectrumAnalysis analysis;
    std::string foldWarning;    // set when the requested tone divides the sample rate
    std::string figuresWarning; // set when THD, aliasing and SINAD cannot be given
};

// The spectrum of one analysis as a chart panel, labelled with its oversampling.
SpectrumPanel spectrumPanel(const AnalyzeJob& job, const AnalyzeSummary& summary);
// A chart of panels of analyses of the same job but for their oversampling.
SpectrumChart spectrumChart(const ModuleDescription& module, const AnalyzeJob& job,
                            const AnalyzeSummary& summary, std::vector<SpectrumPanel> panels);

// Checks the job's values (usage errors).
void checkAnalyzeJob(const AnalyzeJob& job);
// Checks the job's values (usage errors), analyses, and writes the spectrum to `png` when the job has one
// (the caller stages it and commits it).
AnalyzeSummary runAnalyzeJob(Session& session, const AnalyzeJob& job, const StagedOutput* png);

} // namespace shaperhost
