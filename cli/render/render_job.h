// A render from start to end: the input (a file read in pieces or the built-in test signal), the text
// changes of the command line and the automation file, the module stream and the output sink, with a
// summary of what happened. The render command, the editor's render and the demo all run this.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/audio/audio_io.h"
#include "cli/common/text_args.h"
#include "cli/modules/session.h"
#include "cli/output/output_file.h"
#include "cli/render/levels.h"
#include "cli/render/output_stage.h"
#include "cli/render/render_settings.h"

namespace shaperhost {

// The built-in test signal: a sine whose level rises from 0 to 5 V over two seconds.
constexpr double kTestSignalSeconds = 2.0;
constexpr double kTestSignalEndAmplitude = 0.5;

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

} // namespace shaperhost
