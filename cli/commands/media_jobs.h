// The work behind render, analyze and demo, shared so the demo runs exactly what the commands run.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/audio/audio_io.h"
#include "cli/output/charts.h"
#include "cli/commands/command_line.h"
#include "cli/output/output_file.h"
#include "cli/render/output_stage.h"
#include "cli/render/render_engine.h"
#include "cli/analysis/spectrum.h"
#include "cli/common/text_args.h"

namespace shaperhost {

// The built-in test signal: a sine whose level rises from 0 to 5 V over two seconds.
constexpr double kTestSignalSeconds = 2.0;
constexpr double kTestSignalEndAmplitude = 0.5;
// The highest analysis level: far past full scale (10 V), and still a finite single-precision sample.
constexpr double kMaxLevelVolts = 1000.0;
// The largest input gain either way (120 dB).
constexpr double kMaxGain = 1.0e6;

struct RenderJob {
    std::string module;            // identifier or name
    std::string text;              // pin 0 at the start
    std::vector<TimedText> timed;  // text changes at times in seconds
    std::vector<TextChange> extra; // text changes at samples (e.g. from an editor)
    std::string input;             // empty: the built-in test signal
    std::string output;
    SampleFormat format = SampleFormat::Float;
    bool formatFromInput =
        false; // choose the format from the input when it is open (see defaultOutputFormat)
    AudioContainer type = AudioContainer::FromName; // the output's file type (--type), else its extension
    int32_t blockSize = 64;
    float gain = 1.0f;      // on the input, before the module
    std::string automation; // file of text changes, empty for none
    OutputStage stage;      // mix, DC removal, output gain or normalisation
    bool dither = true;     // TPDF dither for 16-bit output
    bool progress = false;  // a progress line on a terminal when the work takes a while
    double signalFrequency = 220.0;
    int sampleRate = 48000;
    int oversample = 1;
    ResamplerQuality quality = ResamplerQuality::VeryHigh;
};

struct RenderSummary {
    std::string moduleId;
    int channels = 0;
    int sampleRate = 0;
    int64_t frames = 0;
    SampleFormat format = SampleFormat::Float; // of the output file
    std::string formatReason;                  // why, when the format was not asked for
    Levels inputLevels;                        // of the input as read, before the gain
    Levels moduleInputLevels;                  // as fed to the module, gain applied
    Levels outputLevels;
    double normalizedPeak = 0.0; // the peak normalisation aimed at (sample units), 0 without --normalize
    RenderReport report;
    double renderSeconds = 0.0;            // wall time of the run, resampling and files included
    std::vector<int64_t> inputBeyondTable; // per channel: input samples beyond +-5 V
    std::vector<int64_t> clipped;          // per channel: samples the integer file could not hold
    bool dithered = false;
};

// "float", "pcm16" or "pcm24".
std::string sampleFormatName(SampleFormat format);

// Checks the job's values that do not need files (usage errors).
void checkRenderJob(const RenderJob& job);
// Checks the job, refuses its input as its output, renders block by block (the input is read and the
// output written in pieces) into the staging file of `output`, which is left for the caller to commit.
// Notes (e.g. a text change after the end) go to `log`. `opened` is the job's input when the caller
// opened it already (a FIFO or pipe can be opened only once); null: opened here.
RenderSummary runRenderJob(Session& session, const RenderJob& job, const StagedOutput& output,
                           std::ostream& log, AudioReader* opened = nullptr);
// Stages the job's output, renders and commits it.
RenderSummary runRenderJob(Session& session, const RenderJob& job, std::ostream& log);
void printLevels(std::ostream& out, const char* label, const Levels& levels);

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

// Checks the job's values (usage errors), analyses, and writes the spectrum to `png` when the job has one
// (the caller stages it and commits it).
AnalyzeSummary runAnalyzeJob(Session& session, const AnalyzeJob& job, const StagedOutput* png);

// Transfer curve of (module, text) as PNG into a staged output; returns the table.
std::vector<float> writeTransferPng(Session& session, const std::string& moduleId, const std::string& text,
                                    const StagedOutput& output, int size);

void addRenderCommand(CLI::App& app, Session& session);
void addAnalyzeCommand(CLI::App& app, Session& session);
void addEditorCommand(CLI::App& app, Session& session);
void addDemoCommand(CLI::App& app, Session& session);
void addDiffCommand(CLI::App& app, Session& session);

// --oversample and --quality on a command; the factor is checked when the command runs.
void addOversampleOptions(CLI::App& command, int& factor, std::string& quality);
// The quality named on the command line ("hq" or "vhq"); a usage error otherwise.
ResamplerQuality resamplerQualityNamed(const std::string& name);
// "" at 1x, else ", oversampled 8x (VHQ)" for summaries.
std::string oversampleNote(int factor, ResamplerQuality quality);

} // namespace shaperhost
