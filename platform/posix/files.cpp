#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "platform/posix/folder_inheritance.h"
#include "platform/temporary_paths.h"

namespace platform {

namespace {

constexpr mode_t kCreatedFileMode = 0666;
constexpr mode_t kNewFolderMode = 0777;
// A file that takes the place of none: a program or script must be startable, as it would be on Windows.
constexpr mode_t kNewDataFileMode = 0644;
constexpr mode_t kNewProgramFileMode = 0755;
constexpr char kAccessAclName[] = "system.posix_acl_access";

bool OpenDescriptor(int& fd, const std::string& path, int flags) {
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, kCreatedFileMode);
    } while (fd < 0 && errno == EINTR);
    return fd >= 0;
}

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// True when the open file starts like something the system can start: an ELF executable or a "#!" script.
bool StartsLikeProgram(int fd) {
    char head[4] = {};
    const ssize_t count = ::pread(fd, head, sizeof head, 0);
    const std::string_view start(head, count > 0 ? static_cast<std::size_t>(count) : 0);
    return start.starts_with("\x7f" "ELF") || start.starts_with("#!");
}

// Opens an existing file, not a folder, for reading, and tells its status.
bool OpenReadWithStatus(File& file, const std::string& path, struct stat& status) {
    file.Close();
    int fd = -1;
    if (!OpenDescriptor(fd, path, O_RDONLY)) return false;
    File opened(fd);
    if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) return false;
    file = std::move(opened);
    return true;
}

// The bits a new file asks for: a program or script must be startable, as it would be on Windows. Where the
// folder has a default ACL the system leaves the umask out, and so do we.
mode_t NewFileMode(int contentFd, bool folderHasDefaultAcl) {
    const mode_t mode = StartsLikeProgram(contentFd) ? kNewProgramFileMode : kNewDataFileMode;
    return folderHasDefaultAcl ? mode : mode & ~CurrentUmask();
}

// An ACL that came with a file from elsewhere goes; one that is not there, or cannot be, is no failure.
bool DropAccessAcl(int fd) {
    return ::fremovexattr(fd, kAccessAclName) == 0 || errno == ENODATA || errno == EOPNOTSUPP;
}

// Gives the open file that is to take the target's place the permission bits and ACL it would have had if it had
// been created there: an existing target's bits, kept exactly (chmod after the ACL sets the owner, mask and other
// entries from them), or a new file's, narrowed by the folder's default ACL as the system narrows them.
bool GiveFolderAccess(int fd, const std::string& target, const FolderInheritance& folder, bool madeElsewhere) {
    struct stat old {};
    const bool replaces = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    const bool inherits = !folder.defaultAcl.empty();
    const mode_t mode = replaces ? old.st_mode & 07777 : NewFileMode(fd, inherits);
    if (!inherits) return (!madeElsewhere || DropAccessAcl(fd)) && ::fchmod(fd, mode) == 0;
    const std::string acl = NarrowedAcl(folder.defaultAcl, mode);
    return ::fsetxattr(fd, kAccessAclName, acl.data(), acl.size(), 0) == 0 && (!replaces || ::fchmod(fd, mode) == 0);
}

// Gives the file the group a file created in the folder gets; false when the process may not (only root may give
// a group it is not a member of).
bool GiveFolderGroup(int fd, gid_t current, const FolderInheritance& folder) {
    return current == folder.group || ::fchown(fd, static_cast<uid_t>(-1), folder.group) == 0;
}

// For a move that cannot be a rename: the copy is created in the target's folder, which gives it what it gives
// every new file.
bool CopyOver(const std::string& source, const std::string& target, Durability durability) {
    if (!ReplaceFileWithCopy(source, target, durability)) return false;
    DeleteFile(source);
    return true;
}

