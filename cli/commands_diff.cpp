// diff: compares two audio files sample by sample, for checks against a golden file.
#include <cmath>
#include <iostream>
#include <limits>

#include "cli/cli_error.h"
#include "cli/json_reports.h"
#include "cli/media_jobs.h"

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
    std::string mismatch;   // why they are not comparable
    double peak = 0.0;      // largest difference, sample units
    double rms = 0.0;
    int64_t firstFrame = -1; // first frame where any channel differs, -1 when none
    int firstChannel = -1;
    int64_t differing = 0; // samples that differ
};

DiffResult compare(const AudioBuffer& a, const AudioBuffer& b) {
    DiffResult r;
    if (a.channels != b.channels)
        r.mismatch = "channels " + std::to_string(a.channels) + " and " + std::to_string(b.channels);
    else if (a.sampleRate != b.sampleRate)
        r.mismatch = "sample rates " + std::to_string(a.sampleRate) + " Hz and " +
                     std::to_string(b.sampleRate) + " Hz";
    else if (a.frames() != b.frames())
        r.mismatch =
            "lengths " + std::to_string(a.frames()) + " and " + std::to_string(b.frames()) + " frames";
    r.comparable = r.mismatch.empty();
    // Over the common part even when the files differ in shape, so the first difference is still told.
    const int channels = std::min(a.channels, b.channels);
    const int64_t frames = std::min(a.frames(), b.frames());
    double sum = 0.0;
    for (int64_t n = 0; n < frames; ++n) {
        for (int c = 0; c < channels; ++c) {
            const double x = a.samples[static_cast<std::size_t>(n * a.channels + c)];
            const double y = b.samples[static_cast<std::size_t>(n * b.channels + c)];
            // NaN against anything, NaN included, counts as a difference of full infinity.
            const double d = (std::isnan(x) || std::isnan(y))
                                 ? (std::isnan(x) && std::isnan(y) ? 0.0 : INFINITY)
                             : x == y ? 0.0
                                      : std::fabs(x - y);
            if (d == 0.0)
                continue;
            ++r.differing;
            if (r.firstFrame < 0) {
                r.firstFrame = n;
                r.firstChannel = c;
            }
            r.peak = std::max(r.peak, d);
            sum += d * d;
        }
    }
    const int64_t count = frames * channels;
    r.rms = count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
    return r;
}

std::string dbText(double value) {
    return value > 0.0 ? formatFixed(20.0 * std::log10(value), 2) + " dBFS" : "-inf dBFS";
}

void runDiff(const DiffOptions& options) {
    double tolerance = -std::numeric_limits<double>::infinity();
    if (!options.tolerance.empty())
        tolerance = readLevelDb(options.tolerance, "--tolerance");
    const AudioBuffer a = readAudioFile(options.a);
    const AudioBuffer b = readAudioFile(options.b);
    const DiffResult r = compare(a, b);
    const double peakDb = r.peak > 0.0 ? 20.0 * std::log10(r.peak) : -std::numeric_limits<double>::infinity();
    const bool within = r.comparable && peakDb <= tolerance;

    if (options.json) {
        Json doc;
        doc["command"] = "diff";
        doc["a"] = options.a;
        doc["b"] = options.b;
        doc["comparable"] = r.comparable;
        doc["mismatch"] = r.comparable ? Json(nullptr) : Json(r.mismatch);
        doc["peak_difference"] = r.peak;
        doc["peak_difference_dbfs"] = decibelsJson(r.peak);
        doc["rms_difference"] = r.rms;
        doc["rms_difference_dbfs"] = decibelsJson(r.rms);
        doc["differing_samples"] = r.differing;
        doc["first_difference_frame"] = r.firstFrame >= 0 ? Json(r.firstFrame) : Json(nullptr);
        doc["first_difference_channel"] = r.firstChannel >= 0 ? Json(r.firstChannel) : Json(nullptr);
        doc["tolerance_dbfs"] = options.tolerance.empty() ? Json(nullptr) : Json(tolerance);
        doc["within_tolerance"] = within;
        printJson(doc);
    } else {
        std::cout << "diff: " << options.a << " against " << options.b << "\n";
        if (!r.comparable)
            std::cout << "  not comparable: " << r.mismatch << "\n";
        std::cout << "  peak difference " << dbText(r.peak) << ", RMS difference " << dbText(r.rms) << "\n";
        if (r.firstFrame >= 0)
            std::cout << "  first difference at frame " << r.firstFrame << " (channel " << r.firstChannel
                      << ", " << formatFixed(static_cast<double>(r.firstFrame) / a.sampleRate, 6) << " s), "
                      << r.differing << " samples differ\n";
        else
            std::cout << "  no sample differs\n";
        std::cout << (within ? "same" : "different")
                  << (options.tolerance.empty() ? " (no tolerance: identical samples required)"
                                                : " (tolerance " + formatFixed(tolerance, 2) + " dBFS)")
                  << "\n";
    }
    if (!within)
        throw CliError(kExitFailure, r.comparable ? "the files differ beyond the tolerance"
                                                  : "the files differ in " + r.mismatch);
}

} // namespace

void addDiffCommand(CLI::App& app) {
    auto options = std::make_shared<DiffOptions>();
    CLI::App* command = app.add_subcommand(
        "diff", "Compare two audio files sample by sample: peak and RMS difference in dBFS and the first "
                "difference; exit 0 when within the tolerance, 1 otherwise");
    command->add_option("a", options->a, "first audio file")->required();
    command->add_option("b", options->b, "second audio file")->required();
    command->add_option(
        "--tolerance", options->tolerance,
        "largest peak difference allowed, in dBFS (e.g. -96 or -96dB; default: none allowed)");
    command->add_flag("--json", options->json, "one JSON document on standard output instead of the text");
    command->callback([options] { runDiff(*options); });
}

} // namespace shaperhost
