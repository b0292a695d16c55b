#include <gtest/gtest.h>

#include "OVCommon/OVCommon.h"
#include "platform/process.h"
#include "tests/OVCommon/launch_settings_fixture.h"

namespace {

TEST_F(LaunchSettingsTest, KeywordsMatchAnywhereAndLaterArgumentsWin) {
    Load({"PRXPSWD=a=b", "version=\"1.0\"", "\t/Product=Br \n", "CODE=VERSION=2", "SFLD=first",
          "/sfld=second"});
    EXPECT_EQ(Settings.Version, "2");
    EXPECT_EQ(Settings.Code, "VERSION=2");
    EXPECT_EQ(Settings.ProxyPassword, "a=b");
    EXPECT_EQ(Settings.Product, "Br");
    EXPECT_EQ(Settings.SharedFolder, "second");
    EXPECT_EQ(Settings.MainExe, "brellium.exe");

    Load({"XCODE=5"});
    EXPECT_EQ(Settings.Code, "5");
    Load({"CODE=1", "CODE="});
    EXPECT_EQ(Settings.Code, "");
    // The program path itself is never a setting.
    LoadLaunchSettings({"CODE=zero"});
    EXPECT_EQ(Settings.Code, "");
}

TEST_F(LaunchSettingsTest, QuotedArgumentKeepsItsBlanks) {
    Load(platform::SplitCommandLine("MAINEXE=\"my program.exe\" CODE=7"));
    EXPECT_EQ(Settings.MainExe, "my program.exe");
    EXPECT_EQ(Settings.Code, "7");
    // Quotes that reach the argument itself are trimmed from the value's ends.
    Load({"MAINEXE=\"my program.exe\""});
    EXPECT_EQ(Settings.MainExe, "my program.exe");
}

TEST_F(LaunchSettingsTest, FlagsNeedExactlyOneLeadingCharacter) {
    Load({"ENTS", "ENTC", "//SA", "/PRXBAX"});
    EXPECT_FALSE(Settings.MirrorMode);
    EXPECT_FALSE(Settings.ClientMode);
    EXPECT_FALSE(Settings.StandAlone);
    EXPECT_FALSE(Settings.ProxyBasicAuth);

    Load({"/ents", "-ENTC", "+Sa", " xprxba "});
    EXPECT_TRUE(Settings.MirrorMode);
    EXPECT_TRUE(Settings.ClientMode);
    EXPECT_TRUE(Settings.StandAlone);
    EXPECT_TRUE(Settings.ProxyBasicAuth);
}

TEST_F(LaunchSettingsTest, ProxyPortConversions) {
    const std::vector<std::pair<std::string, int32_t>> cases = {
        {"PRXPORT=8080", 8080}, {"PRXPORT=$1F90", 8080}, {"PRXPORT=0x1f90", 8080}, {"PRXPORT=abc", 0},
        {"PRXPORT=80 80", 0},   {"PRXPORT=\"81\"", 81}};
    for (const auto& [argument, port] : cases) {
        Load({"PRXSRV=p", argument});
        EXPECT_EQ(Settings.ProxyPort, port) << argument;
    }
    // An empty or absent port leaves the earlier one in place.
    Load({"PRXSRV=p", "PRXPORT=3128", "PRXPORT=", "CODE=1"});
    EXPECT_EQ(Settings.ProxyPort, 3128);
}

}  // namespace
