#pragma once
// One run at a time: an exclusive lock on a file, which a second run waits for.
#include <chrono>
#include <string>

#include "platform/files.h"

namespace platform {

enum class RunLockState {
    Held,         // this object holds the lock
    Busy,         // someone else held it for the whole wait
    Unavailable,  // the lock file could not be opened or made (a folder without write access, say)
};

// An exclusive advisory lock on the file at `path`, held from construction to destruction. The file is made when
// missing. On POSIX it is never removed (a waiter may have it open already); on Windows, where nobody else can
// have it open meanwhile, the system removes it when its holder's run ends. The lock belongs to the open file, so
// it goes with the process however that ends: a run that was killed leaves none behind. A second RunLock on the
// same file waits for the first one, in this process as in any other.
class RunLock {
public:
    // Tries at once, then every 100 ms until `patience` has passed.
    RunLock(const std::string& path, std::chrono::milliseconds patience);
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    RunLockState State() const { return state_; }

private:
    // One attempt, by the system's own means.
    RunLockState TryLock(const std::string& path);

    File file_;
    RunLockState state_ = RunLockState::Unavailable;
};

// The file inside a run's work folder whose lock marks the folder as in use: the mark goes with the run however it
// ends, so a later run can tell the folder of a run that ended from one still in use. A run marks a folder it has
// just made with RunLock(folder + kInUseMark, 0 ms) before it puts anything there, and takes another folder when
// that lock is not Held (a removal raced it).
inline constexpr const char* kInUseMark = "in-use.lock";

// Removes the folder (a path ending with a separator), with everything in it, when no process holds its
// kInUseMark. True when it was removed.
bool RemoveAbandonedFolder(const std::string& folder);

}  // namespace platform
