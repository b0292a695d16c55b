#pragma once
// Files and folders: a small RAII file over a descriptor, existence tests, folder enumeration that never
// follows symbolic links, and the one atomic way every caller replaces a file.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// An open file; closed by the destructor. Every operation reports failure through its result.
class File {
public:
    File() = default;
    // Takes ownership of an open descriptor.
    explicit File(int descriptor) : fd_(descriptor) {}
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens an existing file for reading. A folder does not open.
    bool OpenRead(const std::string& path);
    // The same, also giving the size the file had when it was opened (-1 when it cannot be had), which saves
    // asking the system a second time.
    bool OpenRead(const std::string& path, std::int64_t& size);
    // Creates the file for writing, or truncates it when it exists (mode 0666 less the umask).
    bool Create(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    void Close();

    // Reads up to `size` bytes; the count read (0 at the end), or -1 on an error. Retries interrupted reads.
    std::ptrdiff_t Read(void* buffer, std::size_t size);
    // Reads until `size` bytes or the end; false on an error (`read` then holds the count that arrived).
    bool ReadFull(void* buffer, std::size_t size, std::size_t& read);
    // Writes all `size` bytes or fails.
    bool Write(const void* buffer, std::size_t size);
    bool Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
    // Size in bytes, or -1 when it cannot be had.
    std::int64_t Size() const;
    // Moves to an absolute position.
    bool Seek(std::int64_t position);
    // Flushes the written content to the device.
    bool Sync();
    int Descriptor() const { return fd_; }

private:
    int fd_ = -1;
};

// The separator of folders in the paths this system's file functions are given back: '/' or '\'.
extern const char kPathDelimiter;

// True when something other than a folder is there: a regular file, a device, a symbolic link (even a
// dangling one, unless it leads to a folder). "A folder of that name does not count."
bool FileExists(const std::string& path);
// True when the path is a folder (a symbolic link to a folder counts).
bool DirectoryExists(const std::string& path);
// True when the path is a regular file, one that reading comes to the end of (a symbolic link to one counts).
bool IsPlainFile(const std::string& path);
// True when the path itself is a symbolic link.
bool IsSymbolicLink(const std::string& path);
// Removes a file or a symbolic link (never what the link points at); a folder is not removed.
bool DeleteFile(const std::string& path);
// Renames within one file system, replacing an existing target file.
bool RenameFile(const std::string& from, const std::string& to);
// The path made absolute against the current folder, with "." and ".." segments resolved by their text (links
// are not followed) and the system's separators; a path that cannot be made absolute comes back as given. On
// Windows a network path (\\server\share\...) keeps its server and share, and a \\?\ path, absolute already
// and taken literally by the system, comes back exactly as given.
std::string AbsolutePath(const std::string& path);
// True when the path is relative to a current folder: it starts from no root ("/"; on Windows "\", "\\server",
// a drive "C:").
bool IsRelativePath(const std::string& path);
// The system's description of why the last file operation of this thread failed ("Permission denied").
std::string LastFileError();
// The path of what is there with every link followed, in the one form the system gives for it (on Windows the
// \\?\ form, \\?\UNC\ for a network path): two paths resolved so compare by their text. Empty when nothing is
// there.
std::string ResolvedPath(const std::string& path);
// Creates one folder (mode 0777 less the umask); false when it exists already or cannot be made.
bool CreateDirectory(const std::string& path);
// Creates the folder and every missing parent; true when the folder exists afterwards. On failure LastFileError
// says why the folder could not be made.
bool ForceDirectories(const std::string& path);
// Removes an empty folder.
bool RemoveDirectory(const std::string& path);
// Clears read-only by adding owner write permission, so that a folder's entries can be deleted. A symbolic
// link is left alone (its target is not ours to change) and counts as success.
bool MakeWritable(const std::string& path);

struct FolderEntry {
    std::string name;
    bool isFolder = false;   // a real folder; never true for a symbolic link
    bool isSymlink = false;  // a link, whatever it points at: delete or skip it as a file
};
// Lists the entries of a folder ("." and ".." left out), in the order the file system gives them. Entries are
// examined without following links. False when the folder cannot be read.
bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries);
// Only the names, which in a folder of thousands of files saves a look at each one.
bool ListFolderNames(const std::string& folder, std::vector<std::string>& names);

// When a replacement's content must be on the device: before the rename, or later, for a whole batch at once
// (DurableFiles). Either way the program never leaves a part of a file under the target's name.
enum class Durability { Synced, Deferred };

// Writes the new content of `target` through `writer` into a temporary file beside it, then renames that over
// the target. The old file is replaced only once the writer returned true and the content is complete; on any
// failure the old file stays as it was and the temporary file is removed. An existing target keeps its
// permission bits; a new file gets 0755 when its content starts with an ELF header or "#!" (a program or a
// script), else 0644, less the umask, or narrowed by the folder's default ACL where it has one, as the system
// narrows the bits of a file created there. Either way the file gets the group and ACL a file created in the
// folder gets.
bool ReplaceFile(const std::string& target, const std::function<bool(File& output)>& writer,
                 Durability durability = Durability::Synced);
// Hands every block of the file, from where it stands, to `consume` until the end; false on a read error or when
// `consume` says so.
bool ForEachBlock(File& input, const std::function<bool(std::string_view block)>& consume);
// ReplaceFile with the bytes of `source`; false (target untouched) when the source cannot be read.
bool ReplaceFileWithCopy(const std::string& source, const std::string& target,
                         Durability durability = Durability::Synced);
// Puts `source`, a complete file the caller no longer needs, in the place of `target` with the group, permission
// bits and ACL ReplaceFile would give it. On POSIX, within one file system it is renamed over the target, so its
// content is never written twice; across file systems, or when the process may not give the file the folder's
// group, and on Windows (where a moved file keeps its old folder's access rights) unless it was made in the
// target's own folder, it is copied as ReplaceFileWithCopy does and then removed. On failure the target stays as
// it was.
bool MoveFileOver(const std::string& source, const std::string& target,
                  Durability durability = Durability::Synced);
// Forces the folder's entries (the names renamed into it) to the device. On Windows a replacement's rename is
// written through already, so nothing is left to do there.
bool FlushFolder(const std::string& folder);
// Starts writing the file's content to the device in the background, so that a later wait for it is short.
// ReplaceFile with deferred durability does it for the files it writes.
void StartWriteback(const std::string& path);
// Files a run replaced with deferred durability, forced to the device together: Finish waits for these files only
// (their writeback best started as each was written), then for the folders that hold their names. Other
// programs' writes to the same file system are not waited for.
class DurableFiles {
public:
    void Note(const std::string& path);
    // False when one of the noted files or folders could not be forced; nothing is noted afterwards.
    bool Finish();

private:
    std::vector<std::string> files_;
};
// ReplaceFile with the given bytes.
bool ReplaceFileWithBytes(const std::string& target, std::string_view bytes);

enum class RegularOpen { Opened, Missing, NotRegular, Failed };
// Opens a regular file for reading without following a symbolic link at its name and without waiting on a FIFO
// or a device: the kind is judged on the opened file itself, so nothing can be swapped in between. Gives its size.
RegularOpen OpenRegularFile(File& file, const std::string& path, std::int64_t& size);

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& content);

}  // namespace platform
