#pragma once
// A named block of shared memory for handing a short text from one process to another of the same user.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class SharedMemoryBlock {
public:
    enum class Opening {
        CreateFresh,   // a new, empty block; a leftover of this user is removed first, while one of another
                       // user is left alone and makes the creation fail
        OpenExisting,  // the block that another process of this user created
    };

    // Opens the block of that name ("/NAME"), which must have at least `size` bytes. A block that belongs to
    // another user, or that other users may open, is refused. IsOpen() tells whether that worked.
    SharedMemoryBlock(std::string name, std::size_t size, Opening opening);
    ~SharedMemoryBlock();
    SharedMemoryBlock(const SharedMemoryBlock&) = delete;
    SharedMemoryBlock& operator=(const SharedMemoryBlock&) = delete;

    bool IsOpen() const { return native_ != kClosed; }
    // The zero-terminated text at the start of the block (the whole block when no zero is there); empty when
    // the block is not open.
    std::string ReadText() const;
    // Writes the text and a terminating zero; false when it does not fit or the block is not open.
    bool WriteText(std::string_view text);
    // Removes the name, so the next create starts from an empty block; the open block stays usable.
    bool Remove();

private:
    static constexpr std::intptr_t kClosed = -1;

    std::string name_;
    std::size_t size_ = 0;
    std::intptr_t native_ = kClosed;  // the system's handle of the open block
};

}  // namespace platform
