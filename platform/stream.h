#pragma once
// Byte streams with a position and a size, the common currency of the XML, HTTP and file-handling layers:
// a download appends to a stream, a document loads from one, a failed transfer cuts one back.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/exception.h"

class EStreamError : public Exception {
public:
    using Exception::Exception;
};
// Raised when a file cannot be opened or created; the message names the file and the system's reason.
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to count bytes at the position; returns how many arrived (0 at the end). A failing read raises
    // EStreamError.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes count bytes at the position, growing the stream as needed; returns how many were written.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Moves the position; returns the new one. Positions beyond the end are allowed (a later write fills the gap).
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    // Grows (zero-filled) or cuts the stream; the position is clamped to the new size.
    virtual void SetSize(int64_t size) = 0;
    virtual int64_t Size();

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

    // Whole-buffer forms: anything short raises EStreamError.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    void WriteText(const std::string& text) { WriteBuffer(text.data(), static_cast<int64_t>(text.size())); }
};

// A stream held in memory.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string initial) : data_(std::move(initial)) {}

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }

    // The whole content, independent of the position.
    const std::string& Data() const { return data_; }
    // Room for the given size, so that growing up to it copies nothing.
    void Reserve(int64_t size) { data_.reserve(static_cast<size_t>(std::max<int64_t>(size, 0))); }
    // The content, moved out: the stream is left empty.
    std::string TakeData() {
        position_ = 0;
        return std::move(data_);
    }

private:
    std::string data_;
    int64_t position_ = 0;
};

// A stream over a file. Create makes a new empty file (replacing one of that name); OpenRead and OpenReadWrite
// open an existing one. Failure to open raises EFOpenError.
class TFileStream : public TStream {
public:
    enum class Mode { Create, OpenRead, OpenReadWrite };
    TFileStream(const std::string& fileName, Mode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    // Forces what was written to the device; a failure raises EStreamError.
    void FlushBuffers();

    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
    int fd_ = -1;
};
