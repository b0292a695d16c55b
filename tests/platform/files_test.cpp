#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

ino_t InodeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_ino;
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<platform::FolderEntry> entries;
    EXPECT_TRUE(platform::ListFolder(folder, entries)) << folder;
    std::vector<std::string> names;
    for (const auto& entry : entries) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
}

// Removes a tree the way the program's folder helpers do: links are entries of their own, never entered.
bool RemoveTree(const std::string& folder) {
    std::vector<platform::FolderEntry> entries;
    if (!platform::ListFolder(folder, entries)) return false;
    for (const auto& entry : entries) {
        const std::string path = folder + "/" + entry.name;
        const bool removed = entry.isFolder ? RemoveTree(path)
                                            : platform::MakeWritable(path) && platform::DeleteFile(path);
        if (!removed) return false;
    }
    return platform::RemoveDirectory(folder);
}

TEST(Files, ExistenceTellsFilesFoldersAndLinksApart) {
    TempDir dir;
    WriteFile(dir / "file", "x");
    ASSERT_TRUE(platform::CreateDirectory(dir / "folder"));
    ASSERT_EQ(::symlink((dir / "folder").c_str(), (dir / "folder-link").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "missing").c_str(), (dir / "dangling").c_str()), 0);

    EXPECT_TRUE(platform::FileExists(dir / "file"));
    EXPECT_FALSE(platform::FileExists(dir / "folder"));
    EXPECT_FALSE(platform::FileExists(dir / "folder-link"));
    EXPECT_TRUE(platform::FileExists(dir / "dangling"));  // the name is taken
    EXPECT_FALSE(platform::FileExists(dir / "missing"));
    EXPECT_TRUE(platform::DirectoryExists(dir / "folder-link"));
    EXPECT_FALSE(platform::DirectoryExists(dir / "file"));
    EXPECT_TRUE(platform::IsSymbolicLink(dir / "dangling"));
    ASSERT_EQ(::symlink((dir / "file").c_str(), (dir / "file-link").c_str()), 0);
    EXPECT_TRUE(platform::IsPlainFile(dir / "file"));
    EXPECT_TRUE(platform::IsPlainFile(dir / "file-link"));
    for (const char* other : {"folder", "folder-link", "dangling", "missing"})
        EXPECT_FALSE(platform::IsPlainFile(dir / other)) << other;
    EXPECT_FALSE(platform::IsPlainFile("/dev/null"));  // reading a device may never end
    EXPECT_FALSE(platform::CreateDirectory(dir / "folder"));
    EXPECT_TRUE(platform::ForceDirectories(dir / "a/b/c/"));
    EXPECT_TRUE(platform::DirectoryExists(dir / "a/b/c"));
    EXPECT_FALSE(platform::ForceDirectories(dir / "file/sub"));
}

TEST(Files, FileReadsWritesSeeksAndRefusesFolders) {
    TempDir dir;
    platform::File out;
    ASSERT_TRUE(out.Create(dir / "data"));
    EXPECT_TRUE(out.Write("hello world"));
    EXPECT_EQ(out.Size(), 11);
    out.Close();

    platform::File in;
    ASSERT_TRUE(in.OpenRead(dir / "data"));
    ASSERT_TRUE(in.Seek(6));
    char buffer[16] = {};
    std::size_t read = 0;
    EXPECT_TRUE(in.ReadFull(buffer, sizeof buffer, read));
    EXPECT_EQ(std::string(buffer, read), "world");
    EXPECT_EQ(in.Read(buffer, sizeof buffer), 0);

    EXPECT_FALSE(platform::File().OpenRead(dir.path()));
    EXPECT_FALSE(platform::File().OpenRead(dir / "missing"));
    std::int64_t size = -7;
    platform::File sized;
    ASSERT_TRUE(sized.OpenRead(dir / "data", size));
    EXPECT_EQ(size, 11);
    size = -7;
    EXPECT_FALSE(platform::File().OpenRead(dir.path(), size));
    EXPECT_FALSE(platform::File().OpenRead(dir / "missing", size));
    EXPECT_EQ(size, -7) << "a file that did not open gives no size";
    std::string content;
    EXPECT_FALSE(platform::ReadWholeFile(dir / "missing", content));
}

