// What a mapped file is on every system; each system maps and unmaps in its own mapped_file.cpp.
#include "platform/mapped_file.h"

#include <limits>
#include <utility>

#include "platform/common/mapped_file_internal.h"

namespace platform {

bool FitsAddressSpace(std::uint64_t size, const std::string& path, std::string& why) {
    if (size <= std::numeric_limits<std::size_t>::max() / 2) return true;
    why = "\"" + path + "\" is too large for this program's address space.";
    return false;
}

MappedFile::~MappedFile() { Unmap(); }

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        Unmap();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

}  // namespace platform
