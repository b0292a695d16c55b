#pragma once
// A whole file mapped into memory: an existing file to read without copying it, or a new file of a fixed size to
// write through memory. Its pages belong to the file, so the system writes them back and drops them as it needs:
// a large file costs address space, not memory.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps an existing regular file for reading; an empty file maps as no bytes. False with `why` set (one line,
    // naming the file) when it cannot be opened or does not fit into the address space.
    bool MapForReading(const std::string& path, std::string& why);
    // Creates the file, or truncates it, at `size` bytes and maps it for writing. False with `why` set.
    bool CreateForWriting(const std::string& path, std::uint64_t size, std::string& why);
    // Unmaps; written pages stay the file's.
    void Unmap();

    const char* Data() const { return static_cast<const char*>(data_); }
    char* WritableData() { return static_cast<char*>(data_); }
    std::size_t Size() const { return size_; }

private:
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

// Runs work(context), which reads or writes mapped files, and tells whether it ran to its end: false when a
// mapped file was cut short beneath it by someone else, which the system reports as a fault on the pages that are
// gone. The work is left where the fault struck, so nothing in it may need cleaning up: plain code only, and
// everything it touched is the caller's to discard. (Windows refuses to cut short a file while it is mapped.)
bool RunOverMappedFiles(void (*work)(void* context), void* context);

}  // namespace platform
