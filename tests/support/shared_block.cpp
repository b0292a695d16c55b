#include "tests/support/shared_block.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

void PlantSharedBlock(const std::string& name, std::size_t size, mode_t mode, const std::string& text,
                      std::optional<uid_t> owner) {
    ::shm_unlink(name.c_str());
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    ASSERT_GE(fd, 0) << "cannot create " << name;
    std::string content = text;
    content.resize(size, '\0');
    const bool planted = ::fchmod(fd, mode) == 0 && ::ftruncate(fd, static_cast<off_t>(size)) == 0 &&
                         ::pwrite(fd, content.data(), content.size(), 0) == static_cast<ssize_t>(content.size()) &&
                         (!owner || ::fchown(fd, *owner, *owner) == 0);
    ::close(fd);
    EXPECT_TRUE(planted) << "cannot prepare " << name;
}

std::optional<std::string> SharedBlockText(const std::string& name) {
    const int fd = ::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    std::string content(4096, '\0');
    const ssize_t length = ::pread(fd, content.data(), content.size(), 0);
    ::close(fd);
    content.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return content.substr(0, content.find('\0'));
}

std::optional<mode_t> SharedBlockMode(const std::string& name) {
    const int fd = ::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    struct stat status {};
    const bool known = ::fstat(fd, &status) == 0;
    ::close(fd);
    if (!known) return std::nullopt;
    return status.st_mode & 07777;
}

}  // namespace testsupport
