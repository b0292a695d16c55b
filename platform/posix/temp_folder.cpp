#include "platform/temp_folder.h"

#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/temp_folder_internal.h"

namespace platform {

namespace {

constexpr mode_t kPrivateMode = 0700;

// A real folder (not a link) of that user. Its permissions are narrowed to the owner when they are wider.
bool IsPrivateFolderOf(const std::string& folder, uid_t uid) {
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != uid) return false;
    return (status.st_mode & 07777) == kPrivateMode || ::chmod(folder.c_str(), kPrivateMode) == 0;
}

// $TMPDIR when it names a folder, else /tmp.
std::string SystemTempBase() {
    const char* tmpdir = std::getenv("TMPDIR");
    struct stat status {};
    const bool usable = tmpdir != nullptr && ::stat(tmpdir, &status) == 0 && S_ISDIR(status.st_mode);
    std::string base = usable ? tmpdir : "/tmp";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base;
}

}  // namespace

std::string PrivateTempFolderIn(const std::string& base, uid_t uid) {
    const std::string folder = base + "/orvane-" + std::to_string(uid);
    ::mkdir(folder.c_str(), kPrivateMode);
    if (IsPrivateFolderOf(folder, uid)) return folder + "/";
    // Someone else holds the name (or it is a link): never use it, take an unguessable folder instead.
    std::string fresh = folder + "-XXXXXX";
    if (::mkdtemp(fresh.data()) == nullptr) return {};
    return fresh + "/";
}

std::string PrivateTempFolder() {
    static std::mutex mutex;
    static std::string base;
    static std::string folder;
    const std::lock_guard<std::mutex> lock(mutex);
    const uid_t uid = ::geteuid();
    const std::string currentBase = SystemTempBase();
    // Checked on every call: a changed $TMPDIR is followed, and a folder removed meanwhile (a cleaner of /tmp)
    // is made again. (The check drops the trailing '/', which would make lstat follow a link.)
    if (currentBase != base || folder.empty() || !IsPrivateFolderOf(folder.substr(0, folder.size() - 1), uid)) {
        base = currentBase;
        folder = PrivateTempFolderIn(base, uid);
    }
    return folder;
}

}  // namespace platform
