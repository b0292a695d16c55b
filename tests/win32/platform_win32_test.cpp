#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/run_lock.h"
#include "platform/shared_memory.h"
#include "platform/socket.h"
#include "platform/stream.h"
#include "platform/temp_folder.h"
#include "platform/version_resource.h"
#include "platform/winsock.h"
#include "tests/support/pe_builder.h"

namespace {

// A fresh folder in the temporary folder, removed with its files at the end.
class Win32Platform : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = platform::PrivateTempFolder() + "orvane-win32-test-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(platform::ForceDirectories(folder_ + "\\sub\\deeper"));
    }
    void TearDown() override {
        for (const char* name : {"\\sub\\deeper\\a.txt", "\\common.ini", "\\target.txt"}) {
            platform::DeleteFile(folder_ + name);
        }
        platform::RemoveDirectory(folder_ + "\\sub\\deeper");
        platform::RemoveDirectory(folder_ + "\\sub");
        platform::RemoveDirectory(folder_);
    }
    std::string folder_;
};

// The lock file is the run's own: it goes when its holder lets go (or ends, however), so a folder is left as the
// run found it; a folder where it cannot be made reports that.
TEST_F(Win32Platform, RunLockFileGoesWithItsHolder) {
    using std::chrono::milliseconds;
    const std::string path = folder_ + "\\orvane.lock";
    {
        const platform::RunLock held(path, milliseconds(0));
        EXPECT_EQ(held.State(), platform::RunLockState::Held);
        EXPECT_TRUE(platform::FileExists(path));
        EXPECT_EQ(platform::RunLock(path, milliseconds(50)).State(), platform::RunLockState::Busy);
    }
    EXPECT_FALSE(platform::FileExists(path));
    EXPECT_EQ(platform::RunLock(path, milliseconds(0)).State(), platform::RunLockState::Held);
    EXPECT_EQ(platform::RunLock(folder_ + "\\missing\\orvane.lock", milliseconds(0)).State(),
              platform::RunLockState::Unavailable);
}

TEST_F(Win32Platform, TempFolderEndsWithBackslash) {
    const std::string temp = platform::PrivateTempFolder();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), '\\');
    EXPECT_TRUE(platform::DirectoryExists(temp));
}

TEST_F(Win32Platform, ReplaceFileWritesUtf8NamedFileAtomically) {
    const std::string target = folder_ + "\\sub\\deeper\\a.txt";
    ASSERT_TRUE(platform::ReplaceFileWithBytes(target, "first"));
    ASSERT_TRUE(platform::ReplaceFileWithBytes(target, "second, longer"));
    std::string content;
    ASSERT_TRUE(platform::ReadWholeFile(target, content));
    EXPECT_EQ(content, "second, longer");
    std::vector<platform::FolderEntry> entries;
    ASSERT_TRUE(platform::ListFolder(folder_ + "\\sub\\deeper", entries));
    ASSERT_EQ(entries.size(), 1u);  // no temporary file is left beside it
    EXPECT_EQ(entries[0].name, "a.txt");
    EXPECT_FALSE(platform::FileExists(folder_ + "\\sub"));
    EXPECT_TRUE(platform::DirectoryExists(folder_ + "\\sub"));
    EXPECT_TRUE(platform::IsPlainFile(target));
    EXPECT_FALSE(platform::IsPlainFile(folder_ + "\\sub"));
    EXPECT_FALSE(platform::IsPlainFile(folder_ + "\\sub\\missing.txt"));
}

TEST_F(Win32Platform, FailedWriterLeavesTargetUntouched) {
    const std::string target = folder_ + "\\target.txt";
    ASSERT_TRUE(platform::ReplaceFileWithBytes(target, "kept"));
    EXPECT_FALSE(platform::ReplaceFile(target, [](platform::File& output) { return output.Write("x") && false; }));
    std::string content;
    ASSERT_TRUE(platform::ReadWholeFile(target, content));
    EXPECT_EQ(content, "kept");
}

TEST_F(Win32Platform, FileStreamKeepsBinaryBytes) {
    const std::string target = folder_ + "\\target.txt";
    {
        TFileStream stream(target, TFileStream::Mode::Create);
        stream.WriteText(std::string("a\r\nb\n\x1a", 6));
    }
    std::string content;
    ASSERT_TRUE(platform::ReadWholeFile(target, content));
    EXPECT_EQ(content, std::string("a\r\nb\n\x1a", 6));
    EXPECT_THROW(TFileStream(folder_ + "\\missing", TFileStream::Mode::OpenRead), EFOpenError);
}

TEST_F(Win32Platform, ProfileStringsOfCommonIni) {
    const std::string ini = folder_ + "\\common.ini";
    ASSERT_TRUE(platform::ReplaceFileWithBytes(ini, "[Main]\r\nLanguage = \"Deutsch\"\r\n"));
    EXPECT_EQ(platform::ReadProfileString(ini, "main", "LANGUAGE", "none"), "Deutsch");
    EXPECT_EQ(platform::ReadProfileString(ini, "Main", "Missing", "none"), "none");
}

TEST(Win32Environment, ExpandsSetVariablesAndKeepsUnknownOnes) {
    _wputenv_s(L"ORVANE_TEST_VALUE", L"v\u00e4lue");  // set in wide characters, read back as UTF-8
    EXPECT_EQ(platform::ExpandEnvironmentStrings("a %ORVANE_TEST_VALUE% %ORVANE_UNSET_NAME% 50%"),
              "a v\xc3\xa4lue %ORVANE_UNSET_NAME% 50%");
}

