// Removing temporary paths on Windows. The console's control handler runs on a thread of its own, so it may
// use the ordinary file functions.
#include "platform/win32/system.h"

#include <vector>

#include "platform/common/temporary_paths_internal.h"
#include "platform/files.h"

namespace platform {

namespace {

BOOL WINAPI OnConsoleControl(DWORD) {
    RemoveRegisteredPaths();
    return FALSE;  // the default handler then ends the process
}

void RemoveFolder(const std::string& path) {
    std::string inside = path;
    if (inside.back() != '\\' && inside.back() != '/') inside += '\\';
    std::vector<FolderEntry> entries;
    if (ListFolder(inside, entries))
        for (const FolderEntry& entry : entries) {
            if (entry.isFolder) RemoveFolder(inside + entry.name);
            else DeleteFile(inside + entry.name);
        }
    RemoveDirectory(path);
}

// The files of the folder whose names start as the path's last part does.
void RemoveFilesNamedFrom(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return;
    const std::string folder = path.substr(0, slash + 1), start = path.substr(slash + 1);
    std::vector<FolderEntry> entries;
    if (ListFolder(folder, entries))
        for (const FolderEntry& entry : entries)
            if (!entry.isFolder && entry.name.compare(0, start.size(), start) == 0) DeleteFile(folder + entry.name);
}

}  // namespace

void RemoveTemporary(const char* path, TemporaryPath::Kind kind) {
    switch (kind) {
    case TemporaryPath::Kind::File: DeleteFile(path); break;
    case TemporaryPath::Kind::Folder: RemoveFolder(path); break;
    case TemporaryPath::Kind::FilesNamedFrom: RemoveFilesNamedFrom(path); break;
    }
}

void InstallTerminationHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

}  // namespace platform
