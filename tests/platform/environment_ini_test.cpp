#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/environment.h"
#include "platform/error_report.h"
#include "platform/ini.h"
#include "platform/winsock.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(Environment, ExpandsKnownNamesAndKeepsEverythingElse) {
    ::setenv("ORVANE_TEST_DIR", "/opt/q", 1);
    ::unsetenv("ORVANE_TEST_UNSET");
    EXPECT_EQ(platform::ExpandEnvironmentStrings("%ORVANE_TEST_DIR%/bin"), "/opt/q/bin");
    EXPECT_EQ(platform::ExpandEnvironmentStrings("a%ORVANE_TEST_DIR%b%ORVANE_TEST_DIR%"), "a/opt/qb/opt/q");
    EXPECT_EQ(platform::ExpandEnvironmentStrings("%ORVANE_TEST_UNSET%/x"), "%ORVANE_TEST_UNSET%/x");
    EXPECT_EQ(platform::ExpandEnvironmentStrings("100% sure"), "100% sure");
    EXPECT_EQ(platform::ExpandEnvironmentStrings("%%"), "%%");
    EXPECT_EQ(platform::ExpandEnvironmentStrings("50%%ORVANE_TEST_DIR%"), "50%%ORVANE_TEST_DIR%");
    EXPECT_EQ(platform::ExpandEnvironmentStrings(""), "");
}

TEST(Ini, ProfileStringRules) {
    const std::string ini =
        "\xEF\xBB\xBF; settings\r\n"
        "[other]\r\n"
        "Language=German\r\n"
        "  [ General ]  \r\n"
        "; Language=Commented\r\n"
        "  LANGUAGE  =   english  \r\n"
        "language=second\r\n"
        "Quoted=\"  spaced  \"\r\n"
        "Single='x'\r\n"
        "Mismatched=\"x'\r\n"
        "Empty=\r\n"
        "novalue\r\n"
        "[general]\r\n"
        "Later=from the second section\r\n";
    auto read = [&](const char* section, const char* key) {
        return platform::ProfileStringFromText(ini, section, key, "<default>");
    };
    EXPECT_EQ(read("general", "Language"), "english");
    EXPECT_EQ(read("OTHER", "language"), "German");
    EXPECT_EQ(read("general", "Quoted"), "  spaced  ");
    EXPECT_EQ(read("general", "Single"), "x");
    EXPECT_EQ(read("general", "Mismatched"), "\"x'");
    EXPECT_EQ(read("general", "Empty"), "");
    EXPECT_EQ(read("general", "novalue"), "<default>");
    EXPECT_EQ(read("general", "Later"), "<default>");
    EXPECT_EQ(read("missing", "Language"), "<default>");

    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "common.ini", ini);
    EXPECT_EQ(platform::ReadProfileString(dir / "common.ini", "general", "Language", ""), "english");
    EXPECT_EQ(platform::ReadProfileString(dir / "missing.ini", "general", "Language", "d"), "d");
}

TEST(StartUp, SocketsAreThereAndFailuresAreReportedOnStandardError) {
    EXPECT_TRUE(platform::WinSockAvailable());
    testing::internal::CaptureStderr();
    platform::ReportApplicationError("Invalid data type for 'PRXPORT'");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Application Error: Invalid data type for 'PRXPORT'\n");
}

}  // namespace