TEST(Files, EnumerationAndDeletionNeverFollowLinksOutOfTheTree) {
    TempDir outside;
    WriteFile(outside / "precious", "keep");
    ASSERT_EQ(::chmod((outside / "precious").c_str(), 0444), 0);
    TempDir dir;
    const std::string tree = dir / "tree";
    ASSERT_TRUE(platform::ForceDirectories(tree + "/sub"));
    WriteFile(tree + "/sub/read-only", "r");
    ASSERT_EQ(::chmod((tree + "/sub/read-only").c_str(), 0444), 0);
    ASSERT_EQ(::symlink(outside.path().c_str(), (tree + "/sub/folder-link").c_str()), 0);
    ASSERT_EQ(::symlink((outside / "precious").c_str(), (tree + "/file-link").c_str()), 0);

    std::vector<platform::FolderEntry> entries;
    ASSERT_TRUE(platform::ListFolder(tree + "/sub", entries));
    ASSERT_EQ(entries.size(), 2u);
    for (const auto& entry : entries) {
        EXPECT_FALSE(entry.isFolder) << entry.name;
        EXPECT_EQ(entry.isSymlink, entry.name == "folder-link") << entry.name;
    }
    EXPECT_EQ(Names(tree), (std::vector<std::string>{"file-link", "sub"}));

    EXPECT_TRUE(RemoveTree(tree));
    EXPECT_FALSE(platform::DirectoryExists(tree));
    EXPECT_EQ(ReadFile(outside / "precious"), "keep");
    EXPECT_EQ(ModeOf(outside / "precious"), 0444u);  // MakeWritable left the link's target alone
    EXPECT_FALSE(platform::ListFolder(tree, entries));
}

TEST(Files, DeferredReplacementsAreCompleteAndSyncedTogether) {
    TempDir dir;
    WriteFile(dir / "source", "new content");
    WriteFile(dir / "target", "old content");
    EXPECT_TRUE(platform::ReplaceFileWithCopy(dir / "source", dir / "target", platform::Durability::Deferred));
    EXPECT_FALSE(platform::ReplaceFileWithCopy(dir / "missing", dir / "target", platform::Durability::Deferred));
    EXPECT_EQ(ReadFile(dir / "target"), "new content");
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"source", "target"}));
    EXPECT_TRUE(platform::SyncFileSystem(dir.path()));
    EXPECT_FALSE(platform::SyncFileSystem(dir / "missing"));
}

TEST(Files, ReplaceKeepsTheOldFileUntilTheNewOneIsComplete) {
    TempDir dir;
    const std::string target = dir / "target";
    WriteFile(target, "old content");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);

    const bool replaced = platform::ReplaceFile(target, [](platform::File& output) {
        EXPECT_TRUE(output.Write("half of the new"));
        return false;  // the writer fails midway
    });
    EXPECT_FALSE(replaced);
    EXPECT_EQ(ReadFile(target), "old content");
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"target"}));

    EXPECT_FALSE(platform::ReplaceFileWithCopy(dir / "missing", target));
    EXPECT_EQ(ReadFile(target), "old content");

    WriteFile(dir / "source", "new content");
    EXPECT_TRUE(platform::ReplaceFileWithCopy(dir / "source", target));
    EXPECT_EQ(ReadFile(target), "new content");
    EXPECT_EQ(ModeOf(target), 0640u);
    EXPECT_TRUE(platform::ReplaceFileWithBytes(dir / "fresh", "bytes"));
    EXPECT_EQ(ReadFile(dir / "fresh"), "bytes");
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"fresh", "source", "target"}));

    ASSERT_TRUE(platform::CreateDirectory(dir / "folder"));
    EXPECT_FALSE(platform::ReplaceFileWithBytes(dir / "folder", "x"));
    EXPECT_TRUE(platform::DirectoryExists(dir / "folder"));
    EXPECT_FALSE(platform::ReplaceFileWithBytes(dir / "no-such-folder/file", "x"));
}

