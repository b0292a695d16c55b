#include <gtest/gtest.h>

#include <ctime>

#include "OVCommon/OVCommon.h"
#include "tests/OVCommon/main_program_fixture.h"

namespace {

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

using MainProgramQuery = MainProgramFolder;

TEST_F(MainProgramQuery, ReadsTheTextTheMainProgramLeaves) {
    testsupport::SetEnvironment("BRELLIUM_QUERY_TEXT", "&code=Q&version=9&timestamp=12.2");
    EXPECT_EQ(MainProgramQueryText(), "&code=Q&version=9&timestamp=12.2");
    testsupport::UnsetEnvironment("BRELLIUM_QUERY_TEXT");
    testsupport::WriteFile(folder / "brellium-query.txt", "&code=F&version=2\n");
    EXPECT_EQ(MainProgramQueryText(), "&code=F&version=2");
}

}  // namespace
