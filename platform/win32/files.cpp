#include "platform/files.h"

#include "platform/win32/system.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <random>

#include "platform/win32/handle_file.h"
#include "platform/win32/text.h"

namespace platform {

namespace {

using win32::FileAccess;
using win32::FileOpening;

constexpr DWORD kReplaceFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

DWORD Attributes(const std::string& path) { return GetFileAttributesW(win32::Wide(path).c_str()); }

bool Exists(DWORD attributes) { return attributes != INVALID_FILE_ATTRIBUTES; }
bool IsFolder(DWORD attributes) { return Exists(attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
bool IsLink(DWORD attributes) { return Exists(attributes) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::size_t LastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

std::string ParentFolder(const std::string& path) {
    const std::size_t separator = LastSeparator(path);
    return separator == std::string::npos ? "." : path.substr(0, separator);
}

std::string BaseName(const std::string& path) {
    const std::size_t separator = LastSeparator(path);
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

constexpr std::string_view kLiteralPrefix = "\\\\?\\";

bool StartsWithLiteralPrefix(const std::string& path) { return path.starts_with(kLiteralPrefix); }

// "UNC\\" in any letter case: what follows a \\?\ prefix in a network path.
bool StartsWithUncMarker(std::string_view rest) {
    return rest.size() >= 4 && (rest[0] | 0x20) == 'u' && (rest[1] | 0x20) == 'n' && (rest[2] | 0x20) == 'c' &&
           rest[3] == '\\';
}

// True when the text holds at most one separator, none at its end: "share" or "server\share".
bool AtMostTwoNames(std::string_view names) {
    const std::size_t first = names.find_first_of("\\/");
    return first == std::string_view::npos ||
           (first + 1 < names.size() && names.find_first_of("\\/", first + 1) == std::string_view::npos);
}

// "C:", "\\server\share", "\\?\C:", "\\?\UNC\server\share", "\\?\Volume{...}" and the like: a root, which exists
// or not but is never made.
bool IsRoot(const std::string& folder) {
    if (folder.find_first_not_of("\\/") == std::string::npos) return true;
    if (StartsWithLiteralPrefix(folder)) {
        const std::string_view rest = std::string_view(folder).substr(kLiteralPrefix.size());
        if (StartsWithUncMarker(rest)) return AtMostTwoNames(rest.substr(4));
        return rest.find('\\') == std::string_view::npos;
    }
    if (folder.size() == 2 && folder[1] == ':') return true;
    return folder.size() > 2 && IsSeparator(folder[0]) && IsSeparator(folder[1]) &&
           AtMostTwoNames(std::string_view(folder).substr(2));
}

// A text the system writes into a buffer, asked again with the length it said it needs when the first buffer was
// too small; empty when the call fails.
template <typename Fill>
std::wstring SystemText(Fill fill) {
    std::wstring text(MAX_PATH, L'\0');
    DWORD length = fill(text.data(), static_cast<DWORD>(text.size()));
    if (length >= text.size()) {
        text.resize(length);
        length = fill(text.data(), static_cast<DWORD>(text.size()));
    }
    text.resize(length < text.size() ? length : 0);
    return text;
}

// Windows refuses to remove a read-only file or folder, where POSIX asks only for a writable parent folder.
template <typename Remove>
bool RemoveEvenReadOnly(const std::string& path, Remove remove) {
    const std::wstring wide = win32::Wide(path);
    if (remove(wide.c_str()) != 0) return true;
    return GetLastError() == ERROR_ACCESS_DENIED && MakeWritable(path) && remove(wide.c_str()) != 0;
}

// A uniquely named file beside the target; removed again unless it was renamed over the target.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target) : target_(target) {}
    ~TemporaryFile() {
        if (!renamed_ && !path_.empty()) DeleteFile(path_);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool Create(File& file) {
        std::random_device seed;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = ParentFolder(target_) + "\\." + BaseName(target_) + "." +
                                          std::to_string(seed() % 1000000000u);
            const int descriptor = win32::OpenFileDescriptor(candidate, FileAccess::Write, FileOpening::CreateNew);
            if (descriptor >= 0) {
                path_ = candidate;
                file = File(descriptor);
                return true;
            }
            if (GetLastError() != ERROR_FILE_EXISTS) return false;
        }
        return false;
    }
    bool RenameOver() {
        renamed_ = MoveFileExW(win32::Wide(path_).c_str(), win32::Wide(target_).c_str(), kReplaceFlags) != 0;
        return renamed_;
    }

private:
    std::string target_;
    std::string path_;
    bool renamed_ = false;
};

}  // namespace

const char kPathDelimiter = '\\';

bool File::OpenRead(const std::string& path) {
    Close();
    fd_ = win32::OpenFileDescriptor(path, FileAccess::Read, FileOpening::Existing);
    return fd_ >= 0;
}

bool File::OpenRead(const std::string& path, std::int64_t& size) {
    if (!OpenRead(path)) return false;
    size = Size();
    return true;
}

RegularOpen OpenRegularFile(File& file, const std::string& path, std::int64_t& size) {
    file.Close();
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE handle = CreateFileW(win32::Wide(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? RegularOpen::Missing
                                                                              : RegularOpen::Failed;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const bool regular = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &information) &&
                         (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    const int descriptor = regular ? _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY) : -1;
    if (descriptor < 0) {
        CloseHandle(handle);
        return regular ? RegularOpen::Failed : RegularOpen::NotRegular;
    }
    file = File(descriptor);
    size = static_cast<std::int64_t>(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
    return RegularOpen::Opened;
}

bool File::Create(const std::string& path) {
    Close();
    fd_ = win32::OpenFileDescriptor(path, FileAccess::Write, FileOpening::CreateOrTruncate);
    return fd_ >= 0;
}

void File::Close() {
    if (fd_ >= 0) _close(fd_);
    fd_ = -1;
}

std::ptrdiff_t File::Read(void* buffer, std::size_t size) {
    if (fd_ < 0) return -1;
    const auto count = static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30));
    return _read(fd_, buffer, count);
}

bool File::Write(const void* buffer, std::size_t size) {
    if (fd_ < 0) return false;
    const char* bytes = static_cast<const char*>(buffer);
    while (size > 0) {
        const auto chunk = static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30));
        const int count = _write(fd_, bytes, chunk);
        if (count <= 0) return false;
        bytes += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

std::int64_t File::Size() const { return fd_ < 0 ? -1 : _filelengthi64(fd_); }

bool File::Seek(std::int64_t position) {
    return fd_ >= 0 && position >= 0 && _lseeki64(fd_, position, SEEK_SET) == position;
}

bool File::Sync() { return fd_ >= 0 && win32::FlushDescriptor(fd_); }

bool FileExists(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return Exists(attributes) && !IsFolder(attributes);
}

bool DirectoryExists(const std::string& path) { return IsFolder(Attributes(path)); }

bool IsPlainFile(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return Exists(attributes) && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool IsSymbolicLink(const std::string& path) { return IsLink(Attributes(path)); }

bool DeleteFile(const std::string& path) { return RemoveEvenReadOnly(path, DeleteFileW); }

bool RenameFile(const std::string& from, const std::string& to) {
    return MoveFileExW(win32::Wide(from).c_str(), win32::Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::string AbsolutePath(const std::string& path) {
    if (StartsWithLiteralPrefix(path)) return path;
    // The system's own rule keeps a network path's server and share, where the C++ library's drops them.
    const std::wstring wide = win32::Wide(path);
    const std::wstring full = SystemText([&](wchar_t* buffer, DWORD size) {
        return GetFullPathNameW(wide.c_str(), size, buffer, nullptr);
    });
    return full.empty() ? path : win32::Utf8(full);
}

std::string ResolvedPath(const std::string& path) {
    // Opened for nothing but its name; a folder opens only with backup semantics.
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE handle = CreateFileW(win32::Wide(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {};
    const std::wstring name = SystemText([&](wchar_t* buffer, DWORD size) {
        return GetFinalPathNameByHandleW(handle, buffer, size, VOLUME_NAME_DOS);
    });
    CloseHandle(handle);
    return win32::Utf8(name);
}

bool IsRelativePath(const std::string& path) {
    const bool fromRoot = !path.empty() && IsSeparator(path[0]);
    const bool onDrive = path.size() >= 2 && path[1] == ':';
    return !fromRoot && !onDrive;
}

std::string LastFileError() { return win32::SystemMessage(GetLastError()); }

bool CreateDirectory(const std::string& path) { return CreateDirectoryW(win32::Wide(path).c_str(), nullptr) != 0; }

bool ForceDirectories(const std::string& path) {
    std::string folder = path;
    while (folder.size() > 1 && IsSeparator(folder.back())) folder.pop_back();
    if (folder.empty() || DirectoryExists(folder)) return !folder.empty();
    // A root is never made, but one that is there ("\\server\share\", "\\?\C:\") holds what is made below it.
    if (IsRoot(folder)) return DirectoryExists(folder + '\\');
    const std::string parent = ParentFolder(folder);
    if (parent != folder && !ForceDirectories(parent)) return false;
    if (CreateDirectory(folder)) return true;
    // Made meanwhile by another run, it is there all the same; otherwise the reason it could not be made stays.
    const DWORD reason = GetLastError();
    if (DirectoryExists(folder)) return true;
    SetLastError(reason);
    return false;
}

bool RemoveDirectory(const std::string& path) { return RemoveEvenReadOnly(path, RemoveDirectoryW); }

bool MakeWritable(const std::string& path) {
    const DWORD attributes = Attributes(path);
    if (!Exists(attributes)) return false;
    if (IsLink(attributes) || (attributes & FILE_ATTRIBUTE_READONLY) == 0) return true;
    return SetFileAttributesW(win32::Wide(path).c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) != 0;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
    entries.clear();
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = win32::Wide(folder + "\\*");
    const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty drive root
    do {
        const std::string name = win32::Utf8(found.cFileName);
        if (name == "." || name == "..") continue;
        const bool link = IsLink(found.dwFileAttributes);
        entries.push_back({name, IsFolder(found.dwFileAttributes) && !link, link});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

// The search hands out each entry's kind with its name: there is nothing to save.
bool ListFolderNames(const std::string& folder, std::vector<std::string>& names) {
    std::vector<FolderEntry> entries;
    if (!ListFolder(folder, entries)) return false;
    names.clear();
    for (FolderEntry& entry : entries) names.push_back(std::move(entry.name));
    return true;
}

// Windows gives an ordinary user no flush of a whole volume, so a deferred file is flushed here all the same, before
// its rename: DurableFiles then has nothing left to force.
bool ReplaceFile(const std::string& target, const std::function<bool(File& output)>& writer, Durability) {
    TemporaryFile temporary(target);
    File output;
    if (!temporary.Create(output) || !writer(output) || !output.Sync()) return false;
    output.Close();
    return temporary.RenameOver();
}

// Moved in from another folder, a file keeps the access rights it was given there (%TEMP%'s, private to its user);
// across volumes MoveFileEx even copies over the target in place, where clients read half a file and a failed copy
// loses the good one. So the file is copied into a temporary file beside the target, which is renamed over it.
// A file made in the target's own folder already has what that folder gives its files: it is flushed, as
// ReplaceFile flushes its temporary file, and renamed over the target.
bool MoveFileOver(const std::string& source, const std::string& target, Durability durability) {
    if (ParentFolder(source) == ParentFolder(target)) {
        File moved(win32::OpenFileDescriptor(source, FileAccess::Write, FileOpening::Existing));
        if (!moved.Sync()) return false;
        moved.Close();
        return MoveFileExW(win32::Wide(source).c_str(), win32::Wide(target).c_str(), kReplaceFlags) != 0;
    }
    if (!ReplaceFileWithCopy(source, target, durability)) return false;
    DeleteFile(source);
    return true;
}

// Every file is flushed before its rename (see ReplaceFile): nothing is left to start.
void StartWriteback(const std::string&) {}

// Every rename into a folder went with MOVEFILE_WRITE_THROUGH, which returns once the new name is on the device.
bool FlushFolder(const std::string&) { return true; }

// Every file was flushed before its rename and renamed with write-through (see ReplaceFile).
// Every replacement was synced before its rename (see ReplaceFile): what is left to check is that the files are
// there. Nothing else on the volume is opened or flushed.
void DurableFiles::Note(const std::string& path) { files_.push_back(path); }

bool DurableFiles::Finish() {
    const bool present = std::all_of(files_.begin(), files_.end(), [](const std::string& path) {
        return Exists(Attributes(path));
    });
    files_.clear();
    return present;
}

}  // namespace platform
