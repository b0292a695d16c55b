#include "platform/run_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <utility>

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

}  // namespace platform
