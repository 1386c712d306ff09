// shaperhost --version: the program's version, and the build text and SDK version of the module library
// it loads, or why that library could not be loaded.
#include <gtest/gtest.h>

#include <string>

#include "cli_test_support.h"

namespace {

using namespace clitest;

class ShaperhostVersion : public ProgramTest {};

TEST_F(ShaperhostVersion, PrintsTheProgramVersionAndTheLoadedLibrarysSdkInformation) {
    const RunResult r = run({"--version"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("shaperhost " SHAPERHOST_EXPECTED_VERSION, 0), 0u) << r.out;
    // The library beside the program; a Windows program under Wine gives its own form of the path.
    const std::string library = programLibrary();
    const std::size_t line = r.out.find("Module library: ");
    ASSERT_NE(line, std::string::npos) << r.out;
    const std::size_t end = r.out.find('\n', line);
    const std::string libraryName = library.substr(library.find_last_of('/') + 1);
    const std::string shown = r.out.substr(line, end - line);
    EXPECT_NE(shown.find(libraryName), std::string::npos) << shown;
    EXPECT_NE(r.out.find("built with \"MS Compiler V"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("SDK version 30800"), std::string::npos) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
    // No subcommand is needed, and the option wins over one that is given.
    const RunResult withCommand = run({"--version", "list"});
    EXPECT_EQ(withCommand.exitCode, 0);
    EXPECT_EQ(withCommand.out, r.out);
}

TEST_F(ShaperhostVersion, SaysWhyTheLibraryDidNotLoadAndStillPrintsTheVersion) {
    const RunResult r = run({"--library", path("missing-library"), "--version"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("shaperhost " SHAPERHOST_EXPECTED_VERSION, 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Module library: not loaded ("), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("missing-library"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("SDK version"), std::string::npos) << r.out;
}

} // namespace
