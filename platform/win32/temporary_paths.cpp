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

}  // namespace

void RemoveTemporary(const char* path, TemporaryPath::Kind kind) {
    if (kind == TemporaryPath::Kind::File) {
        DeleteFile(path);
        return;
    }
    std::string inside = path, start;
    if (kind == TemporaryPath::Kind::FilesNamedFrom) {
        const std::size_t slash = inside.find_last_of("\\/");
        if (slash == std::string::npos) return;
        start = inside.substr(slash + 1);
        inside.erase(slash + 1);
    } else if (inside.back() != '\\' && inside.back() != '/') {
        inside += '\\';
    }
    std::vector<FolderEntry> entries;
    if (ListFolder(inside, entries))
        for (const FolderEntry& entry : entries) {
            if (kind == TemporaryPath::Kind::Folder)
                RemoveTemporary((inside + entry.name).c_str(),
                                entry.isFolder ? TemporaryPath::Kind::Folder : TemporaryPath::Kind::File);
            else if (!entry.isFolder && entry.name.compare(0, start.size(), start) == 0)
                DeleteFile(inside + entry.name);
        }
    if (kind == TemporaryPath::Kind::Folder) RemoveDirectory(path);
}

void InstallTerminationHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

}  // namespace platform
