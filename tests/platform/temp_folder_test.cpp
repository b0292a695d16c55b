#include "platform/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/exception.h"
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

std::string PrivateName(const std::string& base) { return base + "/orvane-" + std::to_string(::geteuid()); }

// The message of the Exception the call raises; empty (and a test failure) when it returns.
template <typename Call>
std::string FailureMessage(Call call) {
    try {
        const std::string result = call();
        ADD_FAILURE() << "returned \"" << result << '"';
    } catch (const Exception& failure) {
        return failure.Message();
    }
    return {};
}

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

TEST(TempFolder, NoFolderAtAllIsAnErrorThatNamesIt) {
    TempDir dir;
    const std::string base = testsupport::FolderWithNoRoomBelow(dir);
    const std::string message = FailureMessage([&] { return platform::PrivateTempFolderIn(base, ::geteuid()); });
    EXPECT_NE(message.find(PrivateName(base)), std::string::npos) << message;

    // Through $TMPDIR: the folder that served before is not handed out instead, on the first call or a later one.
    const std::string before = platform::PrivateTempFolder();
    ::setenv("TMPDIR", base.c_str(), 1);
    const std::string first = FailureMessage([] { return platform::PrivateTempFolder(); });
    const std::string again = FailureMessage([] { return platform::PrivateTempFolder(); });
    ::unsetenv("TMPDIR");
    EXPECT_NE(first.find(PrivateName(base)), std::string::npos) << first;
    EXPECT_EQ(again, first);
    EXPECT_EQ(platform::PrivateTempFolder(), before);
}

TEST(TempFolder, FallbackFoldersAreRemovedWhenTheProcessEnds) {
    TempDir dir;
    const std::string name = PrivateName(Base(dir));
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), name.c_str()), 0);
    const auto useFallbackAndEnd = [&] {
        ::setenv("TMPDIR", dir.path().c_str(), 1);
        const std::string folder = platform::PrivateTempFolder();
        const bool filled = folder.starts_with(name + "-") && platform::ForceDirectories(folder + "BR/sub") &&
                            platform::ReplaceFileWithBytes(folder + "BR/sub/file", "content");
        std::exit(filled ? 0 : 1);
    };
    EXPECT_EXIT(useFallbackAndEnd(), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(testsupport::NamesIn(dir.path()), std::set<std::string>{"orvane-" + std::to_string(::geteuid())});

    // A forked child that ends leaves the fallback of the process that made it alone.
    const std::string ours = platform::PrivateTempFolderIn(Base(dir), ::geteuid());
    EXPECT_EXIT(std::exit(0), ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(platform::DirectoryExists(ours));
}

}  // namespace
