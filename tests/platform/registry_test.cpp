#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/exception.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

constexpr const char* kKey = "SOFTWARE\\Quelmar\\Orvane";

// "hex(2):" data of a text as the Windows editor writes it: UTF-16LE with a terminating zero.
std::string ExpandHex(const std::string& ascii) {
    std::string hex;
    char byte[8];
    for (const char c : ascii + '\0') {
        std::snprintf(byte, sizeof byte, "%02x,00,", static_cast<unsigned char>(c));
        hex += byte;
    }
    hex.pop_back();
    return hex;
}

std::string ExportFile() {
    return "Windows Registry Editor Version 5.00\r\n"
           "\r\n"
           "; a comment\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelmar\\Orvane]\r\n"
           "\"PRXSRV\"=\"proxy.example\"\r\n"
           "\"PRXPORT\"=dword:00001f90\r\n"
           "\"Escaped\"=\"C:\\\\Program Files\\\\\\\"Q\\\"\"\r\n"
           "@=\"default\"\r\n"
           "\"Expand\"=hex(2):" + ExpandHex("%TEMP%\\x").substr(0, 23) + ",\\\r\n  " +
           ExpandHex("%TEMP%\\x").substr(24) + "\r\n"
           "\"Blob\"=hex:01,02,ff\r\n"
           "\"Multi\"=hex(7):61,00,00,00,00,00\r\n"
           "\"LeDword\"=hex(4):2a,00,00,00\r\n"
           "\"Broken\"=dword:xyz\r\n"
           "garbage line\r\n"
           "\"Deleted\"=\"x\"\r\n"
           "\"Deleted\"=-\r\n"
           "\r\n"
           "[HKEY_CURRENT_USER\\SOFTWARE\\Quelmar\\Other]\r\n"
           "\"User\"=\"not machine\"\r\n"
           "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelmar\\Gone]\r\n"
           "\"Lost\"=\"x\"\r\n";
}

std::string Utf16Le(const std::string& ascii) {
    std::string wide = "\xFF\xFE";
    for (const char c : ascii) {
        wide += c;
        wide += '\0';
    }
    return wide;
}

TEST(Registry, ReadsEveryValueTypeOfAnExportFile) {
    TempDir dir;
    WriteFile(dir / "hklm.reg", ExportFile());
    platform::RegistryKey key;
    ASSERT_TRUE(key.OpenReadOnly("software\\QUELMAR\\orvane\\", dir / "hklm.reg"));
    EXPECT_EQ(key.ReadString("PRXSRV"), "proxy.example");
    EXPECT_EQ(key.ReadString("prxsrv"), "proxy.example");
    EXPECT_EQ(key.ReadDword("PRXPORT"), 8080u);
    EXPECT_EQ(key.ReadString("Escaped"), "C:\\Program Files\\\"Q\"");
    EXPECT_EQ(key.ReadString(""), "default");
    EXPECT_EQ(key.ReadString("Expand"), "%TEMP%\\x");  // taken as stored, not expanded
    EXPECT_EQ(key.ReadDword("LeDword"), 42u);
    EXPECT_TRUE(key.ValueExists("Blob"));
    EXPECT_TRUE(key.ValueExists("Multi"));
    EXPECT_FALSE(key.ValueExists("Broken"));
    EXPECT_FALSE(key.ValueExists("Deleted"));
    EXPECT_FALSE(key.ValueExists("User"));
}

TEST(Registry, AValueOfAnotherTypeIsAnErrorNamingIt) {
    TempDir dir;
    WriteFile(dir / "hklm.reg", ExportFile());
    platform::RegistryKey key;
    ASSERT_TRUE(key.OpenReadOnly(kKey, dir / "hklm.reg"));
    auto message = [](auto read) -> std::string {
        try {
            read();
        } catch (const Exception& error) {
            return error.Message();
        }
        return "no error";
    };
    EXPECT_EQ(message([&] { key.ReadDword("PRXSRV"); }), "Invalid data type for 'PRXSRV'");
    EXPECT_EQ(message([&] { key.ReadString("PRXPORT"); }), "Invalid data type for 'PRXPORT'");
    EXPECT_EQ(message([&] { key.ReadString("Blob"); }), "Invalid data type for 'Blob'");
    EXPECT_EQ(message([&] { key.ReadDword("Multi"); }), "Invalid data type for 'Multi'");
    EXPECT_EQ(message([&] { key.ReadString("Nothing"); }), "Failed to get data for 'Nothing'");
}

TEST(Registry, MissingFilesKeysAndHeadersMeanTheKeyCannotBeOpened) {
    TempDir dir;
    platform::RegistryKey key;
    EXPECT_FALSE(key.OpenReadOnly(kKey, dir / "missing.reg"));
    WriteFile(dir / "hklm.reg", ExportFile());
    EXPECT_FALSE(key.OpenReadOnly("SOFTWARE\\Quelmar", dir / "hklm.reg"));
    EXPECT_FALSE(key.OpenReadOnly("SOFTWARE\\Quelmar\\Other", dir / "hklm.reg"));
    EXPECT_FALSE(key.OpenReadOnly("SOFTWARE\\Quelmar\\Gone", dir / "hklm.reg"));
    EXPECT_FALSE(key.IsOpen());
    EXPECT_FALSE(key.ValueExists("PRXSRV"));
    WriteFile(dir / "plain.txt", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelmar\\Orvane]\n\"PRXSRV\"=\"x\"\n");
    EXPECT_FALSE(key.OpenReadOnly(kKey, dir / "plain.txt"));
}

TEST(Registry, ReadsUtf16FilesOldHeadersAndTheEnvironmentsChoiceOfFile) {
    TempDir dir;
    WriteFile(dir / "wide.reg", Utf16Le("Windows Registry Editor Version 5.00\r\n\r\n"
                                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelmar\\Orvane]\r\n"
                                        "\"PRXUN\"=\"user\"\r\n"));
    WriteFile(dir / "old.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelmar\\Orvane]\n"
                               "\"PRXPSWD\"=hex(2):73,65,63,72,65,74,00\n");
    platform::RegistryKey key;
    ASSERT_TRUE(key.OpenReadOnly(kKey, dir / "wide.reg"));
    EXPECT_EQ(key.ReadString("PRXUN"), "user");
    ASSERT_TRUE(key.OpenReadOnly(kKey, dir / "old.reg"));
    EXPECT_EQ(key.ReadString("PRXPSWD"), "secret");  // 8-bit text in the old format

    ::setenv("ORVANE_HKLM", (dir / "wide.reg").c_str(), 1);
    EXPECT_EQ(platform::RegistryFilePath(), dir / "wide.reg");
    EXPECT_TRUE(key.OpenReadOnly(kKey));
    EXPECT_EQ(key.ReadString("PRXUN"), "user");
    ::unsetenv("ORVANE_HKLM");
    EXPECT_EQ(platform::RegistryFilePath(), "/etc/quelmar/hklm.reg");
}

}  // namespace
