#include "OVCommon/OVCommon.h"
#include "platform/files.h"
#include "platform/temp_folder.h"

namespace {

bool IsDotName(const std::string& name) { return !name.empty() && name.front() == '.'; }

// Removes one entry of a folder that is being emptied; sub-folders go through the whole tree.
bool DeleteFolderEntry(const std::string& folder, const platform::FolderEntry& entry) {
    const std::string path = folder + entry.name;
    if (entry.isFolder) return IsDotName(entry.name) || DeleteFolderTree(path);
    // Links are removed as entries of their own; what they point at is never touched.
    return platform::DeleteFile(path);
}

}  // namespace

uint32_t RandomState = 0;

int32_t RandomDraw(int32_t range) {
    RandomState = RandomState * 134775813u + 1u;
    return static_cast<int32_t>((static_cast<uint64_t>(RandomState) * static_cast<uint32_t>(range)) >> 32);
}

int64_t FileSizeOf(const std::string& fileName) {
    platform::File file;
    if (!file.OpenRead(fileName)) return 0;
    const int64_t size = file.Size();
    return size < 0 ? 0 : size;
}

bool CopyFileContents(const std::string& source, const std::string& destination, platform::Durability durability) {
    return platform::ReplaceFileWithCopy(source, destination, durability);
}

bool IsZipFile(const std::string& fileName) {
    platform::File file;
    char signature[2] = {};
    size_t read = 0;
    return file.OpenRead(fileName) && file.ReadFull(signature, sizeof signature, read) &&
           read == sizeof signature && signature[0] == 'P' && signature[1] == 'K';
}

std::string TempFolderPath() { return AddBackslash(platform::PrivateTempFolder()); }

std::string TempFileName() {
    const std::string folder = TempFolderPath();
    int32_t number = RandomDraw(1000);
    std::string name;
    // A folder of that name is taken as well: the caller means to create a file there.
    do {
        name = folder + std::to_string(number++);
    } while (platform::FileExists(name) || platform::DirectoryExists(name));
    return name;
}

bool DeleteFolderContents(const std::string& folder) {
    const std::string path = AddBackslash(folder);
    if (path.empty() || platform::IsSymbolicLink(path.substr(0, path.size() - 1)) ||
        !platform::DirectoryExists(path)) {
        return false;
    }
    // Here a read-only folder, not a read-only file, is what keeps its entries from being deleted.
    platform::MakeWritable(path);
    std::vector<platform::FolderEntry> entries;
    if (!platform::ListFolder(path, entries)) return false;
    for (const auto& entry : entries) {
        if (!DeleteFolderEntry(path, entry)) return false;
    }
    return true;
}

bool DeleteFolderTree(const std::string& folder) {
    return DeleteFolderContents(folder) && platform::RemoveDirectory(AddBackslash(folder));
}

void CopyFolderFiles(const std::string& source, const std::string& destination) {
    const std::string from = AddBackslash(source);
    const std::string to = AddBackslash(destination);
    std::vector<platform::FolderEntry> entries;
    if (!platform::ListFolder(from, entries)) return;
    for (const auto& entry : entries) {
        if (entry.isFolder || entry.isSymlink || IsDotName(entry.name)) continue;
        CopyFileContents(from + entry.name, to + entry.name);
    }
}

std::filesystem::path Utf8Path(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8Text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string AbsoluteFolder(const std::string& folder) {
    if (folder.empty()) return folder;
    std::string separated = folder;
    for (char& c : separated)
        if (c == '\\' || c == '/') c = platform::kPathDelimiter;
    return AddBackslash(platform::AbsolutePath(separated));
}
