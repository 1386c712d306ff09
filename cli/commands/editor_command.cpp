// editor: the curve editor panel drawn by the editor itself, dragged with window messages, and the
// text it sends routed into the processing module as a host routes one edit.
#include <iostream>
#include <memory>
#include <sstream>

#include "cli/analysis/analyze_job.h"
#include "cli/commands/command_line.h"
#include "cli/commands/printing.h"
#include "cli/common/cli_error.h"
#include "cli/editor/editor_session.h"
#include "cli/render/module_table.h"
#include "cli/render/render_job.h"
#include "cli/render/test_signals.h"

namespace shaperhost {

namespace {

struct EditorOptions {
    std::string module;
    TextOptions text;
    std::string size = "100x100";
    int zoom = 1;
    std::string png;
    std::vector<std::string> drags;
    int steps = 4;
    // Rendering with the edit.
    std::string render;
    std::string input;
    double editAt = 0.0;
    int32_t blockSize = 64;
    std::string format = "float";
    bool window = false;
};

void parseSize(const std::string& value, int* width, int* height) {
    const std::size_t x = value.find('x');
    double w = 0.0;
    double h = 0.0;
    // The range is checked before the whole-number test, which converts (NaN and huge values must not).
    if (x == std::string::npos || !readNumber(value.substr(0, x), &w) ||
        !readNumber(value.substr(x + 1), &h) || !(w >= 1 && w <= 4096) || !(h >= 1 && h <= 4096) ||
        w != static_cast<int>(w) || h != static_cast<int>(h))
        throw usageError("--size expects WIDTHxHEIGHT in pixels (1 to 4096), e.g. 100x100, not '" + value +
                         "'");
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
}

// The enlarged picture is bounded before any memory is taken for it.
void checkPictureSize(int width, int height, int zoom) {
    const long long pixels = static_cast<long long>(width) * height * zoom * zoom;
    if (pixels > kMaxImagePixels)
        throw usageError("--size " + std::to_string(width) + "x" + std::to_string(height) + " with --zoom " +
                         std::to_string(zoom) + " makes a picture of " + std::to_string(pixels) +
                         " pixels; at most " + std::to_string(kMaxImagePixels) +
                         " (4096x4096) are written: use a smaller size or zoom");
}

const ModuleDescription& editorModule(const ModuleCatalog& catalog, const std::string& which) {
    if (which.empty()) {
        for (const ModuleDescription& m : catalog.modules) {
            if (m.kind == 1)
                return m;
        }
        throw failure("the description file lists no editor module");
    }
    if (const ModuleDescription* m = catalog.find(which, 1))
        return *m;
    throw usageError("unknown editor module '" + which + "' (see 'shaperhost list' for kind 1)");
}

void runEditor(Session& session, const EditorOptions& options) {
    std::vector<ReadFile> reads = session.moduleFiles();
    reads.push_back({options.text.file, "the text file"});
    if (!options.render.empty())
        reads.push_back({options.input, "the input file"});
    refuseSameFiles(reads, {options.png, options.render});
    const ModuleCatalog& catalog = session.catalog();
    const ModuleDescription& module = editorModule(catalog, options.module);
    const ModuleDescription* processing = catalog.find(module.id, 0);
    int width = 0;
    int height = 0;
    parseSize(options.size, &width, &height);
    if (!options.png.empty())
        checkPictureSize(width, height, options.zoom);
    std::vector<Drag> drags;
    for (const std::string& value : options.drags)
        drags.push_back(parseDrag(value));
    const std::string fallback = processing != nullptr ? processing->defaultText() : module.defaultText();
    const std::string text = moduleText(options.text.text, options.text.file, fallback);
    if (options.window) {
        if (!options.png.empty() || !drags.empty() || !options.render.empty())
            throw usageError(
                "--window shows the editor for the user's own drags: no --png, --drag or --render");
        showInteractiveEditor(session.library(), module.id, text, width, height);
        return;
    }
    if (!options.render.empty() && processing == nullptr)
        throw usageError("--render: no processing module shares the editor's identifier '" + module.id + "'");
    RenderJob job;
    if (!options.render.empty()) {
        job.module = processing->id;
        job.text = text;
        job.input = options.input;
        job.output = options.render;
        job.blockSize = options.blockSize;
        job.format = sampleFormatNamed(options.format);
        checkRenderJob(job);
    }
    // Every output is checked and staged before the work; all are committed together at the end.
    OutputSet outputs;
    const StagedOutput* pngFile = options.png.empty() ? nullptr : &outputs.add(options.png);
    const StagedOutput* renderFile = options.render.empty() ? nullptr : &outputs.add(options.render);
    // The input is opened once, here: its sample rate places the edits; its samples are read while
    // rendering.
    std::unique_ptr<AudioReader> input;
    if (renderFile != nullptr && !job.input.empty())
        input = std::make_unique<AudioReader>(job.input);
    const int64_t rate = input ? input->sampleRate() : job.sampleRate;

    // With --quiet only the curve text, the command's result, is printed.
    std::ostringstream unused;
    std::ostream& out = session.quiet ? unused : std::cout;
    EditorSession editor(session.library(), module.id, text, width, height);
    out << "editor: " << module.id << " (kind 1), panel " << width << "x" << height << " pixels\n";
    for (const Drag& d : drags) {
        const std::size_t sent = editor.drag(d, options.steps);
        out << "drag " << d.fromX << "," << d.fromY << " -> " << d.toX << "," << d.toY << " in "
            << options.steps << " moves: " << sent << " text(s) sent"
            << (sent == 0 ? " (no point under the press, or no change at 0.1 V)" : "") << "\n";
    }
    const std::vector<std::string> sent = editor.sentTexts();
    std::cout << "curve text: " << (sent.empty() ? text : sent.back()) << "\n";
    if (pngFile != nullptr)
        writePng(*pngFile, editor.paint().enlarged(options.zoom));
    if (renderFile == nullptr) {
        outputs.commitAll();
        if (pngFile != nullptr)
            out << "wrote " << options.png << " (" << width * options.zoom << "x" << height * options.zoom
                << ")\n";
        return;
    }

    // Each text the editor sent reaches pin 0 as a value event at the start of a later block, one block
    // after the other, from the block at --edit-at on (never the first block, which carries the start).
    int64_t block = (static_cast<int64_t>(options.editAt * static_cast<double>(rate)) + job.blockSize - 1) /
                    job.blockSize;
    if (block < 1)
        block = 1;
    const int64_t firstBlock = block;
    for (const std::string& value : sent)
        job.extra.push_back({block++ * job.blockSize, pinText(value)});
    const RenderSummary s = runRenderJob(session, job, *renderFile, std::cerr, input.get());
    outputs.commitAll();
    if (pngFile != nullptr)
        out << "wrote " << options.png << " (" << width * options.zoom << "x" << height * options.zoom
            << ")\n";
    if (!sent.empty())
        out << "edit routed: " << sent.size() << " text(s) from sendPinValue went to pin 0 of " << job.module
            << " as value events at blocks " << firstBlock << " to " << block - 1 << " (sample "
            << firstBlock * job.blockSize << " on)\n";
    printLevels(out, "input ", s.inputLevels);
    printLevels(out, "output", s.outputLevels);
    out << "  blocks " << s.report.blocks << ", text events " << s.report.textEvents
        << ", module sleep requests " << s.report.sleepRequests << "\n"
        << "wrote " << job.output << " (" << sampleFormatName(job.format) << ")\n";
}

} // namespace

void addEditorCommand(CLI::App& app, Session& session) {
    auto options = std::make_shared<EditorOptions>();
    CLI::App* command = app.add_subcommand(
        "editor",
        "Draw the curve editor panel as PNG, drag its points with mouse messages, print the curve text it "
        "sends and, with --render, route that text into the processing module");
    command->add_option("-m,--module", options->module, "editor module (default: the library's editor)");
    options->text.addTo(*command, "curve points the host gives the editor");
    command->add_option("--size", options->size, "panel size WIDTHxHEIGHT in pixels")->capture_default_str();
    command->add_option("--zoom", options->zoom, "enlarge the PNG by this factor")
        ->check(wholeNumberRange(1, 16))
        ->capture_default_str();
    command->add_option("--png", options->png, "PNG file for the panel after the drags")
        ->check(fileName())
        ->check(CLI::Validator(pngNameProblem, "FILE.png"));
    command->add_option("--drag", options->drags,
                        "X0,Y0:X1,Y1: press at X0,Y0, move to X1,Y1, release (pixels; repeatable)");
    command->add_option("--steps", options->steps, "mouse moves per drag")
        ->check(wholeNumberRange(1, 1000))
        ->capture_default_str();
    command
        ->add_option("--render", options->render,
                     "also render audio through the processing module, with the "
                     "edit arriving as pin-0 value events of later blocks")
        ->check(fileName());
    command->add_option("-i,--in", options->input, "input audio file for --render (default: the test signal)")
        ->check(fileName());
    command->add_option("--edit-at", options->editAt, "time in seconds at which the edit reaches the module")
        ->check(numberRange(0.0, kMaxSeconds))
        ->capture_default_str();
    command->add_option("-b,--block-size", options->blockSize, "samples per processBlock call")
        ->check(wholeNumberRange(1, 65536))
        ->capture_default_str();
    restrictToChoices(command->add_option("--format", options->format, "output samples"),
                      {"float", "pcm16", "pcm24"})
        ->capture_default_str();
    if (interactiveEditorAvailable())
        command->add_flag("--window", options->window,
                          "show the editor in a window of its own and print every text it sends until the "
                          "window is closed");
    command->callback([&session, options] { runEditor(session, *options); });
}

} // namespace shaperhost
