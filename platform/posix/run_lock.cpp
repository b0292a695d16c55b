#include "platform/run_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <utility>

#include "platform/common/temporary_paths_internal.h"

namespace platform {

namespace {

// Every user who may run the program may need the file: it is made with 0666 less the umask, and one that another
// user made, and this one may only read, serves as well (the lock needs no writing, except over NFS). A link is
// refused: in a shared folder it could lead anywhere.
int OpenLockFile(const std::string& path) {
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW;
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_RDONLY | kFlags);
    return fd;
}

}  // namespace

RunLockState RunLock::TryLock(const std::string& path) {
    File file(OpenLockFile(path));
    if (!file.IsOpen()) return RunLockState::Unavailable;
    if (::flock(file.Descriptor(), LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK || errno == EINTR ? RunLockState::Busy : RunLockState::Unavailable;
    file_ = std::move(file);
    return RunLockState::Held;
}

// Removed while the mark is held: a run that has just made this folder and tries its mark now finds it taken, or
// gone, and takes another folder.
bool RemoveAbandonedFolder(const std::string& folder) {
    const RunLock mark(folder + kInUseMark, std::chrono::milliseconds(0));
    if (mark.State() != RunLockState::Held) return false;
    RemoveTemporary(folder.c_str(), TemporaryPath::Kind::Folder);
    return !DirectoryExists(folder);
}

}  // namespace platform
