// What a real Windows machine expects of the registry view, the shared query block and file replacement, under Wine.
#include <gtest/gtest.h>

#include "platform/win32/system.h"

#include <aclapi.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }  // ASCII only

int RegTool(const std::string& parameters) {
    const auto started =
        platform::StartProcess(platform::ExpandEnvironmentStrings("%SystemRoot%\\system32\\reg.exe"), parameters);
    return started ? platform::WaitForProcess(*started) : -1;
}

// A 32-bit product's installer writes its key in the 32-bit view; whatever the build's bitness, that is the one
// read, and a key of the same name in the 64-bit view is another program's.
TEST(Win32RegistryView, ProxyComesFromTheThirtyTwoBitView) {
    const std::string key = "HKLM\\SOFTWARE\\Quelmar\\Orvane";
    for (const auto& [view, read] : {std::pair{"/reg:32", true}, std::pair{"/reg:64", false}}) {
        SCOPED_TRACE(view);
        struct Removal {
            std::string command;
            ~Removal() { RegTool(command); }
        } removal{"delete " + key + " /f " + view};
        ASSERT_EQ(RegTool("add " + key + " /v PRXSRV /t REG_SZ /d regproxy /f " + view), 0);
        ASSERT_EQ(RegTool("add " + key + " /v PRXPORT /t REG_DWORD /d 3128 /f " + view), 0);
        LoadLaunchSettings({"orvane.exe", "/ENTS"});
        EXPECT_EQ(Settings.ProxyServer, read ? "regproxy" : "");
        EXPECT_EQ(Settings.ProxyPort, read ? 3128 : 0);
    }
}

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// Another account's process may make an object of the block's name first, to hand the product a query text of its
// choosing; the block is then never opened, so nothing of it is read.
TEST(Win32SharedBlock, ObjectThatWeDidNotMakeIsNeverUsed) {
    struct Planted {
        std::string name;
        Handle object;
    };
    std::vector<Planted> planted;
    planted.push_back({"ORVANETESTPLANTEDMAPPING", Handle(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr,
                                                                           PAGE_READWRITE, 0, 4096,
                                                                           L"ORVANETESTPLANTEDMAPPING"))});
    planted.push_back(
        {"ORVANETESTPLANTEDEVENT", Handle(CreateEventW(nullptr, TRUE, FALSE, L"ORVANETESTPLANTEDEVENT"))});
    void* view = MapViewOfFile(planted[0].object.get(), FILE_MAP_WRITE, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    std::memcpy(view, "&code=planted", 14);
    for (const auto& [name, object] : planted) {
        SCOPED_TRACE(name);
        ASSERT_NE(object, nullptr);
        platform::SharedMemoryBlock block("/" + name, 260, platform::SharedMemoryBlock::Opening::CreateFresh);
        EXPECT_FALSE(block.IsOpen());
        EXPECT_EQ(block.ReadText(), "");
    }
    EXPECT_STREQ(static_cast<const char*>(view), "&code=planted");
    UnmapViewOfFile(view);
}

TEST(Win32SharedBlock, FreshBlockMayBeOpenedByTheCurrentUserOnly) {
    const platform::SharedMemoryBlock block("/ORVANETESTPRIVATEBLOCK", 260,
                                            platform::SharedMemoryBlock::Opening::CreateFresh);
    const Handle mapping(OpenFileMappingW(READ_CONTROL, FALSE, L"ORVANETESTPRIVATEBLOCK"));
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    const Handle tokenHandle(token);
    alignas(TOKEN_USER) BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)] = {};
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
    ACL* dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(mapping.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor), ERROR_SUCCESS);
    void* ace = nullptr;
    ASSERT_TRUE(dacl != nullptr && dacl->AceCount == 1 && GetAce(dacl, 0, &ace));  // a null DACL lets everyone in
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&allowed->SidStart), reinterpret_cast<TOKEN_USER*>(user)->User.Sid));
    LocalFree(descriptor);
}

std::uint64_t FileIdOf(const std::string& path) {
    const Handle file(CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (file.get() == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file.get(), &information)) return 0;
    return (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
}

// The folders a stored file may land in: beside %TEMP% on its volume, and on another volume (Wine's Z: drive on
// a RAM file system), as a share on a second disk.
std::vector<std::unique_ptr<TempDir>> TargetFolders() {
    std::vector<std::unique_ptr<TempDir>> folders;
    folders.push_back(std::make_unique<TempDir>());
    if (platform::DirectoryExists("Z:\\dev\\shm")) folders.push_back(std::make_unique<TempDir>("Z:\\dev\\shm"));
    return folders;
}

// The old file is replaced, never written over in place (where a client reads half a file): a second link to it,
// standing for a client that opened it before, still shows the old content whole. The new file is made in the
// target's folder (moved in, it would keep the access rights it was given in %TEMP%).
TEST(Win32MoveFileOver, TargetIsReplacedByAFileMadeInItsFolder) {
    const TempDir work;
    for (const auto& folder : TargetFolders()) {
        SCOPED_TRACE(folder->path());
        const std::string source = work / "package.bin";
        const std::string target = *folder / "stored.bin";
        testsupport::WriteFile(target, "old content");
        testsupport::WriteFile(source, "new content, longer");
        ASSERT_TRUE(CreateHardLinkW(Wide(*folder / "held.bin").c_str(), Wide(target).c_str(), nullptr));
        const std::uint64_t sourceId = FileIdOf(source);
        ASSERT_TRUE(platform::MoveFileOver(source, target, platform::Durability::Deferred));
        EXPECT_EQ(testsupport::ReadFile(*folder / "held.bin"), "old content");
        EXPECT_EQ(testsupport::ReadFile(target), "new content, longer");
        EXPECT_NE(FileIdOf(target), sourceId);
        EXPECT_FALSE(platform::FileExists(source));
        EXPECT_EQ(testsupport::NamesIn(folder->path()), (std::set<std::string>{"held.bin", "stored.bin"}));
    }
}

// The share holds other programs' files, some held open without sharing; making a run durable never opens them.
TEST(Win32DurableFiles, FilesTheRunDidNotWriteAreLeftAlone) {
    const TempDir share;
    testsupport::WriteFile(share / "held.txt", "h");
    const Handle held(
        CreateFileW(Wide(share / "held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(held.get(), INVALID_HANDLE_VALUE);
    testsupport::WriteFile(share / "stored.txt", "s");
    platform::DurableFiles durable;
    durable.Note(share / "stored.txt");
    EXPECT_TRUE(durable.Finish());
}

TEST(Win32DeleteFolderTree, ReadOnlyFilesAndFoldersGo) {
    const TempDir work;
    const std::string tree = work / "tree";
    ASSERT_TRUE(platform::ForceDirectories(tree + "\\sub\\deeper"));
    for (const char* file : {"\\top.txt", "\\sub\\deeper\\inner.txt"}) testsupport::WriteFile(tree + file, "x");
    for (const char* path : {"\\top.txt", "\\sub\\deeper\\inner.txt", "\\sub\\deeper", "\\sub"}) {
        const DWORD attributes = GetFileAttributesW(Wide(tree + path).c_str());
        ASSERT_TRUE(SetFileAttributesW(Wide(tree + path).c_str(), attributes | FILE_ATTRIBUTE_READONLY)) << path;
    }
    EXPECT_TRUE(DeleteFolderTree(tree));
    EXPECT_FALSE(platform::DirectoryExists(tree));
}

}  // namespace
