#include "platform/posix/folder_inheritance.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <linux/limits.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <tuple>
#include <unistd.h>

namespace platform {

namespace {

constexpr char kDefaultAclName[] = "system.posix_acl_default";

// The extended attribute's form of an ACL: a 4-byte header, then 8-byte entries of a 16-bit tag, 16-bit
// permissions and a 32-bit id, each little-endian.
constexpr std::size_t kAclHeaderSize = 4;
constexpr std::size_t kAclEntrySize = 8;
constexpr unsigned kOwnerTag = 0x01;
constexpr unsigned kOwningGroupTag = 0x04;
constexpr unsigned kMaskTag = 0x10;
constexpr unsigned kOtherTag = 0x20;
constexpr std::size_t kNoEntry = std::string::npos;

// A folder for as long as it exists: one made later in a removed folder's inode has another birth time, where the
// file system keeps one.
using FolderKey = std::tuple<std::uint32_t, std::uint32_t, std::uint64_t, std::int64_t, std::uint32_t>;

FolderKey KeyOf(const struct statx& status) {
    const bool born = (status.stx_mask & STATX_BTIME) != 0;
    return {status.stx_dev_major, status.stx_dev_minor, status.stx_ino, born ? status.stx_btime.tv_sec : 0,
            born ? status.stx_btime.tv_nsec : 0};
}

// The folder's default ACL, empty when it has none (a file system without ACLs has none); false when it cannot
// be read.
bool ReadDefaultAcl(const std::string& folder, std::string& acl) {
    acl.resize(XATTR_SIZE_MAX);  // no attribute is larger
    const ssize_t size = ::getxattr(folder.c_str(), kDefaultAclName, acl.data(), acl.size());
    const bool read = size >= 0 || errno == ENODATA || errno == EOPNOTSUPP;
    acl.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
    acl.shrink_to_fit();
    return read;
}

// Default ACLs by folder: a mirror run places thousands of files into a handful of folders.
class DefaultAclCache {
public:
    bool Find(const std::string& folder, const struct statx& status, std::string& acl) {
        const std::lock_guard lock(mutex_);
        const auto [entry, added] = acls_.try_emplace(KeyOf(status));
        if (added && !ReadDefaultAcl(folder, entry->second)) {
            acls_.erase(entry);
            return false;
        }
        acl = entry->second;
        return true;
    }

private:
    std::mutex mutex_;
    std::map<FolderKey, std::string> acls_;
};

DefaultAclCache& DefaultAcls() {
    static DefaultAclCache cache;
    return cache;
}

unsigned TagAt(std::string_view acl, std::size_t entry) {
    const auto byte = [&acl](std::size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(acl[at])); };
    return byte(entry) | byte(entry + 1) << 8;
}

// Keeps only the permissions of the entry that the three bits (read, write, execute) allow.
void Narrow(std::string& acl, std::size_t entry, mode_t bits) {
    acl[entry + 2] = static_cast<char>(acl[entry + 2] & static_cast<char>(bits & 07));
}

}  // namespace

bool InheritanceOf(const std::string& folder, FolderInheritance& inheritance) {
    struct statx status {};
    if (::statx(AT_FDCWD, folder.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &status) != 0) return false;
    inheritance.group = (status.stx_mode & S_ISGID) != 0 ? status.stx_gid : ::getegid();
    return DefaultAcls().Find(folder, status, inheritance.defaultAcl);
}

std::string NarrowedAcl(std::string_view defaultAcl, mode_t mode) {
    std::string acl(defaultAcl);
    std::size_t groupClass = kNoEntry;  // the mask entry; the owning group's when there is no mask
    for (std::size_t entry = kAclHeaderSize; entry + kAclEntrySize <= acl.size(); entry += kAclEntrySize) {
        const unsigned tag = TagAt(acl, entry);
        if (tag == kOwnerTag) Narrow(acl, entry, mode >> 6);
        if (tag == kOtherTag) Narrow(acl, entry, mode);
        if (tag == kMaskTag || (tag == kOwningGroupTag && groupClass == kNoEntry)) groupClass = entry;
    }
    if (groupClass != kNoEntry) Narrow(acl, groupClass, mode >> 3);
    return acl;
}

}  // namespace platform
