#pragma once
// A named block of shared memory for handing a short text from one process to another.
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

class SharedMemoryBlock {
public:
    // Creates the block of that name ("/NAME") with `size` bytes, or opens it when it exists already (an
    // existing smaller block is grown). IsOpen() tells whether that worked.
    SharedMemoryBlock(std::string name, std::size_t size);
    ~SharedMemoryBlock();
    SharedMemoryBlock(const SharedMemoryBlock&) = delete;
    SharedMemoryBlock& operator=(const SharedMemoryBlock&) = delete;

    bool IsOpen() const { return data_ != nullptr; }
    // The zero-terminated text at the start of the block (the whole block when no zero is there); empty when
    // the block is not open.
    std::string ReadText() const;
    // Writes the text and a terminating zero; false when it does not fit or the block is not open.
    bool WriteText(std::string_view text);
    // Removes the name, so the next create starts from an empty block; the mapping stays usable.
    bool Remove();

private:
    std::string name_;
    std::size_t size_ = 0;
    char* data_ = nullptr;
};

}  // namespace platform
