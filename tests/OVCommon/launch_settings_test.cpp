#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "OVCommon/OVCommon.h"
#include "platform/process.h"
#include "tests/support/temp_dir.h"

namespace {

// Loads the settings from the arguments, with the registry pointed at a file of the test's choice.
class LaunchSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { UseRegistry(""); }
    void TearDown() override { unsetenv("ORVANE_HKLM"); }

    void UseRegistry(const std::string& values) {
        const std::string file = folder / "hklm.reg";
        testsupport::WriteFile(file, "Windows Registry Editor Version 5.00\r\n\r\n"
                                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelmar\\Orvane]\r\n" + values);
        setenv("ORVANE_HKLM", file.c_str(), 1);
    }
    static void Load(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "orvane");
        LoadLaunchSettings(arguments);
    }

    testsupport::TempDir folder;
};

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

TEST_F(LaunchSettingsTest, RegistryReplacesProxyOnlyWithoutProxyServer) {
    UseRegistry("\"PRXSRV\"=\"regproxy\"\r\n\"PRXPORT\"=dword:00000bb8\r\n\"PRXUN\"=\"reguser\"\r\n"
                "\"PRXBA\"=dword:00000001\r\n");
    Load({"PRXUN=cmduser", "PRXPSWD=cmdpass"});
    EXPECT_EQ(Settings.ProxyServer, "regproxy");
    EXPECT_EQ(Settings.ProxyPort, 3000);
    EXPECT_EQ(Settings.ProxyUser, "reguser");
    EXPECT_EQ(Settings.ProxyPassword, "cmdpass");
    EXPECT_TRUE(Settings.ProxyBasicAuth);

    Load({"PRXSRV=cmdproxy", "PRXUN=cmduser"});
    EXPECT_EQ(Settings.ProxyServer, "cmdproxy");
    EXPECT_EQ(Settings.ProxyUser, "cmduser");
    EXPECT_EQ(Settings.ProxyPort, 0);
    EXPECT_FALSE(Settings.ProxyBasicAuth);

    setenv("ORVANE_HKLM", (folder / "missing.reg").c_str(), 1);
    Load({"PRXUN=cmduser"});
    EXPECT_EQ(Settings.ProxyUser, "cmduser");
}

TEST_F(LaunchSettingsTest, WrongRegistryTypeEscapesUnlessProxyServerGiven) {
    // Values are read in a fixed order, so the first wrong one in that order is named. Each value below has the
    // type another one expects; the file lists them in an order of its own.
    const std::vector<std::pair<std::string, std::string>> wrongValues = {
        {"PRXBA", "\"yes\""}, {"PRXPSWD", "dword:00000001"}, {"PRXPORT", "\"8080\""},
        {"PRXSRV", "dword:00000002"}, {"PRXUN", "hex:41,42"}};
    for (size_t first = 0; first < wrongValues.size(); ++first) {
        std::string values;
        for (size_t i = wrongValues.size(); i-- > first;) {
            values += "\"" + wrongValues[i].first + "\"=" + wrongValues[i].second + "\r\n";
        }
        UseRegistry(values);
        try {
            Load({});
            ADD_FAILURE() << "no exception for " << wrongValues[first].first;
        } catch (const Exception& failure) {
            EXPECT_EQ(failure.Message(), "Invalid data type for '" + wrongValues[first].first + "'");
        }
        EXPECT_NO_THROW(Load({"PRXSRV=proxy"}));
    }
}

TEST(ReadCommonIni, ReadsSectionGeneralOfTheProgramFolder) {
    // Set before any test runs: the folder of the running executable.
    EXPECT_EQ(ProgramFolder, std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/");
    testsupport::TempDir folder;
    const std::string savedFolder = ProgramFolder;
    ProgramFolder = folder.path();
    EXPECT_EQ(ReadCommonIni("Language"), "");
    testsupport::WriteFile(folder / "common.ini", "[other]\nLanguage=French\n[General]\nlanguage = German \n");
    EXPECT_EQ(ReadCommonIni("Language"), "German");
    EXPECT_EQ(ReadCommonIni("Missing"), "");
    ProgramFolder = savedFolder;
}

}  // namespace
