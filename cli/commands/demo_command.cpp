// demo: both waveshapers on the built-in test signal with two musical texts, with their transfer
// curves, spectra and the editor panel, written to one folder.
#include <filesystem>
#include <iostream>
#include <sstream>

#include "cli/analysis/analyze_job.h"
#include "cli/commands/command_line.h"
#include "cli/commands/printing.h"
#include "cli/common/cli_error.h"
#include "cli/editor/editor_session.h"
#include "cli/render/module_table.h"
#include "cli/render/oversampling.h"
#include "cli/render/render_job.h"
#include "cli/render/test_signals.h"
#include "factory/module_ids.h"

namespace fs = std::filesystem;

namespace shaperhost {

namespace {

// A soft clip through the 11 points: about 5 tanh(x / 2.5) / tanh(2), steep near 0 V, flat towards 5 V.
const char* const kSoftClipCurve = "(-5.0,-5.0)(-4.0,-4.8)(-3.0,-4.3)(-2.0,-3.4)(-1.0,-2.0)(0.0,0.0)(1.0,2.0)"
                                   "(2.0,3.4)(3.0,4.3)(4.0,4.8)(5.0,5.0)";
// A gentle wavefolder: nearly straight at low levels, folding back above 3.5 V, so the rising test sine
// grows brighter towards its end.
const char* const kFolderFormula = "5*sin(x*pi/7)";

struct DemoPiece {
    const char* module;
    const char* label;
    const char* text;
};

struct DemoOptions {
    std::string folder = "demo-output";
    int oversample = 8;
    std::string quality = "vhq";
};

void runDemo(Session& session, const DemoOptions& options) {
    const std::string& folder = options.folder;
    if (!isOversampleFactor(options.oversample))
        throw usageError("--oversample must be 1, 2, 4, 8 or 16");
    const ResamplerQuality quality = resamplerQualityNamed(options.quality);
    std::error_code error;
    fs::create_directories(fs::u8path(folder), error);
    if (error || !fs::is_directory(fs::u8path(folder)))
        throw failure("cannot create the output folder '" + folder + "'");
    const std::string base = (fs::u8path(folder) / "").u8string();

    const DemoPiece pieces[] = {
        {kCurveWaveshaperIdNarrow, "soft-clip", kSoftClipCurve},
        {kFormulaWaveshaperIdNarrow, "wavefolder", kFolderFormula},
    };

    // Every file is staged first and all are committed at the end, so a failure leaves the folder's
    // earlier files as they were. None may be the library or its description.
    OutputSet outputs(session.moduleFiles());
    const std::string signalPath = base + "test-signal.wav";
    const StagedOutput& signalFile = outputs.add(signalPath);
    struct PieceFiles {
        RenderJob job;
        AnalyzeJob analyze;
        std::string curvePng;
        const StagedOutput* sound;
        const StagedOutput* curve;
        const StagedOutput* spectrum;
    };
    std::vector<PieceFiles> files;
    for (const DemoPiece& piece : pieces) {
        PieceFiles f;
        f.job.module = piece.module;
        f.job.text = piece.text;
        f.job.output = base + piece.label + ".wav";
        f.job.oversample = options.oversample;
        f.job.quality = quality;
        f.curvePng = base + piece.label + "-curve.png";
        f.analyze.module = piece.module;
        f.analyze.text = piece.text;
        f.analyze.png = base + piece.label + "-spectrum.png";
        f.analyze.quality = quality;
        f.sound = &outputs.add(f.job.output);
        f.curve = &outputs.add(f.curvePng);
        f.spectrum = &outputs.add(f.analyze.png);
        files.push_back(std::move(f));
    }
    const std::string panel = base + "editor-panel.png";
    const StagedOutput& panelFile = outputs.add(panel);

    // The input, for comparison.
    writeAudioFile(signalFile, risingSine(48000, kTestSignalSeconds, 220.0, kTestSignalEndAmplitude),
                   SampleFormat::Float);

    std::ostringstream summary;
    summary << "demo: both waveshapers on the built-in test signal (220 Hz sine rising from 0 to 5 V over "
            << kTestSignalSeconds << " s" << oversampleNote(options.oversample, quality) << "), written to "
            << folder << "\n";
    for (std::size_t i = 0; i < files.size(); ++i) {
        const DemoPiece& piece = pieces[i];
        const PieceFiles& f = files[i];
        std::ostringstream notes;
        const RenderSummary s = runRenderJob(session, f.job, *f.sound, notes);
        const std::vector<float> table = writeTransferPng(session, s.moduleId, piece.text, *f.curve, 512);
        // The same sine analysed without and with oversampling, drawn side by side; without
        // oversampling asked for, only the plain analysis, which is what the renders did.
        const AnalyzeSummary plain = runAnalyzeJob(session, f.analyze, nullptr);
        std::vector<SpectrumPanel> panels = {spectrumPanel(f.analyze, plain)};
        AnalyzeJob oversampled = f.analyze;
        oversampled.oversample = options.oversample;
        AnalyzeSummary a = plain;
        if (options.oversample > 1) {
            a = runAnalyzeJob(session, oversampled, nullptr);
            panels.push_back(spectrumPanel(oversampled, a));
        }
        writeSpectrumChart(*f.spectrum,
                           spectrumChart(session.catalog().processingModule(piece.module), f.analyze, plain,
                                         std::move(panels)),
                           900, 540);

        summary << "\n" << piece.label << ": " << s.moduleId << " with " << piece.text << "\n";
        printLevels(summary, "input ", s.inputLevels);
        printLevels(summary, "output", s.outputLevels);
        summary << "  0 V in gives " << formatFixed(static_cast<double>(table[256]) * 10.0, 4)
                << " V out, +5 V gives " << formatFixed(static_cast<double>(table[512]) * 10.0, 4) << " V\n"
                << "  5 V sine at " << formatFixed(a.frequency, 1) << " Hz: THD "
                << formatFixed(a.analysis.thdPercent, 2) << " %, DC " << formatFixed(a.analysis.dcVolts, 4)
                << " V, aliasing " << formatFixed(plain.analysis.aliasToSignalDb, 1)
                << " dB without oversampling";
        if (options.oversample > 1)
            summary << ", " << formatFixed(a.analysis.aliasToSignalDb, 1) << " dB at "
                    << oversampled.oversample << "x";
        summary << " (relative to the fundamental)\n"
                << "  module sleep requests " << s.report.sleepRequests << "\n"
                << "  wrote " << f.job.output << ", " << f.curvePng << ", " << f.analyze.png << "\n";
    }

    EditorSession editor(session.library(), pieces[0].module, kSoftClipCurve, 100, 100);
    writePng(panelFile, editor.paint().enlarged(4));
    outputs.commitAll();
    if (!session.quiet)
        std::cout << summary.str()
                  << "\neditor: the curve editor drawing the soft-clip curve, 100x100 pixels shown 4x\n"
                  << "  wrote " << panel << "\n"
                  << "\nAlso written: " << signalPath << " (the input)\n";
}

} // namespace

void addDemoCommand(CLI::App& app, Session& session) {
    auto options = std::make_shared<DemoOptions>();
    CLI::App* command = app.add_subcommand(
        "demo",
        "Both waveshapers on the built-in test signal with a soft-clip curve and a wavefolder formula: WAVs, "
        "transfer curves, spectra without and with oversampling and the editor panel, with a summary");
    command->add_option("-o,--out", options->folder, "output folder")
        ->check(fileName())
        ->capture_default_str();
    addOversampleOptions(*command, options->oversample, options->quality);
    command->callback([&session, options] { runDemo(session, *options); });
}

} // namespace shaperhost
