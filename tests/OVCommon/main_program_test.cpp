// Starting the stand-in main program, with and without waiting, finding it by name, asking it to close through
// "/U" and ending it by force: the real program, on every system.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "platform/process.h"
#include "tests/OVCommon/main_program_fixture.h"
#include "tests/support/eventually.h"

namespace {

using testsupport::Eventually;

class MainProgramRun : public MainProgramFolder {
protected:
    void SetUp() override {
        MainProgramFolder::SetUp();
        testsupport::SetEnvironment("BRELLIUM_LOG", folder / "starts.log");
    }
    void TearDown() override {
        for (const platform::ProcessEntry& instance : Instances()) platform::TerminateProcess(instance.process);
        testsupport::UnsetEnvironment("BRELLIUM_LOG");
        MainProgramFolder::TearDown();
    }

    // The running instances of this test's copy; other tests' copies share the name.
    std::vector<platform::ProcessEntry> Instances() const {
        std::vector<platform::ProcessEntry> instances;
        for (platform::ProcessEntry& entry : platform::ProcessSnapshot("BRELLIUM.EXE", platform::LetterCase::Ignored)) {
            std::error_code error;
            if (std::filesystem::equivalent(entry.executablePath, mainProgram, error)) instances.push_back(std::move(entry));
        }
        return instances;
    }
    // One line per start, holding its first argument; line ends as the system writes text files.
    std::string Starts() const {
        std::string log = testsupport::FileExists(folder / "starts.log") ? testsupport::ReadFile(folder / "starts.log") : "";
        std::erase(log, '\r');
        return log;
    }
};

TEST_F(MainProgramRun, StartsWithoutWaitingAndCloseWaitsForTheInstancesToEnd) {
    EXPECT_FALSE(RunProgram(folder / "missing.exe", "", true));
    EXPECT_FALSE(RunProgram(folder / "missing.exe", "", false));

    ASSERT_TRUE(RunProgram(mainProgram, "", false));
    ASSERT_TRUE(Eventually([&] { return Instances().size() == 1; }));
    ASSERT_TRUE(Eventually([&] { return Starts() == "(none)\n"; }));
    // With the wait flag the call returns once "/U" has closed the instance and ended itself.
    EXPECT_TRUE(RunProgram(mainProgram, "/U", true));
    EXPECT_EQ(Starts(), "(none)\n/U\n");
    EXPECT_TRUE(Instances().empty());
}

TEST_F(MainProgramRun, TheSnapshotFindsTheProgramByNameAndTerminationEndsIt) {
    ASSERT_TRUE(RunProgram(mainProgram, "", false));
    ASSERT_TRUE(Eventually([&] { return Instances().size() == 1; }));
    const std::vector<platform::ProcessEntry> exact = platform::ProcessSnapshot("brellium.exe");
    const std::vector<platform::ProcessEntry> found = Instances();
    EXPECT_FALSE(exact.empty());
    EXPECT_EQ(found[0].exeName, "brellium.exe");
    EXPECT_FALSE(platform::ProcessHasEnded(found[0].process));

    EXPECT_TRUE(platform::TerminateProcess(found[0].process));
    EXPECT_TRUE(Eventually([&] { return platform::ProcessHasEnded(found[0].process); }));
    EXPECT_FALSE(platform::TerminateProcess(found[0].process));  // nothing is left to end
    EXPECT_TRUE(Instances().empty());
}

}  // namespace
