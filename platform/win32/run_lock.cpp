#include "platform/run_lock.h"

#include "platform/win32/system.h"

#include <fcntl.h>
#include <io.h>

#include "platform/common/temporary_paths_internal.h"
#include "platform/win32/text.h"

namespace platform {

// Opened without sharing, the file cannot be opened again, by this process or any other, until the handle is
// closed; the system closes it when the process ends, however it ends, and then deletes it, so that no lock file
// stays in the folder after the run.
RunLockState RunLock::TryLock(const std::string& path) {
    const HANDLE handle = CreateFileW(win32::Wide(path).c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? RunLockState::Busy : RunLockState::Unavailable;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return RunLockState::Unavailable;
    }
    file_ = File(descriptor);
    return RunLockState::Held;
}

// A file that is open cannot be deleted here, so the mark is let go of first. A run that takes it in between (one
// that has just made this folder) keeps its mark, and with it the folder, which holds nothing else of its yet.
bool RemoveAbandonedFolder(const std::string& folder) {
    if (RunLock(folder + kInUseMark, std::chrono::milliseconds(0)).State() != RunLockState::Held) return false;
    RemoveTemporary(folder.c_str(), TemporaryPath::Kind::Folder);
    return !DirectoryExists(folder);
}

}  // namespace platform
