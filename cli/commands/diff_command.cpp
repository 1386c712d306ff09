// diff: compares two audio files sample by sample, for checks against a golden file.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <new>
#include <vector>

#include "cli/analysis/analyze_job.h"
#include "cli/commands/command_line.h"
#include "cli/commands/json_reports.h"
#include "cli/commands/printing.h"
#include "cli/common/cli_error.h"
#include "cli/output/progress.h"
#include "cli/render/module_table.h"
#include "cli/render/render_job.h"
#include "cli/render/test_signals.h"

namespace shaperhost {

namespace {

struct DiffOptions {
    std::string a;
    std::string b;
    std::string tolerance; // dBFS of the peak difference; empty: the files must be identical
    bool json = false;
};

struct DiffResult {
    bool comparable = true; // same channels, rate and length
    std::string mismatch;   // why they are not comparable: "sample rates 44100 Hz and 48000 Hz"
    std::string property;   // which property differs: "sample_rate", "channels" or "frames"
    int64_t valueA = 0;     // and its value in each file
    int64_t valueB = 0;
    double peak = 0.0; // largest difference, sample units
    double rms = 0.0;
    int64_t firstFrame = -1; // first frame where any channel differs, -1 when none
    int firstChannel = -1;
    int64_t differing = 0; // samples that differ
};

// Files that differ in rate, channel count or length are not compared sample by sample: a sample of
// one would be set against a sample of the other that does not lie at the same time or channel.
bool checkComparable(const AudioReader& a, const AudioReader& b, DiffResult& r) {
    auto differs = [&r](const char* property, const std::string& text, int64_t x, int64_t y,
                        const std::string& unit) {
        r.comparable = false;
        r.property = property;
        r.valueA = x;
        r.valueB = y;
        r.mismatch = text + " " + std::to_string(x) + unit + " and " + std::to_string(y) + unit;
    };
    if (a.sampleRate() != b.sampleRate())
        differs("sample_rate", "sample rates", a.sampleRate(), b.sampleRate(), " Hz");
    else if (a.channels() != b.channels())
        differs("channels", "channel counts", a.channels(), b.channels(), "");
    else if (a.frames() != b.frames())
        differs("frames", "lengths", a.frames(), b.frames(), " frames");
    return r.comparable;
}

// Both files read piece by piece, so neither needs its size in memory.
void compareSamples(AudioReader& a, AudioReader& b, DiffResult& r, ProgressLine& progress) {
    constexpr int64_t kPiece = 8192;
    const int channels = a.channels();
    std::vector<float> x(static_cast<std::size_t>(kPiece * channels));
    std::vector<float> y(x.size());
    double sum = 0.0;
    int64_t frame = 0;
    while (frame < a.frames()) {
        const int64_t count = std::min(kPiece, a.frames() - frame);
        if (a.read(x.data(), count) != count || b.read(y.data(), count) != count)
            break;
        const std::size_t samples = static_cast<std::size_t>(count * channels);
        for (std::size_t i = 0; i < samples; ++i) {
            const double u = x[i];
            const double v = y[i];
            // NaN against anything, NaN included, counts as a difference of full infinity.
            const double d = (std::isnan(u) || std::isnan(v))
                                 ? (std::isnan(u) && std::isnan(v) ? 0.0 : INFINITY)
                             : u == v ? 0.0
                                      : std::fabs(u - v);
            if (d == 0.0)
                continue;
            ++r.differing;
            if (r.firstFrame < 0) {
                r.firstFrame = frame + static_cast<int64_t>(i) / channels;
                r.firstChannel = static_cast<int>(i % static_cast<std::size_t>(channels));
            }
            r.peak = std::max(r.peak, d);
            sum += d * d;
        }
        frame += count;
        progress.update(frame, a.frames());
    }
    const double count = static_cast<double>(frame) * channels;
    r.rms = count > 0 ? std::sqrt(sum / count) : 0.0;
}

std::string dbText(double value) {
    return value > 0.0 ? formatFixed(20.0 * std::log10(value), 2) + " dBFS" : "-inf dBFS";
}

// The tolerance is read as every level option is; a difference is a level at or below full scale.
double readTolerance(const std::string& given) {
    if (given.empty())
        return -std::numeric_limits<double>::infinity();
    const double tolerance = readLevelDb(given, "--tolerance");
    if (tolerance > 0.0)
        throw usageError("--tolerance must be a level in dBFS at or below 0, e.g. -96 or -96dB");
    return tolerance;
}

Json diffJson(const DiffOptions& options, const DiffResult& r, double tolerance, bool within) {
    Json doc;
    doc["command"] = "diff";
    doc["a"] = options.a;
    doc["b"] = options.b;
    doc["comparable"] = r.comparable;
    doc["mismatch"] = r.comparable ? Json(nullptr) : Json(r.mismatch);
    doc["mismatch_property"] = r.comparable ? Json(nullptr) : Json(r.property);
    doc["mismatch_values"] = r.comparable ? Json(nullptr) : Json::array({r.valueA, r.valueB});
    // Files that are not comparable have no sample difference: every figure of one is null.
    auto figure = [&r](const Json& value) { return r.comparable ? value : Json(nullptr); };
    doc["peak_difference"] = figure(r.peak);
    doc["peak_difference_dbfs"] = figure(decibelsJson(r.peak));
    doc["rms_difference"] = figure(r.rms);
    doc["rms_difference_dbfs"] = figure(decibelsJson(r.rms));
    doc["differing_samples"] = figure(r.differing);
    doc["first_difference_frame"] = r.firstFrame >= 0 ? Json(r.firstFrame) : Json(nullptr);
    doc["first_difference_channel"] = r.firstChannel >= 0 ? Json(r.firstChannel) : Json(nullptr);
    doc["tolerance_dbfs"] = options.tolerance.empty() ? Json(nullptr) : Json(tolerance);
    doc["within_tolerance"] = within;
    doc["same"] = within;
    return doc;
}

void printDiff(const DiffOptions& options, const DiffResult& r, double tolerance, bool within, int rate) {
    std::cout << "diff: " << inputName(options.a) << " against " << inputName(options.b) << "\n";
    if (!r.comparable) {
        std::cout << "  not comparable: the " << r.mismatch << " differ; no sample compared\n"
                  << "different\n";
        return;
    }
    std::cout << "  peak difference " << dbText(r.peak) << ", RMS difference " << dbText(r.rms) << "\n";
    if (r.firstFrame >= 0)
        std::cout << "  first difference at frame " << r.firstFrame << " (channel " << r.firstChannel << ", "
                  << formatFixed(static_cast<double>(r.firstFrame) / rate, 6) << " s), " << r.differing
                  << " samples differ\n";
    else
        std::cout << "  no sample differs\n";
    std::cout << (within ? "same" : "different")
              << (options.tolerance.empty() ? " (no tolerance: identical samples required)"
                                            : " (tolerance " + formatFixed(tolerance, 2) + " dBFS)")
              << "\n";
}

// Exit codes as cmp's: 0 the same, 1 different (a result, reported on standard output), 2 trouble.
void runDiff(Session& session, const DiffOptions& options) {
    const double tolerance = readTolerance(options.tolerance);
    if (options.a == kStandardStream && options.b == kStandardStream)
        throw usageError("standard input can be read only once: give '-' for one of the two files");
    DiffResult r;
    bool within = false;
    int rate = 1;
    try {
        AudioReader a(options.a);
        AudioReader b(options.b);
        rate = a.sampleRate();
        if (checkComparable(a, b, r)) {
            ProgressLine progress("comparing", !session.quiet && !options.json);
            compareSamples(a, b, r, progress);
        }
        within = r.comparable && (r.peak > 0.0 ? 20.0 * std::log10(r.peak) : -INFINITY) <= tolerance;
    } catch (const CliError& e) {
        throw CliError(kExitUsage, e.what(), e.usage);
    } catch (const std::bad_alloc&) {
        throw CliError(kExitUsage, "out of memory", false);
    }
    if (options.json)
        printJson(diffJson(options, r, tolerance, within));
    else if (!session.quiet)
        printDiff(options, r, tolerance, within, rate);
    if (!within)
        throw CliError(kExitFailure, "");
}

} // namespace

void addDiffCommand(CLI::App& app, Session& session) {
    auto options = std::make_shared<DiffOptions>();
    CLI::App* command = app.add_subcommand(
        "diff", "Compare two audio files sample by sample: peak and RMS difference in dBFS and the first "
                "difference. Files of different sample rates, channel counts or lengths are not comparable. "
                "Exit 0 when the same (within the tolerance), 1 when different or not comparable, 2 on "
                "trouble, as cmp");
    command->add_option("a", options->a, "first audio file (- for standard input)")
        ->required()
        ->check(fileName());
    command->add_option("b", options->b, "second audio file (- for standard input)")
        ->required()
        ->check(fileName());
    command->add_option(
        "--tolerance", options->tolerance,
        "largest peak difference allowed, in dBFS (e.g. -96 or -96dB; default: none allowed)");
    command->add_flag("--json", options->json, "one JSON document on standard output instead of the text");
    command->callback([&session, options] { runDiff(session, *options); });
}

} // namespace shaperhost
