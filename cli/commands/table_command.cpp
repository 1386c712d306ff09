// table: the lookup table a module builds from a text, as CSV or as a transfer chart.
#include <charconv>
#include <iostream>
#include <system_error>

#include "cli/commands/command_line.h"
#include "cli/commands/json_reports.h"
#include "cli/common/cli_error.h"
#include "cli/common/text_args.h"
#include "cli/modules/text_notes.h"
#include "cli/output/charts.h"
#include "cli/output/output_file.h"
#include "cli/output/plots.h"
#include "cli/render/module_table.h"

namespace shaperhost {

namespace {

struct TableOptions {
    std::string module;
    TextOptions text;
    std::string csv; // empty: standard output when nothing else is asked for
    std::string png;
    int plotSize = 512;
    bool json = false;
};

std::string tableCsv(const std::vector<float>& table) {
    std::string csv = "index,input_volts,output_volts,table_value\n";
    for (std::size_t i = 0; i < table.size(); ++i) {
        const double input = tableInputVolts(static_cast<int>(i));
        csv += std::to_string(i) + "," + formatDouble(input) + "," +
               formatDouble(static_cast<double>(table[i]) * kVoltsPerUnit) + "," + formatFloat(table[i]) +
               "\n";
    }
    return csv;
}

void runTable(Session& session, const TableOptions& options) {
    std::vector<ReadFile> reads = session.moduleFiles();
    reads.push_back({options.text.file, "the text file"});
    refuseSameFiles(reads, {options.csv == "-" ? std::string() : options.csv, options.png});
    const ModuleDescription& module = session.catalog().processingModule(options.module);
    const std::string text = moduleText(options.text.text, options.text.file, module.defaultText());
    // CSV goes to standard output when asked with "-", or when neither a picture nor JSON is asked for.
    const bool csvToOutput =
        options.csv == "-" || (options.csv.empty() && options.png.empty() && !options.json);
    if (options.json && options.csv == "-")
        throw usageError("--json and --csv - both want standard output: give --csv a file name");
    const std::vector<float> table = readModuleTable(session.library(), module.id, pinText(text));
    if (table.size() != static_cast<std::size_t>(kTableEntries))
        throw failure("the module obtained no table from the host");

    printTextNotes(std::cerr, module.id, text);
    if (table[256] != 0.0f)
        std::cerr << kProgramPrefix << "warning: the curve does not pass through 0 V: an input of 0 V gives "
                  << formatFixed(static_cast<double>(table[256]) * 10.0, 4)
                  << " V, so silence becomes a DC offset\n";

    // Both files are produced before either is committed, so a failure leaves both as they were.
    OutputSet outputs;
    const bool csvToFile = !options.csv.empty() && options.csv != "-";
    const StagedOutput* csvFile = csvToFile ? &outputs.add(options.csv) : nullptr;
    const StagedOutput* pngFile = options.png.empty() ? nullptr : &outputs.add(options.png);
    const std::string csv = tableCsv(table);
    if (csvFile != nullptr)
        writeTextFile(*csvFile, csv);
    if (pngFile != nullptr)
        writeTransferChart(*pngFile, {"Transfer curve: " + module.name, module.id + ", text: " + text, table},
                           options.plotSize);
    outputs.commitAll();

    // Notes about files written go to standard error when standard output carries data.
    std::ostream& notes = (csvToOutput || options.json) ? std::cerr : std::cout;
    if (csvToOutput)
        std::cout << csv;
    if (csvFile != nullptr && !session.quiet)
        notes << "wrote " << options.csv << " (" << kTableEntries << " table entries)\n";
    if (pngFile != nullptr && !session.quiet)
        notes << "wrote " << options.png << " (transfer curve, -5 V..+5 V in)\n";
    if (options.json)
        printJson(tableJson(module.id, text, table));
}

} // namespace

void addTableCommand(CLI::App& app, Session& session) {
    auto options = std::make_shared<TableOptions>();
    CLI::App* command = app.add_subcommand(
        "table",
        "Write a waveshaper's 513 table entries (-5 V..+5 V in) as CSV, read from the shared memory block "
        "the host gave it, and its transfer curve as PNG");
    command->add_option("-m,--module", options->module, "module identifier or name")->required();
    options->text.addTo(*command, "curve points or formula");
    command
        ->add_option("--csv", options->csv,
                     "CSV file to write, - for standard output (the default when nothing else is asked for)")
        ->check(fileName());
    command->add_flag("--json", options->json, "the table as one JSON document on standard output");
    command->add_option("--png", options->png, "PNG file for the transfer curve")
        ->check(fileName())
        ->check(CLI::Validator(pngNameProblem, "FILE.png"));
    command
        ->add_option("--plot-size", options->plotSize,
                     "plot width and height in pixels, " + std::to_string(kMinTransferChartSize) + " to 4096")
        ->check(CLI::Validator(
            [](const std::string& value) -> std::string {
                int size = 0;
                const char* end = value.data() + value.size();
                const auto read = std::from_chars(value.data(), end, size);
                if (read.ec != std::errc() || read.ptr != end || size > 4096)
                    return "must be a whole number of pixels up to 4096";
                if (size < kMinTransferChartSize)
                    return "a transfer chart needs at least " + std::to_string(kMinTransferChartSize) +
                           " pixels to fit its title, tick labels and legend";
                return {};
            },
            "PIXELS"))
        ->capture_default_str();
    command->callback([&session, options] { runTable(session, *options); });
}

} // namespace shaperhost
