#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "OVCommon/OVCommon.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

TEST(FileHelpers, SizeAndZipSignature) {
    testsupport::TempDir folder;
    WriteFile(folder / "five", "PK\x03\x04!");
    WriteFile(folder / "p", "P");
    WriteFile(folder / "xk", "XK");
    EXPECT_EQ(FileSizeOf(folder / "five"), 5);
    EXPECT_EQ(FileSizeOf(folder / "missing"), 0);
    EXPECT_EQ(FileSizeOf(folder.path()), 0);
    EXPECT_TRUE(IsZipFile(folder / "five"));
    EXPECT_FALSE(IsZipFile(folder / "p"));
    EXPECT_FALSE(IsZipFile(folder / "xk"));
    EXPECT_FALSE(IsZipFile(folder / "missing"));
}

TEST(CopyFileContents, ReplacesTheTargetAndKeepsItOnFailure) {
    testsupport::TempDir folder;
    WriteFile(folder / "source", "new content");
    WriteFile(folder / "target", "old");
    EXPECT_TRUE(CopyFileContents(folder / "source", folder / "target"));
    EXPECT_EQ(ReadFile(folder / "target"), "new content");
    EXPECT_TRUE(CopyFileContents(folder / "source", folder / "fresh"));
    EXPECT_EQ(ReadFile(folder / "fresh"), "new content");

    WriteFile(folder / "target", "old");
    EXPECT_FALSE(CopyFileContents(folder / "missing", folder / "target"));
    EXPECT_EQ(ReadFile(folder / "target"), "old");
    EXPECT_FALSE(CopyFileContents(folder / "source", folder / "no/such/folder/target"));
    EXPECT_EQ(testsupport::NamesIn(folder.path()), (std::set<std::string>{"source", "target", "fresh"}));
}

TEST(DeleteFolderTree, LeavesDotFoldersAndFails) {
    testsupport::TempDir folder;
    fs::create_directories(folder / "root/.cache");
    WriteFile(folder / "root/.cache/entry", "e");
    EXPECT_FALSE(DeleteFolderTree(folder / "root/"));
    EXPECT_TRUE(FileExists(folder / "root/.cache/entry"));
}

}  // namespace
