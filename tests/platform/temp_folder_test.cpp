#include "platform/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/posix/temp_folder_internal.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;

struct stat StatusOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status;
}

std::string Base(const TempDir& dir) { return dir.path().substr(0, dir.path().size() - 1); }

TEST(TempFolder, IsPrivateAndReused) {
    TempDir dir;
    const uid_t uid = ::geteuid();
    const std::string expected = dir / ("orvane-" + std::to_string(uid) + "/");
    EXPECT_EQ(platform::PrivateTempFolderIn(Base(dir), uid), expected);
    EXPECT_EQ(StatusOf(expected).st_mode & 07777, 0700u);

    ASSERT_EQ(::chmod(expected.c_str(), 0777), 0);  // widened by someone: narrowed again
    EXPECT_EQ(platform::PrivateTempFolderIn(Base(dir), uid), expected);
    EXPECT_EQ(StatusOf(expected).st_mode & 07777, 0700u);

    const std::string folder = platform::PrivateTempFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(platform::DirectoryExists(folder));
    EXPECT_EQ(platform::PrivateTempFolder(), folder);
}

TEST(TempFolder, FollowsTmpdirAndFallsBackToTmp) {
    TempDir dir;
    const char* saved = std::getenv("TMPDIR");
    const std::string previous = saved != nullptr ? saved : "";
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    const std::string inTmpdir = platform::PrivateTempFolder();
    ::setenv("TMPDIR", (dir / "missing").c_str(), 1);
    const std::string inTmp = platform::PrivateTempFolder();
    saved != nullptr ? ::setenv("TMPDIR", previous.c_str(), 1) : ::unsetenv("TMPDIR");

    EXPECT_EQ(inTmpdir, dir / ("orvane-" + std::to_string(::geteuid()) + "/"));
    EXPECT_EQ(inTmp.rfind("/tmp/orvane-", 0), 0u) << inTmp;
}

TEST(TempFolder, ALinkOrAFileInPlaceOfTheFolderIsNeverUsed) {
    TempDir dir;
    TempDir victim;
    const uid_t uid = ::geteuid();
    const std::string name = dir / ("orvane-" + std::to_string(uid));
    ASSERT_EQ(::symlink(victim.path().c_str(), name.c_str()), 0);

    const std::string folder = platform::PrivateTempFolderIn(Base(dir), uid);
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder, name + "/");
    EXPECT_EQ(folder.rfind(name + "-", 0), 0u) << folder;
    EXPECT_TRUE(S_ISDIR(StatusOf(folder.substr(0, folder.size() - 1)).st_mode));
    EXPECT_EQ(StatusOf(folder).st_mode & 07777, 0700u);
    EXPECT_EQ(StatusOf(victim.path()).st_mode & 07777, 0700u);  // the link's target was not changed
    EXPECT_TRUE(platform::IsSymbolicLink(name));

    TempDir other;
    testsupport::WriteFile(other / ("orvane-" + std::to_string(uid)), "");
    const std::string beside = platform::PrivateTempFolderIn(Base(other), uid);
    EXPECT_NE(beside, other / ("orvane-" + std::to_string(uid) + "/"));
    EXPECT_TRUE(platform::DirectoryExists(beside));
}

TEST(TempFolder, SomeoneElsesFolderIsNeverUsed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand a folder to another user";
    TempDir dir;
    const uid_t uid = ::geteuid();
    const std::string name = dir / ("orvane-" + std::to_string(uid));
    ASSERT_EQ(::mkdir(name.c_str(), 0700), 0);
    ASSERT_EQ(::chown(name.c_str(), 65534, 65534), 0);

    const std::string folder = platform::PrivateTempFolderIn(Base(dir), uid);
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder, name + "/");
    EXPECT_EQ(StatusOf(folder).st_uid, uid);
    EXPECT_EQ(StatusOf(name).st_uid, 65534u);
}

}  // namespace
