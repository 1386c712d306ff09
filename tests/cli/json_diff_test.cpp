// Results for scripts: the JSON documents of list, table, analyze and render, and diff's verdicts.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace {

using namespace clitest;
using nlohmann::json;

class ShaperhostJson : public ProgramTest {
protected:
    // Runs the program and reads its whole standard output as one JSON document.
    json runJson(const std::vector<std::string>& args, int expectedExit = 0) {
        const RunResult r = run(args);
        EXPECT_EQ(r.exitCode, expectedExit) << r.err;
        try {
            return json::parse(r.out);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "not one JSON document: " << e.what() << "\n" << r.out;
            return json();
        }
    }
};

TEST_F(ShaperhostJson, ListTableAnalyzeAndRenderEachWriteOneDocument) {
    const json list = runJson({"list", "--json"});
    ASSERT_EQ(list.at("modules").size(), 3u);
    for (const json& m : list.at("modules")) {
        EXPECT_TRUE(m.at("created").get<bool>()) << m;
        EXPECT_EQ(m.at("pins").size(), m.at("kind") == 0 ? 3u : 1u) << m;
    }

    // The table of x + 1 (volts): entry i is input -5 + 10 i / 512, output one volt more.
    const json table = runJson({"table", "-m", "VU Reridezizi2D", "-t", "x+1", "--json"});
    ASSERT_EQ(table.at("entries").size(), 513u);
    for (int i : {0, 100, 256, 512}) {
        const json& e = table.at("entries").at(i);
        EXPECT_EQ(e.at("index"), i);
        EXPECT_DOUBLE_EQ(e.at("input_volts").get<double>(), -5.0 + 10.0 * i / 512);
        EXPECT_NEAR(e.at("output_volts").get<double>(), -4.0 + 10.0 * i / 512, 1e-5);
    }
    EXPECT_NEAR(table.at("zero_volts_gives_volts").get<double>(), 1.0, 1e-6);

    // 2 V through x + x^2/10: 0.2 V DC, fundamental 2 V, second harmonic 0.2 V (-20 dB).
    const json a = runJson({"analyze", "-m", "VU Reridezizi2D", "-t", "x+x*x/10", "--level", "2", "--json"});
    EXPECT_NEAR(a.at("dc_volts").get<double>(), 0.2, 1e-3);
    EXPECT_NEAR(a.at("fundamental_volts").get<double>(), 2.0, 1e-3);
    EXPECT_NEAR(a.at("thd_percent").get<double>(), 10.0, 0.01);
    EXPECT_NEAR(a.at("sinad_db").get<double>(), 20.0, 0.01);
    ASSERT_GE(a.at("harmonics").size(), 2u);
    EXPECT_EQ(a.at("harmonics").at(1).at("order"), 2);
    EXPECT_NEAR(a.at("harmonics").at(1).at("db").get<double>(), -20.0, 0.01);
    // Every harmonic below 24 kHz is listed: 999.76 Hz * 24 lies above it.
    EXPECT_EQ(a.at("harmonics").size(), 24u);
    EXPECT_EQ(a.at("warnings").size(), 1u); // 1000 Hz divides 48000 Hz

    const json r = runJson({"render", "-m", "Vedivizor Arirezudez3", "-o", path("id.wav"), "--json"});
    EXPECT_EQ(r.at("frames"), 96000);
    EXPECT_EQ(r.at("sample_rate"), 48000);
    EXPECT_EQ(r.at("sleep_requests"), 0);
    EXPECT_EQ(r.at("input").is_null(), true);
    // The identity curve: the output's levels are the input's.
    EXPECT_EQ(r.at("output_levels").at("peak"), r.at("input_levels").at("peak"));
    EXPECT_NEAR(r.at("output_levels").at("peak_volts").get<double>(), 5.0, 0.01);
    EXPECT_GT(r.at("timing").at("render_seconds").get<double>(), 0.0);
}

TEST_F(ShaperhostJson, TableWithAPictureAloneWritesNoCsv) {
    const RunResult r = run({"table", "-m", "VU Reridezizi2D", "--png", path("c.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find("index,input_volts"), std::string::npos) << r.out;
    EXPECT_TRUE(exists("c.png"));
    const RunResult both = run({"table", "-m", "VU Reridezizi2D", "--png", path("c.png"), "--csv", "-"});
    EXPECT_NE(both.out.find("index,input_volts"), std::string::npos);
}

// Two mono 16-bit files: a ramp and the same ramp with some samples changed.
struct DiffCase {
    const char* name;
    std::vector<std::pair<int, short>> changes; // frame, new value
    int frames;                                 // of the second file
    const char* tolerance;                      // "" for none
    int exitCode;
    long firstFrame; // -1: none
    double peakDb;   // of the difference; NAN: null (none)
};

TEST_F(ShaperhostJson, DiffReportsTheDifferenceAndDecidesByTheTolerance) {
    std::vector<short> base;
    for (int n = 0; n < 1000; ++n)
        base.push_back(static_cast<short>(n * 30 - 15000));
    writePcm16(path("a.wav"), 1, 48000, base);
    // One step of 16 bits is 2^-15 of full scale: -90.31 dBFS; 32 steps -60.21 dBFS.
    const double oneStep = 20.0 * std::log10(1.0 / 32768.0);
    const DiffCase cases[] = {
        {"identical", {}, 1000, "", 0, -1, NAN},
        {"one step, exact required",
         {{417, static_cast<short>(417 * 30 - 15000 + 1)}},
         1000,
         "",
         1,
         417,
         oneStep},
        {"one step within -80 dB",
         {{417, static_cast<short>(417 * 30 - 15000 + 1)}},
         1000,
         "-80",
         0,
         417,
         oneStep},
        {"32 steps beyond -80 dB",
         {{600, static_cast<short>(600 * 30 - 15000 - 32)}, {900, static_cast<short>(900 * 30 - 15000 + 1)}},
         1000,
         "-80dB",
         1,
         600,
         oneStep + 20.0 * std::log10(32.0)},
        {"shorter", {}, 999, "-20", 1, -1, NAN},
    };
    for (const DiffCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<short> other(base.begin(), base.begin() + c.frames);
        for (const auto& change : c.changes)
            other[static_cast<std::size_t>(change.first)] = change.second;
        writePcm16(path("b.wav"), 1, 48000, other);
        std::vector<std::string> args = {"diff", path("a.wav"), path("b.wav"), "--json"};
        if (*c.tolerance != '\0') {
            args.push_back("--tolerance");
            args.push_back(c.tolerance);
        }
        const json d = runJson(args, c.exitCode);
        EXPECT_EQ(d.at("within_tolerance").get<bool>(), c.exitCode == 0);
        if (c.firstFrame < 0)
            EXPECT_TRUE(d.at("first_difference_frame").is_null()) << d;
        else
            EXPECT_EQ(d.at("first_difference_frame"), c.firstFrame);
        if (std::isnan(c.peakDb))
            EXPECT_TRUE(d.at("peak_difference_dbfs").is_null()) << d;
        else
            EXPECT_NEAR(d.at("peak_difference_dbfs").get<double>(), c.peakDb, 1e-6);
        // The text form says the same.
        args.erase(args.begin() + 3);
        const RunResult text = run(args);
        EXPECT_EQ(text.exitCode, c.exitCode);
        EXPECT_NE(text.out.find(c.exitCode == 0 ? "same" : "different"), std::string::npos) << text.out;
    }
    EXPECT_EQ(run({"diff", path("a.wav"), path("a.wav"), "--tolerance", "loud"}).exitCode, 2);
}

} // namespace
