// File helpers where POSIX is involved: file modes, shell scripts, symbolic links and $TMPDIR.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sys/stat.h>

#include "OVCommon/OVCommon.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

TEST(CopyFileContents, ANewCopyOfAProgramCanBeStarted) {
    testsupport::TempDir folder;
    WriteFile(folder / "source", "#!/bin/sh\necho ran > \"$1\"\n");
    ASSERT_TRUE(CopyFileContents(folder / "source", folder / "installed"));
    struct stat status {};
    ASSERT_EQ(::stat((folder / "installed").c_str(), &status), 0);
    ASSERT_NE(status.st_mode & S_IXUSR, 0u);
    EXPECT_TRUE(RunProgram(folder / "installed", "\"" + folder / "ran" + "\"", true));
    EXPECT_EQ(ReadFile(folder / "ran"), "ran\n");
}

TEST(TempFolderPath, NoTemporaryFolderIsAnErrorNeverARelativeName) {
    testsupport::TempDir folder;
    const std::string base = testsupport::FolderWithNoRoomBelow(folder);
    setenv("TMPDIR", base.c_str(), 1);
    EXPECT_THROW(TempFolderPath(), Exception);
    try {
        const std::string name = TempFileName();
        ADD_FAILURE() << "named \"" << name << '"';
    } catch (const Exception& failure) {
        EXPECT_NE(failure.Message().find(base + "/orvane-"), std::string::npos) << failure.Message();
    }
    unsetenv("TMPDIR");
}

TEST(TempFileName, DrawsTheUnseededSequenceAndSkipsTakenNames) {
    // The private temporary folder follows $TMPDIR, so this test has one of its own.
    testsupport::TempDir base;
    setenv("TMPDIR", base.path().c_str(), 1);
    const std::string temp = TempFolderPath();
    ASSERT_EQ(temp.rfind(base.path(), 0), 0u) << temp;
    EXPECT_EQ(temp.back(), '/');

    RandomState = 0;
    const std::vector<int32_t> draws = {RandomDraw(1000), RandomDraw(1000), RandomDraw(1000), RandomDraw(1000),
                                        RandomDraw(1000)};
    EXPECT_EQ(draws, (std::vector<int32_t>{0, 31, 861, 202, 272}));

    RandomState = 0;
    EXPECT_EQ(TempFileName(), temp + "0");
    WriteFile(temp + "861", "");
    fs::create_directory(temp + "862");
    EXPECT_EQ(TempFileName(), temp + "31");
    EXPECT_EQ(TempFileName(), temp + "863");
    EXPECT_FALSE(FileExists(temp + "863"));
    unsetenv("TMPDIR");
}

TEST(DeleteFolderTree, RemovesEverythingButNeverFollowsLinks) {
    testsupport::TempDir folder;
    testsupport::TempDir outside;
    WriteFile(outside / "keep.txt", "keep");
    const std::string root = folder / "root";
    fs::create_directories(root + "/sub/deeper");
    WriteFile(root + "/readonly.txt", "r");
    fs::permissions(root + "/readonly.txt", fs::perms::owner_read);
    WriteFile(root + "/.hidden", "h");
    WriteFile(root + "/sub/deeper/file", "f");
    fs::create_directory_symlink(outside.path(), root + "/sub/linked-folder");
    fs::create_symlink(outside / "keep.txt", root + "/linked-file");

    EXPECT_TRUE(DeleteFolderTree(root));
    EXPECT_FALSE(FileExists(root));
    EXPECT_EQ(testsupport::NamesIn(outside.path()), std::set<std::string>{"keep.txt"});
    EXPECT_EQ(ReadFile(outside / "keep.txt"), "keep");

    EXPECT_FALSE(DeleteFolderTree(root));
    EXPECT_FALSE(DeleteFolderTree(outside / "keep.txt"));
    fs::create_directory_symlink(outside.path(), folder / "link");
    EXPECT_FALSE(DeleteFolderTree(folder / "link/"));
    EXPECT_TRUE(FileExists(outside / "keep.txt"));
}

TEST(CopyFolderFiles, CopiesOnlyPlainFilesOfTheTopLevel) {
    testsupport::TempDir source;
    testsupport::TempDir target;
    WriteFile(source / "a.txt", "a");
    WriteFile(source / "b.bin", std::string("\0b", 2));
    WriteFile(source / ".dot", "d");
    fs::create_directory(source / "sub");
    WriteFile(source / "sub/inner", "i");
    fs::create_symlink(source / "a.txt", source / "link");
    WriteFile(target / "a.txt", "old");

    CopyFolderFiles(source.path(), target.path().substr(0, target.path().size() - 1));
    EXPECT_EQ(testsupport::NamesIn(target.path()), (std::set<std::string>{"a.txt", "b.bin"}));
    EXPECT_EQ(ReadFile(target / "a.txt"), "a");
    EXPECT_EQ(ReadFile(target / "b.bin"), std::string("\0b", 2));

    CopyFolderFiles(source.path(), target / "missing");
    EXPECT_FALSE(FileExists(target / "missing"));
}

}  // namespace
