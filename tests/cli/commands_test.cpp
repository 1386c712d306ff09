// The program's other commands and its answers to bad input: exit codes, messages, and no output file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "host/plugin_library.h"

namespace {

using namespace clitest;

class ShaperhostCommands : public ProgramTest {};

TEST_F(ShaperhostCommands, ListConfirmsEveryDescribedModuleWithTheFactory) {
    const RunResult r = run({"list"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* line :
         {"Vedivizor Arirezudez3  kind 0 (processing)", "VU Reridezizi2D  kind 0 (processing)",
          "Vedivizor Arirezudez3  kind 1 (editor)", "SDK version 30800"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
    std::size_t confirmed = 0;
    for (std::size_t at = r.out.find("createInstance2: ok"); at != std::string::npos;
         at = r.out.find("createInstance2: ok", at + 1))
        ++confirmed;
    EXPECT_EQ(confirmed, 3u);
}

TEST_F(ShaperhostCommands, ListFailsForADescribedModuleTheLibraryDoesNotCreate) {
    writeText(path("desc.json"), R"({"modules": [
        {"id": "VU Reridezizi2D", "kind": 0, "pins": []},
        {"id": "VU Reridezizi2D", "kind": 1, "pins": []}]})");
    const RunResult r = run({"--description", path("desc.json"), "list"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("VU Reridezizi2D  kind 1 (editor)  \"VU Reridezizi2D\"  createInstance2: FAILED"),
              std::string::npos)
        << r.out;
}

// Row i of the CSV: index, input volts, output volts, table value.
std::vector<double> csvRow(const std::string& csv, int row) {
    std::istringstream lines(csv);
    std::string line;
    for (int i = 0; i <= row + 1 && std::getline(lines, line); ++i) {
    }
    std::vector<double> values;
    std::istringstream cells(line);
    std::string cell;
    while (std::getline(cells, cell, ','))
        values.push_back(std::stod(cell));
    return values;
}

TEST_F(ShaperhostCommands, TableWritesTheSharedTableAndWarnsWhenTheCurveMissesZero) {
    struct Case {
        const char* module;
        const char* text;
        double slope;  // output volts per input volt
        double offset; // output volts at 0 V
    };
    const Case cases[] = {
        {"Vedivizor Arirezudez3", kIdentityCurve, 1.0, 0.0},
        {"Curve Waveshaper", "(-5,-4)(-4,-3)(-3,-2)(-2,-1)(-1,0)(0,1)(1,2)(2,3)(3,4)(4,5)(5,6)", 1.0, 1.0},
        {"VU Reridezizi2D", "x*0.5", 0.5, 0.0},
        {"formula waveshaper", "2-x", -1.0, 2.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const RunResult r =
            run({"table", "-m", c.module, "-t", c.text, "--csv", path("t.csv"), "--png", path("t.png")});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err.find("does not pass through 0 V") != std::string::npos, c.offset != 0.0) << r.err;
        const std::string csv = readText(path("t.csv"));
        EXPECT_EQ(csv.rfind("index,input_volts,output_volts,table_value\n", 0), 0u);
        for (int i : {0, 1, 255, 256, 257, 400, 512}) {
            const std::vector<double> row = csvRow(csv, i);
            ASSERT_EQ(row.size(), 4u) << "row " << i;
            const double volts = i * 10.0 / 512.0 - 5.0;
            EXPECT_EQ(row[0], i);
            EXPECT_EQ(row[1], volts);
            EXPECT_NEAR(row[2], c.offset + c.slope * volts, 1e-5) << "row " << i;
            EXPECT_NEAR(row[3] * 10.0, row[2], 1e-6) << "row " << i;
        }
        int width = 0;
        int height = 0;
        ASSERT_TRUE(readPngSize(path("t.png"), &width, &height));
        EXPECT_EQ(width, 512);
        EXPECT_EQ(height, 512);
    }
}

TEST_F(ShaperhostCommands, TransferChartsCarryTitleTickLabelsAndTheCurve) {
    const RunResult r =
        run({"table", "-m", "Curve Waveshaper", "-t", kIdentityCurve, "--png", path("t.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Picture chart;
    ASSERT_TRUE(readPng(path("t.png"), &chart));
    ASSERT_EQ(chart.width, 512);
    // Text is near-black; the plot's own lines are grey or blue. Count dark pixels in the title band,
    // in the margin left of the plot that holds the output tick labels, and the curve's blue.
    auto dark = [&](int x0, int y0, int x1, int y1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const uint32_t c = chart.pixel(x, y);
                n += (c >> 16) < 90 && ((c >> 8) & 0xFF) < 90 && (c & 0xFF) < 90;
            }
        return n;
    };
    EXPECT_GT(dark(0, 0, chart.width, 30), 300) << "no title";
    EXPECT_GT(dark(20, 80, 62, 450), 50) << "no tick labels on the output axis";
    EXPECT_GT(dark(0, 470, chart.width, chart.height), 60) << "no tick labels or name on the input axis";
    int blue = 0;
    for (int y = 0; y < chart.height; ++y)
        for (int x = 0; x < chart.width; ++x) {
            const uint32_t c = chart.pixel(x, y);
            blue += (c >> 16) < 60 && ((c >> 8) & 0xFF) > 60 && ((c >> 8) & 0xFF) < 130 && (c & 0xFF) > 150;
        }
    EXPECT_GT(blue, 500) << "no transfer curve";
}

TEST_F(ShaperhostCommands, AnalyzeMeasuresDcAndHarmonicsOfAKnownPolynomial) {
    // 2 V sine through x + x^2/10: 2 sin + 0.4 sin^2 = 0.2 V DC + 2 V fundamental - 0.2 V second harmonic.
    const RunResult r =
        run({"analyze", "-m", "VU Reridezizi2D", "-t", "x+x*x/10", "--level", "2", "--png", path("s.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto valueAfter = [&](const std::string& label) {
        const std::size_t at = r.out.find(label);
        return at == std::string::npos ? -1e9 : std::stod(r.out.substr(at + label.size()));
    };
    EXPECT_NEAR(valueAfter("DC offset"), 0.2, 1e-3) << r.out;
    EXPECT_NEAR(valueAfter("fundamental"), 2.0, 1e-3) << r.out;
    EXPECT_NEAR(valueAfter("THD"), 10.0, 0.05) << r.out;
    int width = 0;
    int height = 0;
    EXPECT_TRUE(readPngSize(path("s.png"), &width, &height));
}

TEST_F(ShaperhostCommands, DemoWritesReadableSoundsAndPictures) {
    const RunResult r = run({"demo", "--out", path("demo")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* wav : {"demo/test-signal.wav", "demo/soft-clip.wav", "demo/wavefolder.wav"}) {
        Sound sound;
        EXPECT_TRUE(readSound(path(wav), &sound)) << wav;
        EXPECT_EQ(sound.samples.size(), 96000u) << wav;
    }
    for (const char* png :
         {"demo/soft-clip-curve.png", "demo/wavefolder-curve.png", "demo/soft-clip-spectrum.png",
          "demo/wavefolder-spectrum.png", "demo/editor-panel.png"}) {
        int width = 0;
        int height = 0;
        EXPECT_TRUE(readPngSize(path(png), &width, &height)) << png;
    }
    EXPECT_NE(r.out.find("THD"), std::string::npos);
    // The spectra show the sine without and with oversampling side by side, and the summary says how
    // much aliasing each has: oversampling must lower it.
    int width = 0;
    int height = 0;
    ASSERT_TRUE(readPngSize(path("demo/soft-clip-spectrum.png"), &width, &height));
    EXPECT_EQ(width, 2 * 900);
    const std::size_t at = r.out.find("aliasing ");
    ASSERT_NE(at, std::string::npos) << r.out;
    const double plain = std::stod(r.out.substr(at + 9));
    const std::size_t second = r.out.find("without oversampling, ", at);
    ASSERT_NE(second, std::string::npos) << r.out;
    const double oversampled = std::stod(r.out.substr(second + 22));
    EXPECT_LT(oversampled, plain - 20.0) << r.out;
}

using BadCall = std::vector<std::string>;

TEST_F(ShaperhostCommands, DemoWithoutOversamplingReportsAndDrawsOnlyWhatItRendered) {
    const RunResult r = run({"demo", "--out", path("demo"), "--oversample", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find("8x"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("oversampled"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("dB without oversampling (relative to the fundamental)"), std::string::npos)
        << r.out;
    int width = 0;
    int height = 0;
    ASSERT_TRUE(readPngSize(path("demo/soft-clip-spectrum.png"), &width, &height));
    EXPECT_EQ(width, 900) << "one panel: the spectrum without oversampling";
}

TEST_F(ShaperhostCommands, ChartsBelowTheirMinimumSizeAreRefused) {
    const BadCall small = {"table", "-m", "Curve Waveshaper", "--plot-size", "319", "--png", path("t.png")};
    RunResult r = run(small);
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find("at least 320 pixels"), std::string::npos) << r.err;
    EXPECT_FALSE(exists("t.png"));
    r = run({"table", "-m", "Curve Waveshaper", "--plot-size", "320", "--png", path("t.png")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    int width = 0;
    int height = 0;
    ASSERT_TRUE(readPngSize(path("t.png"), &width, &height));
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 320);
}

TEST_F(ShaperhostCommands, PicturesAreWrittenOnlyUnderNamesThatSayPng) {
    const BadCall jpegNames[] = {
        {"table", "-m", "Curve Waveshaper", "--png", path("t.jpg")},
        {"analyze", "-m", "Curve Waveshaper", "--png", path("t.jpg")},
        {"editor", "--png", path("t.jpg")},
    };
    for (const BadCall& call : jpegNames) {
        const RunResult r = run(call);
        EXPECT_EQ(r.exitCode, 2) << call[0] << ": " << r.err;
        EXPECT_NE(r.err.find(".png"), std::string::npos) << call[0] << ": " << r.err;
        EXPECT_FALSE(exists("t.jpg")) << call[0];
    }
    const RunResult r = run({"table", "-m", "Curve Waveshaper", "--png", path("T.PNG")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(exists("T.PNG"));
}

struct BadInput {
    const char* name;
    std::vector<std::string> args; // "@" stands for the test folder, "%" for the program folder
    int exitCode;
    const char* message;
};

TEST_F(ShaperhostCommands, BadInputGivesItsErrorAndLeavesNoOutput) {
    writeText(path("notes.txt"), "this is not audio\n");
    writeText(path("blocker"), "a file where a folder should be\n");
    const std::vector<short> silence(100, 0);
    writePcm16(path("in.wav"), 1, 48000, silence);
    const BadInput cases[] = {
        {"unknown module",
         {"render", "-m", "No Such Module", "-o", "@/out.wav"},
         2,
         "unknown module 'No Such Module'"},
        {"editor kind as processing",
         {"table", "-m", "Curve Editor", "--csv", "@/out.wav"},
         2,
         "unknown module"},
        {"missing input",
         {"render", "-m", "VU Reridezizi2D", "-i", "@/missing.wav", "-o", "@/out.wav"},
         1,
         "does not exist"},
        {"unsupported input",
         {"render", "-m", "VU Reridezizi2D", "-i", "@/notes.txt", "-o", "@/out.wav"},
         1,
         "not a supported audio file"},
        {"text as input file",
         {"render", "-m", "VU Reridezizi2D", "-i", "(-5,-5)(5,5)", "-o", "@/out.wav"},
         1,
         "looks like a module text"},
        {"text as text file",
         {"render", "-m", "VU Reridezizi2D", "--text-file", "tanh(x)*2", "-o", "@/out.wav"},
         2,
         "looks like a module text"},
        {"output folder missing",
         {"render", "-m", "VU Reridezizi2D", "-o", "@/blocker/out.wav"},
         1,
         "cannot write"},
        {"output format unknown", {"render", "-m", "VU Reridezizi2D", "-o", "@/out.mp3"}, 2, "use .wav"},
        {"float flac",
         {"render", "-m", "VU Reridezizi2D", "-o", "@/out.flac", "--format", "float"},
         2,
         "FLAC holds no float"},
        {"malformed text-at",
         {"render", "-m", "VU Reridezizi2D", "--text-at", "soon:x", "-o", "@/out.wav"},
         2,
         "not a time"},
        {"block size zero",
         {"render", "-m", "VU Reridezizi2D", "-b", "0", "-o", "@/out.wav"},
         2,
         "block-size"},
        {"unknown option", {"render", "-m", "VU Reridezizi2D", "--loud", "-o", "@/out.wav"}, 2, "--loud"},
        {"table into missing folder",
         {"table", "-m", "VU Reridezizi2D", "--csv", "@/blocker/out.wav"},
         1,
         "cannot write"},
        {"malformed drag", {"editor", "--drag", "50;50", "--png", "@/out.png"}, 2, "--drag expects"},
        {"library not loadable",
         {"--library", "@/notes.txt", "--description", "%waveshapers.json", "render", "-m", "VU Reridezizi2D",
          "-o", "@/out.wav"},
         1,
         "cannot load the module library"},
        {"description missing",
         {"--description", "@/none.json", "list"},
         1,
         "cannot open the module description"},
    };
    for (const BadInput& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args;
        for (std::string a : c.args) {
            if (a[0] == '@')
                a = folder + a.substr(1);
            else if (a[0] == '%')
                a = mphost::PluginLibrary::programFolder() + a.substr(1);
            args.push_back(a);
        }
        const RunResult r = run(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(exists("out.wav"));
        EXPECT_FALSE(exists("out.mp3"));
        EXPECT_FALSE(exists("out.flac"));
    }
    // Only the files the test made: no temporary file stayed behind.
    EXPECT_EQ(files().size(), 3u);
}

struct NoteCase {
    const char* command;
    const char* module;
    const char* text;
    const char* note; // empty: the text is taken as written and no note may appear
};

TEST_F(ShaperhostCommands, LenientTextsGetOneNoteSayingWhatTheModuleDoes) {
    const char* const formula = "VU Reridezizi2D";
    const char* const curve = "Vedivizor Arirezudez3";
    const std::string twelve = std::string(kIdentityCurve) + "(6.0,6.0)";
    const std::string infinite = identityWith(3, "(-2,inf)");
    const NoteCase cases[] = {
        {"table", formula, "0", ""},
        {"render", formula, "0", ""},
        {"render", formula, "x*0", ""},
        {"table", formula, "tanh(2*x)/tanh(2)*5", ""},
        {"table", formula, "x y", "stops before \"y\""},
        {"analyze", formula, "(x+1)*(x-1) 2", "stops before \"2\""},
        {"render", formula, "x)", "stops before \")\""},
        {"table", formula, "tanh(x", "lacks 1 closing \")\""},
        {"table", formula, "1/x", "at 1 of the 513 table points (first at x = 0 V, error 3"},
        {"render", formula, "foo",
         "cannot be evaluated (error 4, unknown variable): the module outputs 0 V everywhere"},
        {"table", formula, "(x+1", "error 2"},
        {"table", curve, kIdentityCurve, ""},
        {"render", curve, kIdentityCurve, ""},
        {"table", curve, "(0,1)", "has 1 of 11 points: the module repeats the last one"},
        {"table", curve, "(-5,-5)(5,5", "point 2 lacks its \")\": the module ignores the text"},
        {"analyze", curve, twelve.c_str(), "goes on after its 11th point"},
        {"table", curve, infinite.c_str(), "point 4 is not a finite number"},
    };
    for (const NoteCase& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + c.text);
        std::vector<std::string> args = {c.command, "-m", c.module, "-t", c.text};
        if (std::string(c.command) == "render")
            args.insert(args.end(), {"-o", path("out.wav")});
        if (std::string(c.command) == "table")
            args.insert(args.end(), {"--csv", path("out.csv")});
        const RunResult r = run(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        // Warnings (a tone moved, a constant output without a fundamental) are not notes.
        std::size_t notes = 0;
        for (std::size_t at = r.err.find("note:"); at != std::string::npos; at = r.err.find("note:", at + 1))
            ++notes;
        if (*c.note == '\0') {
            EXPECT_EQ(r.err.find("note:"), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(notes, 1u) << r.err;
            EXPECT_NE(r.err.find(c.note), std::string::npos) << r.err;
        }
        // "The output is silent" only where the module really outputs 0 V for every input.
        EXPECT_EQ(r.err.find("silent") != std::string::npos, r.err.find("everywhere") != std::string::npos);
    }
}

TEST_F(ShaperhostCommands, AFailedRenderLeavesAnExistingOutputUntouched) {
    writeText(path("out.wav"), "KEEP");
    writeText(path("notes.txt"), "this is not audio\n");
    const RunResult r =
        run({"render", "-m", "VU Reridezizi2D", "-i", path("notes.txt"), "-o", path("out.wav")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(readText(path("out.wav")), "KEEP");
    EXPECT_EQ(files().size(), 2u);
}

// File names are UTF-8 text on every system: a folder and files with letters beyond ASCII are read and
// written under exactly those names.
TEST_F(ShaperhostCommands, FileNamesBeyondAsciiAreReadAndWrittenAsGiven) {
    const std::string folderName = "Kl\xC3\xA4nge";                   // "Klänge"
    const std::string in = folderName + "/eing\xC3\xA4nge.wav";       // "eingänge.wav"
    const std::string text = folderName + "/kurve f\xC3\xBCr x.txt";  // "kurve für x.txt"
    const std::string out = folderName + "/\xCE\xB1\xCF\x89.wav";     // "αω.wav"
    const std::string csv = folderName + "/tabelle \xE2\x82\xAC.csv"; // "tabelle €.csv"
    std::filesystem::create_directories(std::filesystem::u8path(path(folderName)));
    writePcm16(path(in), 1, 48000, std::vector<short>(480, 8000));
    writeText(path(text), "x/2");
    const RunResult r =
        run({"render", "-m", "VU Reridezizi2D", "--text-file", path(text), "-i", path(in), "-o", path(out)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Sound sound;
    ASSERT_TRUE(readSound(path(out), &sound));
    ASSERT_EQ(sound.samples.size(), 480u);
    // 8000/32768 full scale is 2.44 V; halved by x/2.
    EXPECT_NEAR(sound.samples[100], 8000.0 / 32768.0 / 2.0, 1e-6);
    const RunResult t = run({"table", "-m", "VU Reridezizi2D", "-t", "x", "--csv", path(csv)});
    ASSERT_EQ(t.exitCode, 0) << t.err;
    EXPECT_EQ(readText(path(csv)).rfind("index,", 0), 0u);
}

} // namespace
