#include "platform/win32/handle_file.h"

#include "platform/win32/system.h"

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

}  // namespace

int OpenFileDescriptor(const std::string& path, FileAccess access, FileOpening opening) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE handle = CreateFileW(Wide(path).c_str(), DesiredAccess(access), kShareAll, nullptr,
                                      Disposition(opening), FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), RuntimeFlags(access));
    if (descriptor < 0) CloseHandle(handle);
    return descriptor;
}

bool FlushDescriptor(int descriptor) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
}

}  // namespace platform::win32
