#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <ostream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <tuple>
#include <unistd.h>

#include "tests/platform/child_process.h"
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

// What decides who may use a file: its group, its permission bits and its access ACL (the extended attribute's
// bytes; empty when it has none).
struct Rights {
    gid_t group = 0;
    mode_t mode = 0;
    std::string acl;
    bool operator==(const Rights&) const = default;
};

void PrintTo(const Rights& rights, std::ostream* out) {
    *out << "group " << rights.group << ", mode 0" << std::oct << rights.mode << ", ACL" << std::hex;
    for (const char byte : rights.acl) *out << ' ' << (static_cast<unsigned>(byte) & 0xff);
    *out << std::dec;
}

Rights RightsOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    char acl[1024];
    const ssize_t size = ::getxattr(path.c_str(), "system.posix_acl_access", acl, sizeof acl);
    return {status.st_gid, status.st_mode & 07777, std::string(acl, size > 0 ? static_cast<std::size_t>(size) : 0)};
}

// The rights the system gives a file created in the folder with `mode`: what a stored file must end with.
Rights CreatedIn(const std::string& folder, const std::string& name, mode_t mode) {
    const std::string path = folder + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    EXPECT_GE(fd, 0) << path;
    ::close(fd);
    return RightsOf(path);
}

// A folder with the given group and mode, and the default ACL setfacl makes of `defaultAcl` (none when empty).
// False when setfacl or the file system's ACLs are missing.
bool MakeFolder(const std::string& path, gid_t group, mode_t mode, const std::string& defaultAcl) {
    EXPECT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
    EXPECT_EQ(::chown(path.c_str(), 0, group), 0) << path;
    EXPECT_EQ(::chmod(path.c_str(), mode), 0) << path;
    return defaultAcl.empty() || std::system(("setfacl -d -m " + defaultAcl + " " + path).c_str()) == 0;
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
    platform::DurableFiles durable;
    durable.Note(dir / "target");
    EXPECT_TRUE(durable.Finish());
    durable.Note(dir / "missing");
    EXPECT_FALSE(durable.Finish());
    EXPECT_TRUE(durable.Finish());  // nothing is left noted after a Finish
    // Many files are forced several at once; one missing among them still fails the whole.
    for (const bool withMissing : {false, true}) {
        for (int i = 0; i < 20; ++i) {
            WriteFile(dir / ("f" + std::to_string(i)), "content");
            durable.Note(dir / ("f" + std::to_string(i)));
            if (withMissing && i == 13) durable.Note(dir / "missing");
        }
        EXPECT_EQ(durable.Finish(), !withMissing);
    }
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

// Clients in a share's group must be able to read what the mirror stores there, though it was made in the
// program's private temporary folder.
TEST(Files, AStoredFileGetsTheRightsOfAFileCreatedInItsFolder) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand folders to other groups";
    TempDir dir;
    constexpr gid_t kPrivateGroup = 1, kShareGroup = testsupport::kNobody;
    // A private folder with a group and an ACL of its own to hand down, neither of which may travel with a file.
    const std::string origin = dir / "private";
    if (!MakeFolder(origin, kPrivateGroup, 02700, "u:1:rwx")) GTEST_SKIP() << "no setfacl, or no ACLs here";
    const struct {
        const char* name;
        mode_t mode;
        const char* defaultAcl;
    } folders[] = {
        {"plain", 0755, ""},
        {"setgid", 02775, ""},
        {"shared", 02775, "u:65534:r-x"},       // the umask has no say here
        {"closed", 02770, "u:65534:r-x,o::---"},  // narrower than the bits the program asks for
    };
    const std::string elf = "\x7f" "ELF\x02\x01\x01";
    const mode_t savedMask = ::umask(0);
    for (const auto& folder : folders) {
        const std::string path = dir / folder.name;
        ASSERT_TRUE(MakeFolder(path, folder.mode & S_ISGID ? kShareGroup : 0, folder.mode, folder.defaultAcl));
        for (const mode_t mask : {027, 002}) {
            ::umask(mask);
            // A new data file, a new program, and a file that takes the place of one made there before.
            for (const auto& [content, mode, existing] :
                 {std::tuple{std::string("text"), 0644, false}, {elf, 0755, false}, {"text", 0660, true}}) {
                const std::string name = std::to_string(mask) + "-" + std::to_string(mode);
                const std::string written = path + "/written-" + name, moved = path + "/moved-" + name;
                const Rights expected = CreatedIn(path, existing ? "written-" + name : "reference-" + name, mode);
                if (existing) CreatedIn(path, "moved-" + name, mode);
                EXPECT_TRUE(platform::ReplaceFileWithBytes(written, content));
                EXPECT_EQ(RightsOf(written), expected) << written;
                WriteFile(origin + "/" + name, content);
                EXPECT_TRUE(platform::MoveFileOver(origin + "/" + name, moved));
                EXPECT_EQ(RightsOf(moved), expected) << moved;
                EXPECT_EQ(ReadFile(moved), content);
            }
        }
    }
    ::umask(savedMask);
}

// Only root may give a file a group it is not a member of: another user's file arrives as a copy made there.
TEST(Files, AFileOfAUserOutsideTheFoldersGroupIsCopiedIn) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string origin = dir / "private", share = dir / "share";
    ASSERT_TRUE(MakeFolder(origin, testsupport::kNobody, 0700, ""));
    ASSERT_EQ(::chown(origin.c_str(), testsupport::kNobody, testsupport::kNobody), 0);
    ASSERT_TRUE(MakeFolder(share, 1, 02777, ""));
    EXPECT_TRUE(platformtest::RunAsNobody([&] {
        const int fd = ::open((origin + "/new").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        const bool written = fd >= 0 && ::write(fd, "text", 4) == 4 && ::close(fd) == 0;
        return written && ::close(::open((share + "/reference").c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644)) == 0 &&
               platform::MoveFileOver(origin + "/new", share + "/new");
    }));
    EXPECT_EQ(RightsOf(share + "/new"), RightsOf(share + "/reference"));
    EXPECT_EQ(ReadFile(share + "/new"), "text");
    EXPECT_FALSE(testsupport::FileExists(origin + "/new"));
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