TEST(Files, ANewFileIsStartableWhenItHoldsAProgramAndAReplacedOneKeepsItsMode) {
    TempDir dir;
    const std::string elf = "\x7f" "ELF\x02\x01\x01";
    const mode_t savedMask = ::umask(022);
    EXPECT_TRUE(platform::ReplaceFileWithBytes(dir / "program", elf));
    // The mode follows the first bytes, even when they are written in pieces.
    EXPECT_TRUE(platform::ReplaceFile(dir / "script", [](platform::File& output) {
        return output.Write("#") && output.Write("!/bin/sh\n");
    }));
    for (const char* data : {"text", "#", "\x7f" "EL", " #!/bin/sh", ""}) {
        EXPECT_TRUE(platform::ReplaceFileWithBytes(dir / "data", data));
        EXPECT_EQ(ModeOf(dir / "data"), 0644u) << data;
        ASSERT_TRUE(platform::DeleteFile(dir / "data"));
    }
    EXPECT_EQ(ModeOf(dir / "program"), 0755u);
    EXPECT_EQ(ModeOf(dir / "script"), 0755u);

    WriteFile(dir / "text", "text");
    ASSERT_EQ(::chmod((dir / "text").c_str(), 0640), 0);
    EXPECT_TRUE(platform::ReplaceFileWithBytes(dir / "text", elf));
    EXPECT_EQ(ModeOf(dir / "text"), 0640u);

    ::umask(077);
    EXPECT_TRUE(platform::ReplaceFileWithBytes(dir / "private-program", elf));
    ::umask(savedMask);
    EXPECT_EQ(ModeOf(dir / "private-program"), 0700u);
}

TEST(Files, AMovedFileTakesTheTargetsPlaceWithTheModeACopyWouldGet) {
    TempDir dir;
    const std::string elf = "\x7f" "ELF\x02\x01\x01";
    const mode_t savedMask = ::umask(022);
    WriteFile(dir / "program.new", elf);
    ASSERT_EQ(::chmod((dir / "program.new").c_str(), 0600), 0);
    const ino_t inode = InodeOf(dir / "program.new");
    EXPECT_TRUE(platform::MoveFileOver(dir / "program.new", dir / "program", platform::Durability::Deferred));
    EXPECT_EQ(ReadFile(dir / "program"), elf);
    EXPECT_EQ(ModeOf(dir / "program"), 0755u);
    EXPECT_EQ(InodeOf(dir / "program"), inode);  // renamed, not written again
    EXPECT_FALSE(platform::FileExists(dir / "program.new"));

    WriteFile(dir / "kept", "old");
    ASSERT_EQ(::chmod((dir / "kept").c_str(), 0640), 0);
    WriteFile(dir / "kept.new", "new");
    EXPECT_TRUE(platform::MoveFileOver(dir / "kept.new", dir / "kept"));
    EXPECT_EQ(ReadFile(dir / "kept"), "new");
    EXPECT_EQ(ModeOf(dir / "kept"), 0640u);

    // A missing source or an impossible target leaves the target alone.
    EXPECT_FALSE(platform::MoveFileOver(dir / "missing", dir / "kept"));
    WriteFile(dir / "stray", "stray");
    EXPECT_FALSE(platform::MoveFileOver(dir / "stray", dir / "no-such-folder/stray"));
    EXPECT_EQ(ReadFile(dir / "kept"), "new");
    EXPECT_EQ(ReadFile(dir / "stray"), "stray");
    ::umask(savedMask);
}

// A private temporary folder often lies on another file system than the folder a file is meant for.
TEST(Files, AMoveAcrossFileSystemsCopiesAndRemovesTheSource) {
    TempDir dir;
    const std::string other = "/dev/shm/orvane-move-" + std::to_string(::getpid());
    WriteFile(other, "across");
    struct stat here {}, there {};
    ASSERT_EQ(::stat(dir.path().c_str(), &here), 0);
    ASSERT_EQ(::stat(other.c_str(), &there), 0);
    if (here.st_dev == there.st_dev) {
        platform::DeleteFile(other);
        GTEST_SKIP() << "/dev/shm shares the file system of the test folder";
    }
    const mode_t savedMask = ::umask(022);
    EXPECT_TRUE(platform::MoveFileOver(other, dir / "arrived"));
    ::umask(savedMask);
    EXPECT_EQ(ReadFile(dir / "arrived"), "across");
    EXPECT_FALSE(platform::FileExists(other));
    EXPECT_EQ(ModeOf(dir / "arrived"), 0644u);
}

TEST(Files, ReplaceSurvivesAFullDevice) {
    TempDir dir;
    const std::string target = dir / "target";
    WriteFile(target, "old content");
    // A file size limit makes write() fail with EFBIG: the same as a disk that fills up mid-copy.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool replaced = platform::ReplaceFileWithBytes(target, std::string(100000, 'n'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(replaced);
    EXPECT_EQ(ReadFile(target), "old content");
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"target"}));
}

}  // namespace