// A uniquely named file beside the target; removed again unless it was renamed over the target, also when the
// process is ended by a signal while writing it.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target)
        : path_(ParentFolder(target) + "/." + BaseName(target) + ".XXXXXX") {}

    // Creates the file with a unique name and opens `file` on it.
    bool Create(File& file) {
        const int fd = ::mkostemp(path_.data(), O_CLOEXEC);
        if (fd < 0) return false;
        registered_.emplace(path_, TemporaryPath::Kind::File);
        file = File(fd);
        return true;
    }
    bool RenameOver(const std::string& target) { return ::rename(path_.c_str(), target.c_str()) == 0; }

private:
    std::string path_;
    std::optional<TemporaryPath> registered_;  // removes what is still at the path when it goes
};

}  // namespace

const char kPathDelimiter = '/';

bool File::OpenRead(const std::string& path) {
    std::int64_t size = 0;
    return OpenRead(path, size);
}

bool File::OpenRead(const std::string& path, std::int64_t& size) {
    struct stat status {};
    if (!OpenReadWithStatus(*this, path, status)) return false;
    size = status.st_size;
    return true;
}

RegularOpen OpenRegularFile(File& file, const std::string& path, std::int64_t& size) {
    file.Close();
    int fd = -1;
    if (!OpenDescriptor(fd, path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK))
        return errno == ENOENT ? RegularOpen::Missing : errno == ELOOP ? RegularOpen::NotRegular : RegularOpen::Failed;
    File opened(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0) return RegularOpen::Failed;
    if (!S_ISREG(status.st_mode)) return RegularOpen::NotRegular;
    size = status.st_size;
    file = std::move(opened);
    return RegularOpen::Opened;
}

bool File::Create(const std::string& path) {
    Close();
    return OpenDescriptor(fd_, path, O_WRONLY | O_CREAT | O_TRUNC);
}

void File::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::ptrdiff_t File::Read(void* buffer, std::size_t size) {
    if (fd_ < 0) return -1;
    for (;;) {
        const ssize_t count = ::read(fd_, buffer, size);
        if (count >= 0 || errno != EINTR) return count;
    }
}

