#include "platform/stream.h"

#include "platform/win32/system.h"

#include <io.h>

#include <algorithm>

#include "platform/win32/handle_file.h"
#include "platform/win32/text.h"

namespace {

using platform::win32::FileAccess;
using platform::win32::FileOpening;

FileAccess AccessOf(TFileStream::Mode mode) {
    return mode == TFileStream::Mode::OpenRead ? FileAccess::Read : FileAccess::ReadWrite;
}

FileOpening OpeningOf(TFileStream::Mode mode) {
    return mode == TFileStream::Mode::Create ? FileOpening::CreateOrTruncate : FileOpening::Existing;
}

constexpr int64_t kChunk = 1 << 30;

// The stream's write failure with the system's reason after it ("There is not enough space on the disk.").
EStreamError WriteError() {
    return EStreamError("Stream write error: " + platform::win32::SystemMessage(GetLastError()));
}

}  // namespace

TFileStream::TFileStream(const std::string& fileName, Mode mode) : fileName_(fileName) {
    fd_ = platform::win32::OpenFileDescriptor(fileName, AccessOf(mode), OpeningOf(mode));
    if (fd_ < 0) {
        const std::string reason = platform::win32::SystemMessage(GetLastError());
        const char* verb = mode == Mode::Create ? "create" : "open";
        throw EFOpenError(std::string("Cannot ") + verb + " file \"" + fileName + "\". " + reason);
    }
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) _close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (done < count) {
        const int n = _read(fd_, bytes + done, static_cast<unsigned>(std::min(count - done, kChunk)));
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
        const int n = _write(fd_, bytes + done, static_cast<unsigned>(std::min(count - done, kChunk)));
        if (n < 0) throw WriteError();
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
    const int64_t position = _lseeki64(fd_, offset, whence);
    if (position < 0) throw EStreamError("Stream seek error");
    return position;
}

void TFileStream::SetSize(int64_t size) {
    const int64_t position = Position();
    if (_chsize_s(fd_, size) != 0) throw WriteError();
    if (position > size) SetPosition(size);
}

void TFileStream::FlushBuffers() {
    if (!platform::win32::FlushDescriptor(fd_)) throw WriteError();
}
