#pragma once
// A private scratch folder for one test, removed with everything in it when the object goes away.
#include <set>
#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();
    // A folder inside `parent` instead of the system's temporary folder.
    explicit TempDir(const std::string& parent);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, with a trailing '/'.
    const std::string& path() const { return path_; }
    // path() + relative.
    std::string operator/(const std::string& relative) const { return path_ + relative; }

private:
    std::string path_;
};

// Whole-file helpers; they fail the running test (ADD_FAILURE) when the file system says no.
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// The file once it has stopped growing for a moment (at most about a second): a server's log line for a request
// is written just after the response went out, so it may land after the client is done.
std::string ReadSettledFile(const std::string& path);
// The names of everything in the folder.
std::set<std::string> NamesIn(const std::string& folder);
// Copies an executable into a folder, keeping it executable; returns the new path.
std::string CopyExecutable(const std::string& program, const std::string& folder);

// A folder inside `dir` whose path is so long that nothing can be created below it, not even by root.
// Returned without a trailing '/'.
std::string FolderWithNoRoomBelow(const TempDir& dir);

}  // namespace testsupport
