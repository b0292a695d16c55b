#pragma once
// Processes: the program's command-line rules, starting programs and documents, waiting, snapshots, killing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The system's number for a process, whatever its native type.
using ProcessId = std::int64_t;

// Splits a parameter text into arguments: blanks and control characters separate; a double quote opens a
// stretch (up to the next double quote) in which they do not; the quote characters themselves are removed.
// A pair of quotes with nothing between them gives an empty argument when it stands alone.
std::vector<std::string> SplitCommandLine(std::string_view text);
// Splits a process's whole command line: the program name ends at the first blank or tab outside quotes (the
// system's rule, whatever characters the name holds), the arguments after it follow SplitCommandLine.
std::vector<std::string> SplitProgramCommandLine(std::string_view line);
// One argument as a command line has to give it, so that both SplitCommandLine and the C runtime of Windows
// programs read it back whole. An argument holding a double quote gets the C runtime's escape, which
// SplitCommandLine cannot read back (its arguments never hold one).
std::string QuoteArgument(std::string_view argument);

// The program's own arguments as UTF-8, the program name first. main's argc and argv are taken as they are
// where they hold UTF-8 already; where they are in a narrower code page the system's own wide command line is
// split instead (SplitProgramCommandLine), so that no character is lost.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Full path of the running executable (/proc/self/exe); empty when it cannot be read.
std::string ExecutablePath();

// Who waits for a started process.
enum class Reaping {
    ByCaller,       // the caller calls WaitForProcess exactly once
    Automatically,  // nobody waits; the process is reaped in the background so no zombie is left
};

// Starts `file` with `parameters`. The file must exist. An executable regular file is started directly with
// the arguments of SplitCommandLine(parameters); any other file is handed to xdg-open when that is on PATH
// (parameters are then not used), else nothing is started. On Windows any other file gets the shell's default
// action, with the same arguments. The process id, or nothing when no process started.
std::optional<ProcessId> StartProcess(const std::string& file, const std::string& parameters,
                                      Reaping reaping = Reaping::ByCaller);
// Waits, without time limit, until the started process ends. Its exit code (128 + the signal when a signal
// ended it), or -1 when it cannot be waited for (not a child of this process, already waited for).
int WaitForProcess(ProcessId pid);

// Holds on to one particular process, so that a signal sent through it can never reach another process that
// was given the same id after this one ended. Empty when the process could not be held. Move-only.
class ProcessHandle {
public:
    ProcessHandle() = default;
    explicit ProcessHandle(std::intptr_t native) : native_(native) {}
    ~ProcessHandle();
    ProcessHandle(ProcessHandle&& other) noexcept : native_(other.Release()) {}
    ProcessHandle& operator=(ProcessHandle&& other) noexcept;
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    bool IsEmpty() const { return native_ == kEmpty; }
    std::intptr_t Native() const { return native_; }

private:
    static constexpr std::intptr_t kEmpty = -1;
    std::intptr_t Release() { return std::exchange(native_, kEmpty); }

    std::intptr_t native_ = kEmpty;
};

struct ProcessEntry {
    ProcessId pid = 0;
    std::string exeName;         // file-name part of the program as started, not cut at 15 bytes
    std::string executablePath;  // the file the process runs (for a script: its interpreter); empty when the
                                 // system does not tell (another user's process)
    ProcessHandle process;       // for TerminateProcess and AskProcessToClose
};
// Whether names that differ only in ASCII letter case are the same.
enum class LetterCase { Significant, Ignored };
// Every running process whose exeName is `exeName`. Each entry holds its process from the moment it is listed;
// processes that end while the snapshot is taken are left out. A process this one may not hold (on Windows: one
// that refuses even waiting, such as another account's elevated program) is listed with an empty handle.
std::vector<ProcessEntry> ProcessSnapshot(std::string_view exeName, LetterCase letterCase = LetterCase::Significant);
// Kills the process (SIGKILL); false when it has ended already, may not be killed or is not held.
bool TerminateProcess(const ProcessHandle& process);
// Asks the process to close itself (SIGTERM); false as for TerminateProcess.
bool AskProcessToClose(const ProcessHandle& process);
// True once the process has ended, even before anybody waits for it; an empty handle counts as ended.
bool ProcessHasEnded(const ProcessHandle& process);

}  // namespace platform
