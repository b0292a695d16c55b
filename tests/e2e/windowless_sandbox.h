#pragma once
// A private place to run the built program's windowless modes: a program folder holding copies of orvane, its
// language files and (when asked) the stand-in main program, a shared folder beside it, the temporary folder,
// and the update servers pointed at a test's nginx. Every run gets a registry that holds nothing.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/program_run.h"
#include "tests/support/temp_dir.h"

namespace testsupport {

class WindowlessSandbox {
public:
    enum class MainProgram { Absent, Present };
    // The update servers are 127.0.0.1:serverPort (0 for runs that reach no server).
    explicit WindowlessSandbox(int serverPort, MainProgram mainProgram = MainProgram::Absent);

    // Everything lives below root(): "site/program/", "site/share/" and "tmp/".
    std::string root() const { return dir_.path(); }
    std::string programFolder() const { return dir_ / "site/program/"; }
    std::string share() const { return dir_ / "site/share/"; }
    std::string tmp() const { return dir_ / "tmp/"; }

    // "/ENTS SFLD=<share>" with the product request of the release fixture, then `extra`.
    std::vector<std::string> MirrorArguments(const std::vector<std::string>& extra = {}) const;
    std::vector<std::string> ClientArguments() const;
    ProgramLaunch Launch(const std::vector<std::string>& arguments,
                         const std::vector<std::string>& extraEnvironment = {}) const;
    ProgramRun Run(const std::vector<std::string>& arguments,
                   const std::vector<std::string>& extraEnvironment = {}) const;
    ProgramRun Mirror(const std::vector<std::string>& extra = {}) const { return Run(MirrorArguments(extra)); }
    ProgramRun Client() const { return Run(ClientArguments()); }

    // The arguments the stand-in main program was started with so far, one per start ("(none)" for none).
    std::vector<std::string> MainProgramStarts() const;

private:
    TempDir dir_;
    int serverPort_;
};

// The file a windowless run locks in its folder (the shared folder, the program folder).
inline constexpr const char* kLockFileName = "orvane.lock";

// True when the run ended with the status and, with standard error no terminal, wrote nothing but, for a run
// that stopped early, the one line that says why.
::testing::AssertionResult EndedQuietly(const ProgramRun& run, int status);

// An entry of a hand-made "latest.xml": a file of the content's size and CRC, copied from `download`.
std::string LatestEntry(const std::string& fileName, const std::string& content, const std::string& download);

// The regular files below a folder but the lock file, by path relative to it, with their content.
std::map<std::string, std::string> FilesBelow(const std::string& folder);

// What a client run placed: the files below the program folder without the program's own.
std::map<std::string, std::string> PlacedFiles(const std::string& programFolder);

// What tells whether a file or folder was written: its inode, size and modification time.
struct FileStamp {
    ino_t inode = 0;
    off_t size = 0;
    long long modifiedNanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
};
// Nothing when there is no such file or folder.
std::optional<FileStamp> StampOf(const std::string& path);
// Every file and folder below the folder, by relative path, leaving out the paths that start with a prefix.
std::map<std::string, FileStamp> StampsBelow(const std::string& folder, const std::vector<std::string>& leftOut = {});

// The targets ("/path?query") of the requests in an nginx access log, in order.
std::vector<std::string> RequestedTargets(const std::string& accessLog);

}  // namespace testsupport
