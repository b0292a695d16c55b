#pragma once
// Temporary files and folders that the process removes however it ends, but for SIGKILL: by their owner on
// the normal way out, by RemoveTemporaryPaths on a planned early exit, and by a handler of SIGINT, SIGTERM and
// SIGHUP (Ctrl-C, Ctrl-Break and a closed console on Windows) that then lets the signal end the process.
#include <string>

namespace platform {

class TemporaryPath {
public:
    // A folder goes with everything in it, down to a few levels (a run's work folder holds its unpack folder).
    // FilesNamedFrom: the path is a folder's path followed by the start of a name, and every file of that folder
    // whose name starts so goes: files a run makes beside others of its own, however many.
    enum class Kind { File, Folder, FilesNamedFrom };
    TemporaryPath() = default;
    // Registers the path; nothing need exist there yet.
    TemporaryPath(std::string path, Kind kind);
    // Removes what is at the path, then forgets it.
    ~TemporaryPath();
    TemporaryPath(const TemporaryPath&) = delete;
    TemporaryPath& operator=(const TemporaryPath&) = delete;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
    Kind kind_ = Kind::File;
    int slot_ = -1;  // -1: not registered (no path, or every slot taken)
};

// Removes every registered path; for a way out that runs no destructors.
void RemoveTemporaryPaths();

}  // namespace platform
