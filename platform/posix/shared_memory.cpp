#include "platform/shared_memory.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr mode_t kBlockMode = 0600;
constexpr mode_t kOthersAccess = 077;

// /dev/shm is shared by every user, so only a block of our own that nobody else may open is trusted. That also
// keeps it from being shrunk under us. The block is read and written through its descriptor, never mapped:
// a mapped block that shrinks makes every access past its new end fault (SIGBUS), a read merely comes up short.
bool IsOwnPrivateBlock(int fd, std::size_t size) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
           (status.st_mode & kOthersAccess) == 0 && static_cast<std::size_t>(status.st_size) >= size;
}

void RemoveOwnLeftover(const std::string& name) {
    const int fd = ::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && status.st_uid == ::geteuid()) ::shm_unlink(name.c_str());
    ::close(fd);
}

int CreateBlock(const std::string& name, std::size_t size) {
    RemoveOwnLeftover(name);
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kBlockMode);
    if (fd < 0) return -1;
    // The file mode mask of this process may have taken away some of the owner's own rights.
    if (::fchmod(fd, kBlockMode) != 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int OpenBlock(const std::string& name, std::size_t size, SharedMemoryBlock::Opening opening) {
    const int fd = opening == SharedMemoryBlock::Opening::CreateFresh
                       ? CreateBlock(name, size)
                       : ::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0 || IsOwnPrivateBlock(fd, size)) return fd;
    ::close(fd);
    return -1;
}

}  // namespace

SharedMemoryBlock::SharedMemoryBlock(std::string name, std::size_t size, Opening opening)
    : name_(std::move(name)), size_(size) {
    if (size_ > 0) native_ = OpenBlock(name_, size_, opening);
}

SharedMemoryBlock::~SharedMemoryBlock() {
    if (IsOpen()) ::close(static_cast<int>(native_));
}

std::string SharedMemoryBlock::ReadText() const {
    if (!IsOpen()) return {};
    std::string text(size_, '\0');
    const ssize_t length = ::pread(static_cast<int>(native_), text.data(), text.size(), 0);
    text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    text.resize(std::min(text.find('\0'), text.size()));
    return text;
}

bool SharedMemoryBlock::WriteText(std::string_view text) {
    if (!IsOpen() || text.size() >= size_) return false;
    const std::string terminated = std::string(text) + '\0';
    return ::pwrite(static_cast<int>(native_), terminated.data(), terminated.size(), 0) ==
           static_cast<ssize_t>(terminated.size());
}

bool SharedMemoryBlock::Remove() { return ::shm_unlink(name_.c_str()) == 0; }

}  // namespace platform
