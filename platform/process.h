#pragma once
// Processes: the program's command-line rules, starting programs and documents, waiting, snapshots, killing.
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace platform {

// Splits a parameter text into arguments: blanks and control characters separate; a double quote opens a
// stretch (up to the next double quote) in which they do not; the quote characters themselves are removed.
// A pair of quotes with nothing between them gives an empty argument when it stands alone.
std::vector<std::string> SplitCommandLine(std::string_view text);

// Full path of the running executable (/proc/self/exe); empty when it cannot be read.
std::string ExecutablePath();

// Who waits for a started process.
enum class Reaping {
    ByCaller,       // the caller calls WaitForProcess exactly once
    Automatically,  // nobody waits; the process is reaped in the background so no zombie is left
};

// Starts `file` with `parameters`. The file must exist. An executable regular file is started directly with
// the arguments of SplitCommandLine(parameters); any other file is handed to xdg-open when that is on PATH
// (parameters are then not used), else nothing is started. The process id, or nothing when no process started.
std::optional<pid_t> StartProcess(const std::string& file, const std::string& parameters,
                                  Reaping reaping = Reaping::ByCaller);
// Waits, without time limit, until the process ends. Its exit code (128 + the signal when a signal ended it),
// or -1 when it cannot be waited for.
int WaitForProcess(pid_t pid);

struct ProcessEntry {
    pid_t pid = 0;
    std::string exeName;  // file-name part of the program as started, not cut at 15 bytes
};
// Every process visible in /proc. Processes that end while the snapshot is taken are left out.
std::vector<ProcessEntry> ProcessSnapshot();
// Kills the process (SIGKILL); false when there is no such process or it may not be killed.
bool TerminateProcess(pid_t pid);

}  // namespace platform
