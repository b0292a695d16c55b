// The proxy values of the registry, which POSIX keeps in a registry export file, and common.ini beside the
// program as /proc names it.
#include <gtest/gtest.h>

#include <filesystem>

#include "OVCommon/OVCommon.h"
#include "tests/OVCommon/launch_settings_fixture.h"

namespace {

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

    testsupport::SetEnvironment("ORVANE_HKLM", folder / "missing.reg");
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
