#include "platform/mapped_file.h"

#include "platform/win32/system.h"

#include "platform/common/mapped_file_internal.h"
#include "platform/win32/text.h"

namespace platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string Failure(const std::string& doing, const std::string& path) {
    return "Cannot " + doing + " \"" + path + "\". " + win32::SystemMessage(GetLastError());
}

// Maps the open file whole; the view keeps the mapping, so both handles can be closed right after.
void* MapWhole(HANDLE file, std::uint64_t size, bool writable) {
    const HANDLE mapping = CreateFileMappingW(file, nullptr, writable ? PAGE_READWRITE : PAGE_READONLY,
                                              static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), nullptr);
    if (!mapping) return nullptr;
    void* view = MapViewOfFile(mapping, writable ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size));
    CloseHandle(mapping);
    return view;
}

}  // namespace

bool RunOverMappedFiles(void (*work)(void* context), void* context) {
    work(context);
    return true;
}

void MappedFile::Unmap() {
    if (data_) UnmapViewOfFile(data_);
    data_ = nullptr;
    size_ = 0;
}

bool MappedFile::MapForReading(const std::string& path, std::string& why) {
    Unmap();
    const HANDLE file = CreateFileW(win32::Wide(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = Failure("open", path);
        return false;
    }
    LARGE_INTEGER size{};
    bool mapped = false;
    if (!GetFileSizeEx(file, &size)) {
        why = Failure("read", path);
    } else if (FitsAddressSpace(static_cast<std::uint64_t>(size.QuadPart), path, why)) {
        void* data = size.QuadPart == 0 ? nullptr : MapWhole(file, static_cast<std::uint64_t>(size.QuadPart), false);
        if (size.QuadPart != 0 && !data) {
            why = Failure("map", path);
        } else {
            data_ = data;
            size_ = static_cast<std::size_t>(size.QuadPart);
            mapped = true;
        }
    }
    CloseHandle(file);
    return mapped;
}

bool MappedFile::CreateForWriting(const std::string& path, std::uint64_t size, std::string& why) {
    Unmap();
    if (!FitsAddressSpace(size, path, why)) return false;
    const HANDLE file = CreateFileW(win32::Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = Failure("create", path);
        return false;
    }
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    bool mapped = false;
    // The file takes its size now: a disk that fills up is an error here, not a fault while the pages are written.
    if (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
        why = Failure("make room for", path);
    } else {
        void* data = size == 0 ? nullptr : MapWhole(file, size, true);
        if (size != 0 && !data) {
            why = Failure("map", path);
        } else {
            data_ = data;
            size_ = static_cast<std::size_t>(size);
            mapped = true;
        }
    }
    CloseHandle(file);
    return mapped;
}

}  // namespace platform
