#include "platform/shared_memory.h"

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr mode_t kBlockMode = 0600;

// Makes the object at least `size` bytes long and maps that much of it read/write.
char* MapBlock(int fd, std::size_t size) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return nullptr;
    if (static_cast<std::size_t>(status.st_size) < size && ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        return nullptr;
    }
    void* view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return view == MAP_FAILED ? nullptr : static_cast<char*>(view);
}

}  // namespace

SharedMemoryBlock::SharedMemoryBlock(std::string name, std::size_t size) : name_(std::move(name)), size_(size) {
    if (size_ == 0) return;
    const int fd = ::shm_open(name_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kBlockMode);
    if (fd < 0) return;
    data_ = MapBlock(fd, size_);
    ::close(fd);  // the mapping keeps the object alive
}

SharedMemoryBlock::~SharedMemoryBlock() {
    if (data_ != nullptr) ::munmap(data_, size_);
}

std::string SharedMemoryBlock::ReadText() const {
    if (data_ == nullptr) return {};
    return std::string(data_, ::strnlen(data_, size_));
}

bool SharedMemoryBlock::WriteText(std::string_view text) {
    if (data_ == nullptr || text.size() >= size_) return false;
    std::memcpy(data_, text.data(), text.size());
    data_[text.size()] = '\0';
    return true;
}

bool SharedMemoryBlock::Remove() { return ::shm_unlink(name_.c_str()) == 0; }

}  // namespace platform
