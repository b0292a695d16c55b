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

// A shared folder given in any form is the same folder from every current folder, and keeps the form it was given
// in: a network path or a literal (\\?\) path must never become a folder on the current drive.
TEST(AbsoluteFolder, KeepsEveryFormOfPathAndResolvesOnlyWhatIsRelative) {
    const std::string here = AddBackslash(Utf8Text(fs::current_path()));
    struct Case {
        std::string given;
        std::string expected;
    };
    const Case cases[] = {
        {"", ""},
        {"share", here + "share" + platform::kPathDelimiter},
#ifdef _WIN32
        {"sub\\..\\share/x\\", here + "share\\x\\"},
        {"C:\\a\\.\\b\\..\\c", "C:\\a\\c\\"},
        {"\\\\server\\Brellium Share\\", "\\\\server\\Brellium Share\\"},
        {"\\\\server\\share", "\\\\server\\share\\"},
        {"//server/share/old/../db/", "\\\\server\\share\\db\\"},
        {"\\\\?\\C:\\Brellium\\Share", "\\\\?\\C:\\Brellium\\Share\\"},
        {"\\\\?\\UNC\\server\\share\\", "\\\\?\\UNC\\server\\share\\"},
#else
        {"sub\\..\\share/x\\", here + "share/x/"},
        {"/a/./b/../c", "/a/c/"},
        {"/srv/Brellium Share/", "/srv/Brellium Share/"},
#endif
    };
    for (const Case& c : cases) EXPECT_EQ(AbsoluteFolder(c.given), c.expected) << c.given;
}

#ifdef _WIN32
// Below a literal path folders are made as below any other; a share that cannot be reached is never made into a
// local folder.
TEST(AbsoluteFolder, FoldersAreMadeBelowLiteralPathsAndNeverForAShareOutOfReach) {
    testsupport::TempDir folder;
    const std::string literal = "\\\\?\\" + AbsoluteFolder(folder.path()) + "new\\deeper\\";
    EXPECT_TRUE(platform::ForceDirectories(literal));
    EXPECT_TRUE(platform::DirectoryExists(folder / "new/deeper"));
    for (const char* share : {"\\\\nonexistent-host\\share\\", "\\\\nonexistent-host\\share\\sub\\",
                              "\\\\?\\UNC\\nonexistent-host\\share\\sub\\"}) {
        EXPECT_FALSE(platform::ForceDirectories(share)) << share;
    }
    EXPECT_FALSE(fs::exists("\\nonexistent-host"));
}
#endif

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
