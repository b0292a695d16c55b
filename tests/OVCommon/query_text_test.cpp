#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sys/mman.h>
#include <unistd.h>

#include "OVCommon/OVCommon.h"
#include "tests/e2e/program_run.h"
#include "tests/support/other_user.h"
#include "tests/support/shared_block.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kQueryBlock = "/BRELLIUMMAPPING19";

std::tm LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    return time;
}

TEST(BuildQueryText, NumbersAreUnpaddedAndEachFollowedByTwoPointTwo) {
    EXPECT_EQ(BuildQueryText("X", "1.0", LocalTime(2006, 3, 5, 7, 8, 9)),
              "&code=X&version=1.0&timestamp=32.252.262.272.282.292.2");
    EXPECT_EQ(BuildQueryText("X", "1.0", LocalTime(2011, 11, 14, 15, 16, 17)),
              "&code=X&version=1.0&timestamp=112.2142.2112.2152.2162.2172.2");
    EXPECT_EQ(BuildQueryText("a b&c", "", LocalTime(2026, 1, 1, 0, 0, 10)),
              "&code=a b&c&version=&timestamp=12.212.2262.202.202.2102.2");
    EXPECT_EQ(BuildQueryText("C", "V").rfind("&code=C&version=V&timestamp=", 0), 0u);
}

TEST(BuildQueryText, TheClockIsReadWithoutTheProcessWideConversionResult) {
    // The standard conversions share one result; another thread may be holding on to it.
    const std::time_t epoch = 0;
    const std::tm* held = std::gmtime(&epoch);
    BuildQueryText("C", "V");
    EXPECT_EQ(held->tm_year, 70);
    EXPECT_EQ(held->tm_hour, 0);
}

// The main program copied into a private folder that serves as the program folder.
class MainProgramQuery : public ::testing::Test {
protected:
    void SetUp() override {
        savedFolder = ProgramFolder;
        ProgramFolder = folder.path();
        Settings = LaunchSettings{};
        testsupport::CopyExecutable(BRELLIUM_EXE, folder.path());
        unsetenv("BRELLIUM_QUERY_TEXT");
    }
    void TearDown() override {
        ProgramFolder = savedFolder;
        unsetenv("BRELLIUM_QUERY_TEXT");
    }

    testsupport::TempDir folder;
    std::string savedFolder;
};

TEST_F(MainProgramQuery, ReadsTheTextTheMainProgramLeaves) {
    setenv("BRELLIUM_QUERY_TEXT", "&code=Q&version=9&timestamp=12.2", 1);
    EXPECT_EQ(QueryTextFromMainProgram(), "&code=Q&version=9&timestamp=12.2");
    unsetenv("BRELLIUM_QUERY_TEXT");
    testsupport::WriteFile(folder / "brellium-query.txt", "&code=F&version=2\n");
    EXPECT_EQ(QueryTextFromMainProgram(), "&code=F&version=2");
}

TEST_F(MainProgramQuery, NoTextStopsTheProcess) {
    // An old text left in the block by an earlier run is not taken.
    testsupport::PlantSharedBlock(kQueryBlock, 260, 0600, "&code=stale");
    EXPECT_EXIT(QueryTextFromMainProgram(), ::testing::ExitedWithCode(246), "");
    Settings.MainExe = "missing.exe";
    setenv("BRELLIUM_QUERY_TEXT", "&code=Q", 1);
    EXPECT_EXIT(QueryTextFromMainProgram(), ::testing::ExitedWithCode(246), "");
}

TEST_F(MainProgramQuery, ABlockOfAnotherUserIsNotTrusted) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can leave a block that belongs to another user";
    testsupport::PlantSharedBlock(kQueryBlock, 260, 0666, "&code=false", testsupport::kNobody);
    setenv("BRELLIUM_QUERY_TEXT", "&code=Q", 1);
    EXPECT_EXIT(QueryTextFromMainProgram(), ::testing::ExitedWithCode(246), "");
    EXPECT_EQ(testsupport::SharedBlockText(kQueryBlock), "&code=false");
    ::shm_unlink(kQueryBlock);
}

}  // namespace