TEST(Win32SharedMemory, TextPassesThroughTheNamedMapping) {
    platform::SharedMemoryBlock created("/ORVANETESTMAPPING", 260, platform::SharedMemoryBlock::Opening::CreateFresh);
    ASSERT_TRUE(created.IsOpen());
    EXPECT_EQ(created.ReadText(), "");
    platform::SharedMemoryBlock opened("/ORVANETESTMAPPING", 260, platform::SharedMemoryBlock::Opening::OpenExisting);
    ASSERT_TRUE(opened.IsOpen());
    EXPECT_TRUE(opened.WriteText("query text"));
    EXPECT_EQ(created.ReadText(), "query text");
    EXPECT_FALSE(opened.WriteText(std::string(260, 'x')));
}

TEST(Win32SharedMemory, MissingBlockDoesNotOpen) {
    platform::SharedMemoryBlock block("/ORVANENOSUCHMAPPING", 260, platform::SharedMemoryBlock::Opening::OpenExisting);
    EXPECT_FALSE(block.IsOpen());
}

TEST(Win32Registry, MissingKeyDoesNotOpen) {
    platform::RegistryKey key;
    EXPECT_FALSE(key.OpenReadOnly("SOFTWARE\\Quelmar\\NoSuchProductAtAll"));
    EXPECT_THROW(key.ReadString("PRXSRV"), Exception);
}

// Keys are read in the 32-bit view, which shares this one with the 64-bit view on every Windows.
TEST(Win32Registry, ReadsValuesOfAnExistingKey) {
    platform::RegistryKey key;
    ASSERT_TRUE(key.OpenReadOnly("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"));
    EXPECT_FALSE(key.ReadString("ProfilesDirectory").empty());
    EXPECT_THROW(key.ReadDword("ProfilesDirectory"), Exception);
    EXPECT_FALSE(key.ValueExists("NoSuchValueHere"));
}

// Runs Windows' own registry tool and gives its exit status.
int RegTool(const std::string& parameters) {
    const auto started =
        platform::StartProcess(platform::ExpandEnvironmentStrings("%SystemRoot%\\system32\\reg.exe"), parameters);
    return started ? platform::WaitForProcess(*started) : -1;
}

// The product's key as an administrator's tool writes it, in the 32-bit view of the product's installer: the proxy
// settings the program falls back on. The key goes again however the test ends, so no later run meets a proxy it
// did not ask for.
TEST(Win32Registry, ReadsTheProductKeyAsTheRegToolWritesIt) {
    const std::string key = "HKLM\\SOFTWARE\\Quelmar\\Orvane /reg:32";
    struct Removal {
        std::string key;
        ~Removal() { RegTool("delete " + key + " /f"); }
    } removal{key};
    ASSERT_EQ(RegTool("add " + key + " /v PRXSRV /t REG_SZ /d proxy.example /f"), 0);
    ASSERT_EQ(RegTool("add " + key + " /v PRXPORT /t REG_DWORD /d 3128 /f"), 0);
    platform::RegistryKey product;
    ASSERT_TRUE(product.OpenReadOnly("software\\quelmar\\orvane"));
    EXPECT_EQ(product.ReadString("prxsrv"), "proxy.example");
    EXPECT_EQ(product.ReadDword("PRXPORT"), 3128u);
    EXPECT_THROW(product.ReadDword("PRXSRV"), Exception);
    EXPECT_FALSE(product.ValueExists("PRXUN"));
    product.Close();
    EXPECT_EQ(RegTool("delete " + key + " /f"), 0);
    EXPECT_FALSE(platform::RegistryKey().OpenReadOnly("SOFTWARE\\Quelmar\\Orvane"));
}

TEST_F(Win32Platform, VersionResourceOfAPeFileOnDisk) {
    const std::string path = folder_ + "\\versioned.exe";
    const std::string resource = pe::Serialize(pe::VersionInfo(u"040904b0", u"5, 1, 2, 34", {0x04B00409}));
    ASSERT_TRUE(platform::ReplaceFileWithBytes(path, pe::Image(resource)));
    EXPECT_EQ(platform::FileVersionString(path), "5, 1, 2, 34");
    ASSERT_TRUE(platform::ReplaceFileWithBytes(path, pe::Image(resource, true)));
    EXPECT_EQ(platform::FileVersionString(path), "5, 1, 2, 34");
    ASSERT_TRUE(platform::ReplaceFileWithBytes(path, "MZ but nothing more"));
    EXPECT_EQ(platform::FileVersionString(path), "");
    EXPECT_EQ(platform::FileVersionString(folder_ + "\\missing.exe"), "");
    platform::DeleteFile(path);
}

TEST(Win32Process, ExecutablePathNamesThisTest) {
    const std::string path = platform::ExecutablePath();
    EXPECT_TRUE(path.ends_with("platform_win32_test.exe")) << path;
    EXPECT_TRUE(platform::FileExists(path));
    const auto self = platform::ProcessSnapshot("PLATFORM_WIN32_TEST.EXE", platform::LetterCase::Ignored);
    EXPECT_FALSE(self.empty());
    EXPECT_TRUE(platform::ProcessSnapshot("PLATFORM_WIN32_TEST.EXE").empty());
}

TEST(Win32Socket, WinSockIsThereAndRefusedConnectIsReported) {
    EXPECT_TRUE(platform::WinSockAvailable());
    platform::Socket listener;
    ASSERT_TRUE(listener.Open());
    EXPECT_EQ(listener.Bind("127.0.0.1", 70000), platform::SocketBadAddress);
    platform::Socket client;
    ASSERT_TRUE(client.Open());
    // Port 1 on loopback has no listener here: the refusal comes back as its WinSock code.
    EXPECT_EQ(client.Connect("127.0.0.1", 1, 5000), 10061);
}

}  // namespace