bool File::Write(const void* buffer, std::size_t size) {
    if (fd_ < 0) return false;
    const char* bytes = static_cast<const char*>(buffer);
    while (size > 0) {
        const ssize_t count = ::write(fd_, bytes, size);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        bytes += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

std::int64_t File::Size() const {
    struct stat status {};
    if (fd_ < 0 || ::fstat(fd_, &status) != 0) return -1;
    return status.st_size;
}

bool File::Seek(std::int64_t position) {
    return fd_ >= 0 && position >= 0 && ::lseek(fd_, position, SEEK_SET) == position;
}

bool File::Sync() { return fd_ >= 0 && ::fsync(fd_) == 0; }

bool FileExists(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return false;
    if (S_ISLNK(status.st_mode)) return !DirectoryExists(path);
    return !S_ISDIR(status.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsPlainFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool IsSymbolicLink(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

std::string ResolvedPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    return error ? std::string() : resolved.string();
}

bool IsRelativePath(const std::string& path) { return !path.starts_with('/'); }

std::string LastFileError() { return std::strerror(errno); }

bool CreateDirectory(const std::string& path) { return ::mkdir(path.c_str(), kNewFolderMode) == 0; }

bool ForceDirectories(const std::string& path) {
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.empty() || DirectoryExists(folder)) return !folder.empty();
    const std::string parent = ParentFolder(folder);
    if (parent != folder && !ForceDirectories(parent)) return false;
    if (CreateDirectory(folder)) return true;
    // Made meanwhile by another run, it is there all the same; otherwise the reason it could not be made stays.
    const int reason = errno;
    if (DirectoryExists(folder)) return true;
    errno = reason;
    return false;
}

bool RemoveDirectory(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

bool MakeWritable(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return false;
    if (S_ISLNK(status.st_mode) || (status.st_mode & S_IWUSR) != 0) return true;
    return ::chmod(path.c_str(), (status.st_mode & 07777) | S_IWUSR) == 0;
}

namespace {

// Hands the folder's descriptor and each entry's name ("." and ".." left out) to `visit`.
bool ForEachName(const std::string& folder, const std::function<void(int folderFd, const char* name)>& visit) {
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) return false;
    while (const dirent* item = ::readdir(directory))
        if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
            visit(::dirfd(directory), item->d_name);
    ::closedir(directory);
    return true;
}

}  // namespace

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
    entries.clear();
    return ForEachName(folder, [&](int folderFd, const char* name) {
        struct stat status {};
        if (::fstatat(folderFd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return;  // gone meanwhile
        entries.push_back({name, S_ISDIR(status.st_mode), S_ISLNK(status.st_mode)});
    });
}

bool ListFolderNames(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    return ForEachName(folder, [&](int, const char* name) { names.emplace_back(name); });
}

bool ReplaceFile(const std::string& target, const std::function<bool(File& output)>& writer, Durability durability) {
    TemporaryFile temporary(target);
    File output;
    if (!temporary.Create(output) || !writer(output)) return false;
    // Only the written content tells whether a new file is a program. Made in the folder, the file has the
    // folder's group already.
    FolderInheritance folder;
    if (!InheritanceOf(ParentFolder(target), folder) ||
        !GiveFolderAccess(output.Descriptor(), target, folder, false))
        return false;
    if (durability == Durability::Synced && !output.Sync()) return false;
    // Deferred, its writeback still starts now, in the background: it is mostly done when DurableFiles waits.
    if (durability == Durability::Deferred) ::sync_file_range(output.Descriptor(), 0, 0, SYNC_FILE_RANGE_WRITE);
    output.Close();
    return temporary.RenameOver(target);
}

bool MoveFileOver(const std::string& source, const std::string& target, Durability durability) {
    File moved;
    struct stat status {};
    FolderInheritance folder;
    if (!OpenReadWithStatus(moved, source, status) || !InheritanceOf(ParentFolder(target), folder)) return false;
    // The file was made in another folder: it gets what this one would have given it before it arrives.
    if (!GiveFolderGroup(moved.Descriptor(), status.st_gid, folder)) {
        moved.Close();
        return CopyOver(source, target, durability);
    }
    if (!GiveFolderAccess(moved.Descriptor(), target, folder, true)) return false;
    if (durability == Durability::Synced && !moved.Sync()) return false;
    moved.Close();
    if (::rename(source.c_str(), target.c_str()) == 0) return true;
    return errno == EXDEV && CopyOver(source, target, durability);
}

void StartWriteback(const std::string& path) {
    File file;
    if (file.OpenRead(path)) ::sync_file_range(file.Descriptor(), 0, 0, SYNC_FILE_RANGE_WRITE);
}

void DurableFiles::Note(const std::string& path) { files_.push_back(path); }

// Several at once: each forced file ends with a flush of the device's cache, and flushes asked for while one is
// under way are served together by the next, so that thousands of small files do not wait for thousands of flushes
// one after the other.
bool DurableFiles::Finish() {
    constexpr std::size_t MostThreads = 8;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> durable{true};
    const auto force = [&] {
        for (std::size_t i; (i = next++) < files_.size();) {
            File file;
            if (!file.OpenRead(files_[i]) || ::fdatasync(file.Descriptor()) != 0) durable = false;
        }
    };
    std::vector<std::thread> helpers;
    for (std::size_t count = 1; count < std::min(MostThreads, files_.size()); ++count) helpers.emplace_back(force);
    force();
    for (std::thread& helper : helpers) helper.join();
    std::set<std::string> folders;
    for (const std::string& path : files_) folders.insert(ParentFolder(path));
    // The new names last: a folder entry never leads to content that is not on the device yet.
    for (const std::string& folder : folders)
        if (!FlushFolder(folder)) durable = false;
    files_.clear();
    return durable;
}

bool FlushFolder(const std::string& folder) {
    File anchor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return anchor.IsOpen() && ::fsync(anchor.Descriptor()) == 0;
}

}  // namespace platform
