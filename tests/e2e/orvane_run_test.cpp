// Whole-program runs of the built orvane executable from a private sandbox folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "OVCommon/OVCommon.h"
#include "tests/e2e/program_run.h"
#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const std::string NoDisplayLine =
    "orvane: the update wizard needs a graphical display (set DISPLAY, or QT_QPA_PLATFORM=offscreen)\n";
using testsupport::ProgramLaunch;
using testsupport::RunAndWait;

std::set<std::string> EntriesBelow(const std::string& folder) {
    std::set<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        entries.insert(fs::relative(entry.path(), folder).string());
    }
    return entries;
}

// What the dynamic loader brings in for a program, as ldd lists it.
std::string LibrariesOf(const std::string& program) {
    std::string listing;
    if (FILE* ldd = popen(("/usr/bin/ldd " + program).c_str(), "r")) {
        char block[4096];
        for (size_t got; (got = fread(block, 1, sizeof block, ldd)) > 0;) listing.append(block, got);
        pclose(ldd);
    }
    return listing;
}

class OrvaneRun : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(sandbox / "tmp");
        program = testsupport::CopyExecutable(ORVANE_EXE, sandbox.path());
        wizard = testsupport::CopyExecutable(ORVANE_WIZARD_EXE, sandbox.path());
    }

    // Runs the sandbox copy with the sandbox as working folder and temporary folder.
    testsupport::ProgramRun Run(const std::vector<std::string>& arguments, const std::string& registryFile,
                                const std::vector<std::string>& environment = {}) {
        std::vector<std::string> settings = {"TMPDIR=" + sandbox / "tmp", "ORVANE_HKLM=" + registryFile};
        settings.insert(settings.end(), environment.begin(), environment.end());
        return RunAndWait(ProgramLaunch{program, arguments, sandbox.path(), settings});
    }

    testsupport::TempDir sandbox;
    testsupport::TempDir elsewhere;
    std::string wizard;
    std::string program;
};

TEST_F(OrvaneRun, BadWindowlessLaunchStopsAtOnceAndTouchesNothing) {
    const std::set<std::string> before = EntriesBelow(sandbox.path());
    const std::vector<std::vector<std::string>> badLaunches = {
        {"/ENTS", "-ENTC", "SFLD=x"}, {"/ENTS"}, {"-entc"}, {"+Ents", "sfld="}};
    for (const auto& arguments : badLaunches) {
        const auto run = Run(arguments, elsewhere / "hklm.reg");
        EXPECT_EQ(run.status, 255) << arguments.front();
        EXPECT_EQ(run.errorOutput, "") << arguments.front();
    }
    EXPECT_EQ(EntriesBelow(sandbox.path()), before);
}

TEST_F(OrvaneRun, FlagsWithoutLeadingCharacterOrSharedFolderAloneChooseTheWizard) {
    const std::set<std::string> before = EntriesBelow(sandbox.path());
    for (const auto& arguments : std::vector<std::vector<std::string>>{{"ENTS", "ENTC", "SFLD=x"}, {"SFLD=x"}}) {
        // Without any display the wizard says so in one line, with status 1 rather than the bad launch's 255.
        const auto run = Run(arguments, elsewhere / "hklm.reg", {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
        EXPECT_EQ(run.status, 1) << arguments.front();
        EXPECT_EQ(run.errorOutput, NoDisplayLine) << arguments.front();
    }
    EXPECT_EQ(EntriesBelow(sandbox.path()), before);
}

TEST_F(OrvaneRun, TheWizardRunsAsItsOwnProgramWhichMustStandBesideOrvane) {
    // The windowless modes start without the window toolkit: it is not among the program's libraries.
    EXPECT_EQ(LibrariesOf(program).find("libQt"), std::string::npos) << LibrariesOf(program);
    EXPECT_NE(LibrariesOf(wizard).find("libQt6Widgets"), std::string::npos);
    ASSERT_EQ(std::remove(wizard.c_str()), 0);
    const auto run = Run({}, elsewhere / "hklm.reg", {"QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errorOutput, "orvane: the update wizard " + wizard + " cannot be started\n");
}

TEST_F(OrvaneRun, WizardWithoutAUsableDisplayEndsWithOneLine) {
    // A display that names no server: the platform fails in a probe, not in the program.
    const auto run = Run({}, elsewhere / "hklm.reg", {"DISPLAY=:4093", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errorOutput, NoDisplayLine);
}

TEST_F(OrvaneRun, WizardWithoutQueryTextEndsBeforeShowingItsWindow) {
    // No product named and no main program to ask: the window is never shown and the run ends cleanly.
    const auto run = Run({}, elsewhere / "hklm.reg", {"QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(run.status, 0) << run.errorOutput;
    EXPECT_FALSE(fs::exists(sandbox / "OVLog.txt"));
}

TEST_F(OrvaneRun, WrongTypedRegistryValueIsAnApplicationError) {
    testsupport::WriteFile(elsewhere / "hklm.reg",
                           "Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelmar\\Orvane]\r\n"
                           "\"PRXPORT\"=\"8080\"\r\n");
    // The settings are read before the mode is checked, so even a bad launch reports the failure.
    const auto run = Run({"/ENTS"}, elsewhere / "hklm.reg");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errorOutput.find("Application Error: "), std::string::npos) << run.errorOutput;
    EXPECT_NE(run.errorOutput.find("PRXPORT"), std::string::npos) << run.errorOutput;

    // A proxy server on the command line keeps the registry closed.
    EXPECT_EQ(Run({"/ENTS", "PRXSRV=proxy"}, elsewhere / "hklm.reg").status, 255);
}

TEST_F(OrvaneRun, LanguageFileThatCannotBeReadIsAnApplicationError) {
    // A folder in the place of the language file is listed as a language but cannot be read.
    fs::create_directories(sandbox / "OvLng/english.lng");
    const auto run = Run({"/ENTS"}, elsewhere / "hklm.reg");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errorOutput.rfind("Application Error: ", 0), 0u) << run.errorOutput;
}

}  // namespace
