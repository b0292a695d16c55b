// The stand-in main program: leaving the query text with /R, closing its own instances with /U and restarting
// itself with /H.
#include <gtest/gtest.h>

#include <chrono>
#include <signal.h>
#include <sys/mman.h>
#include <thread>

#include "tests/e2e/program_run.h"
#include "tests/support/eventually.h"
#include "tests/support/shared_block.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::Eventually;
using testsupport::HasEnded;
using testsupport::ProgramLaunch;

constexpr const char* kQueryBlock = "/BRELLIUMMAPPING19";

TEST(Brellium, CloseAsksOnlyInstancesOfTheSameFileAndWaitsForThem) {
    testsupport::TempDir folder;
    testsupport::TempDir otherFolder;
    const std::string program = testsupport::CopyExecutable(BRELLIUM_EXE, folder.path());
    const std::string otherCopy = testsupport::CopyExecutable(BRELLIUM_EXE, otherFolder.path());
    const pid_t first = testsupport::StartProgram(ProgramLaunch{program, {}, "", {}});
    const pid_t second = testsupport::StartProgram(ProgramLaunch{program, {}, "", {}});
    const pid_t other = testsupport::StartProgram(ProgramLaunch{otherCopy, {}, "", {}});
    ASSERT_TRUE(Eventually([&] { return testsupport::ProcessesOf(program).size() == 2; }));
    // Without a request to close, an instance keeps running.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(HasEnded(first));

    EXPECT_EQ(testsupport::RunAndWait(ProgramLaunch{program, {"/U"}, "", {}}).status, 0);
    EXPECT_TRUE(testsupport::ProcessesOf(program).empty());
    EXPECT_TRUE(HasEnded(first));
    EXPECT_TRUE(HasEnded(second));
    EXPECT_FALSE(HasEnded(other));

    kill(other, SIGTERM);
    EXPECT_TRUE(Eventually([&] { return HasEnded(other); }));
    // With nothing running, /U returns at once.
    EXPECT_EQ(testsupport::RunAndWait(ProgramLaunch{program, {"/u"}, "", {}}).status, 0);
}

TEST(Brellium, HiddenStartLeavesAnInstanceRunningInTheBackground) {
    testsupport::TempDir folder;
    const std::string program = testsupport::CopyExecutable(BRELLIUM_EXE, folder.path());
    EXPECT_EQ(testsupport::RunAndWait(ProgramLaunch{program, {"/H"}, "", {}}).status, 0);
    EXPECT_TRUE(Eventually([&] { return testsupport::ProcessesOf(program).size() == 1; }));

    EXPECT_EQ(testsupport::RunAndWait(ProgramLaunch{program, {"/U"}, "", {}}).status, 0);
    EXPECT_TRUE(testsupport::ProcessesOf(program).empty());
}

TEST(Brellium, TheQueryTextGoesOnlyIntoAPrivateBlockOfThisUser) {
    testsupport::TempDir folder;
    const std::string program = testsupport::CopyExecutable(BRELLIUM_EXE, folder.path());
    const ProgramLaunch writeText{program, {"/R"}, "", {"BRELLIUM_QUERY_TEXT=&code=Q"}};
    ::shm_unlink(kQueryBlock);
    EXPECT_EQ(testsupport::RunAndWait(writeText).status, 2);  // nobody waits for a text
    EXPECT_FALSE(testsupport::SharedBlockText(kQueryBlock).has_value());

    testsupport::PlantSharedBlock(kQueryBlock, 260, 0666, "&code=false");
    EXPECT_EQ(testsupport::RunAndWait(writeText).status, 2);
    EXPECT_EQ(testsupport::SharedBlockText(kQueryBlock), "&code=false");

    testsupport::PlantSharedBlock(kQueryBlock, 260, 0600, "");
    EXPECT_EQ(testsupport::RunAndWait(writeText).status, 0);
    EXPECT_EQ(testsupport::SharedBlockText(kQueryBlock), "&code=Q");
    ::shm_unlink(kQueryBlock);
}

}  // namespace
