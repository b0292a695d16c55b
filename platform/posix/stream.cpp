#include "platform/stream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int OpenFlags(TFileStream::Mode mode) {
    switch (mode) {
        case TFileStream::Mode::Create: return O_RDWR | O_CREAT | O_TRUNC;
        case TFileStream::Mode::OpenRead: return O_RDONLY;
        case TFileStream::Mode::OpenReadWrite: return O_RDWR;
    }
    return O_RDONLY;
}

// The stream's write failure with the system's reason after it ("No space left on device").
EStreamError WriteError() { return EStreamError(std::string("Stream write error: ") + std::strerror(errno)); }

}  // namespace

TFileStream::TFileStream(const std::string& fileName, Mode mode) : fileName_(fileName) {
    fd_ = ::open(fileName.c_str(), OpenFlags(mode) | O_CLOEXEC, 0644);
    // A folder opens for reading here but yields no bytes; it is no file, so it fails like elsewhere.
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        errno = EISDIR;
    }
    if (fd_ < 0) {
        const char* verb = mode == Mode::Create ? "create" : "open";
        throw EFOpenError(std::string("Cannot ") + verb + " file \"" + fileName + "\". " + std::strerror(errno));
    }
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (done < count) {
        const ssize_t n = ::read(fd_, bytes + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        // A failing device must not pass for the end of the file: the caller would take a part for the whole.
        if (n < 0) throw EStreamError("Stream read error");
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    int64_t done = 0;
    const auto* bytes = static_cast<const char*>(buffer);
    while (done < count) {
        const ssize_t n = ::write(fd_, bytes + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw WriteError();
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
    const off_t position = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (position < 0) throw EStreamError("Stream seek error");
    return position;
}

void TFileStream::SetSize(int64_t size) {
    const int64_t position = Position();
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) throw WriteError();
    if (position > size) SetPosition(size);
}

void TFileStream::FlushBuffers() {
    if (::fsync(fd_) != 0) throw WriteError();
}
