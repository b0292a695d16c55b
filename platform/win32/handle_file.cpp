#include "platform/win32/handle_file.h"

#include "platform/win32/system.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>

#include "platform/win32/text.h"

namespace platform::win32 {

namespace {

DWORD DesiredAccess(FileAccess access) {
    switch (access) {
        case FileAccess::Read: return GENERIC_READ;
        case FileAccess::Write: return GENERIC_WRITE;
        case FileAccess::ReadWrite: return GENERIC_READ | GENERIC_WRITE;
    }
    return GENERIC_READ;
}

DWORD Disposition(FileOpening opening) {
    switch (opening) {
        case FileOpening::Existing: return OPEN_EXISTING;
        case FileOpening::CreateOrTruncate: return CREATE_ALWAYS;
        case FileOpening::CreateNew: return CREATE_NEW;
    }
    return OPEN_EXISTING;
}

int RuntimeFlags(FileAccess access) {
    switch (access) {
        case FileAccess::Read: return _O_RDONLY | _O_BINARY;
        case FileAccess::Write: return _O_WRONLY | _O_BINARY;
        case FileAccess::ReadWrite: return _O_RDWR | _O_BINARY;
    }
    return _O_RDONLY | _O_BINARY;
}

// errno for a failed CreateFileW, so that callers may report the reason as on POSIX.
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME: return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION: return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_DISK_FULL: return ENOSPC;
    }
    return EIO;
}

}  // namespace

int OpenFileDescriptor(const std::string& path, FileAccess access, FileOpening opening) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE handle = CreateFileW(Wide(path).c_str(), DesiredAccess(access), kShareAll, nullptr,
                                      Disposition(opening), FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        errno = ErrnoOf(error);
        SetLastError(error);  // some callers ask for it
        return -1;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), RuntimeFlags(access));
    if (descriptor < 0) CloseHandle(handle);
    return descriptor;
}

bool FlushDescriptor(int descriptor) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
}

}  // namespace platform::win32
