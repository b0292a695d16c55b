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

void RemoveTemporary(const char* path, bool folder) {
    if (!folder) {
        DeleteFile(path);
        return;
    }
    std::string inside = path;
    if (inside.back() != '\\' && inside.back() != '/') inside += '\\';
    std::vector<FolderEntry> entries;
    if (ListFolder(inside, entries))
        for (const FolderEntry& entry : entries) RemoveTemporary((inside + entry.name).c_str(), entry.isFolder);
    RemoveDirectory(path);
}

void InstallTerminationHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

}  // namespace platform
