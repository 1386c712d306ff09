// Charts a person can read: the transfer curve of a table and spectra of shaped sines, with numbered
// axes, units, a title and a legend, drawn with cairo in the program's own copy of DejaVu Sans and
// written as PNG.
#pragma once

#include <string>
#include <vector>

#include "cli/output_file.h"

namespace shaperhost {

struct TransferChart {
    std::string title;        // e.g. the module's name
    std::string subtitle;     // e.g. the module text
    std::vector<float> table; // the 513 entries, sample units
};

struct SpectrumPanel {
    std::string label;               // above the panel, e.g. "no oversampling"
    std::vector<double> decibels;    // bins 0..N/2, dBFS
    std::vector<char> binIsHarmonic; // per bin
    std::vector<char> binIsAlias;    // per bin: a harmonic from above half the rate folded here
    double sampleRate = 48000.0;
};

struct SpectrumChart {
    std::string title;
    std::string subtitle;
    std::vector<SpectrumPanel> panels; // drawn side by side
};

// Square picture of size x size pixels, to the staging file of `output`.
void writeTransferChart(const StagedOutput& output, const TransferChart& chart, int size);
// Each panel panelWidth x height pixels, side by side, to the staging file of `output`.
void writeSpectrumChart(const StagedOutput& output, const SpectrumChart& chart, int panelWidth, int height);

} // namespace shaperhost
