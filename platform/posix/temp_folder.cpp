#include "platform/temp_folder.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "platform/exception.h"
#include "platform/posix/temp_folder_internal.h"

namespace platform {

namespace {

constexpr mode_t kPrivateMode = 0700;

// The fallback folders this process made: nobody else knows their names, so they go when it ends. A forked
// child inherits the list but not the folders, which stay with the process that made them.
class FallbackFolders {
public:
    void Add(const std::string& folder) {
        const std::lock_guard<std::mutex> lock(mutex_);
        folders_.push_back({folder, ::getpid()});
    }
    void RemoveAll() {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (const Folder& folder : folders_) {
            if (folder.maker != ::getpid()) continue;
            std::error_code ignored;  // nothing is left to report to when the process ends
            std::filesystem::remove_all(folder.path, ignored);  // links inside are removed, never followed
        }
        folders_.clear();
    }

private:
    struct Folder {
        std::string path;
        pid_t maker;
    };
    std::mutex mutex_;
    std::vector<Folder> folders_;
};

FallbackFolders& Fallbacks() {
    static FallbackFolders folders;
    // Registered once `folders` is complete, so the removal runs before it is destroyed.
    [[maybe_unused]] static const bool removedAtExit = std::atexit(RemoveTempFallbackFolders) == 0;
    return folders;
}

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
    if (::mkdtemp(fresh.data()) == nullptr) {
        const int error = errno;
        throw Exception("Cannot create the temporary folder \"" + folder + "/\". " +
                        std::generic_category().message(error));
    }
    Fallbacks().Add(fresh);
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
        // The base is taken only together with a folder, so a failure is met again on the next call.
        folder = PrivateTempFolderIn(currentBase, uid);
        base = currentBase;
    }
    return folder;
}

void RemoveTempFallbackFolders() { Fallbacks().RemoveAll(); }

}  // namespace platform
