#include "platform/process.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <dirent.h>
#include <iostream>
#include <limits>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/files.h"
#include "platform/process_exit.h"

extern char** environ;

namespace platform {

namespace {

// The kernel keeps at most this many bytes of a process name in /proc/<pid>/comm.
constexpr std::size_t kCommLength = 15;

bool IsExecutableRegularFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!folders.empty()) {
        const std::size_t colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
        const std::string candidate = std::string(folder.empty() ? "." : folder) + "/" + program;
        if (IsExecutableRegularFile(candidate)) return candidate;
    }
    return {};
}

// The argument list for starting `file`: the program itself, or the desktop's opener for anything else.
std::vector<std::string> LaunchArguments(const std::string& file, const std::string& parameters) {
    if (IsExecutableRegularFile(file)) {
        std::vector<std::string> arguments = SplitCommandLine(parameters);
        arguments.insert(arguments.begin(), file);
        return arguments;
    }
    const std::string opener = FindOnPath("xdg-open");
    if (opener.empty()) return {};
    // A name that starts with '-' would be taken for an option of the opener.
    return {opener, file.starts_with('-') ? "./" + file : file};
}

std::optional<pid_t> Spawn(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return std::nullopt;
    return pid;
}

// Nobody waits for this child, yet it must not stay a zombie. A thread that waits for exactly this pid does it
// without side effects on other children: ignoring SIGCHLD (or a reaping signal handler) would make the
// waitpid of callers that do wait fail, and a double fork is unsafe once the process has threads (the window's
// toolkit). The thread lives only as long as the child.
void ReapInBackground(pid_t pid) {
    std::thread([pid] { WaitForProcess(pid); }).detach();
}

std::string BaseName(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ReadLink(const std::string& path) {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0) return {};
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

// The file a process runs; empty when the system does not tell (another user's process, a kernel thread).
std::string ExecutableFile(const std::string& procFolder) {
    std::string executable = ReadLink(procFolder + "/exe");
    constexpr std::string_view kDeleted = " (deleted)";
    if (executable.ends_with(kDeleted)) executable.resize(executable.size() - kDeleted.size());
    return executable;
}

// The name of the program file of a process whose comm may have been cut: the executable's own name when it
// continues comm; otherwise (a script started through its interpreter, a program started through a link of
// another name, an executable that cannot be read) the name of the first of the first two arguments that does.
std::string CompleteCutName(const std::string& procFolder, const std::string& comm, const std::string& executable) {
    std::vector<std::string> candidates;
    if (!executable.empty()) candidates.push_back(BaseName(executable));
    std::string commandLine;
    if (ReadWholeFile(procFolder + "/cmdline", commandLine)) {
        std::string_view rest = commandLine;
        for (int index = 0; index < 2 && !rest.empty(); ++index) {
            const std::size_t end = rest.find('\0');
            candidates.push_back(BaseName(rest.substr(0, end)));
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
    }
    for (const std::string& candidate : candidates) {
        if (candidate.starts_with(comm)) return candidate;
    }
    return comm;
}

std::optional<std::string> ReadComm(const std::string& procFolder) {
    std::string comm;
    if (!ReadWholeFile(procFolder + "/comm", comm)) return std::nullopt;
    if (comm.ends_with('\n')) comm.pop_back();
    return comm;
}

int OpenPidfd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

// An ended process not yet waited for still takes signals; it is reported as ended all the same.
bool SendSignal(const ProcessHandle& process, int signal) {
    return !ProcessHasEnded(process) &&
           ::syscall(SYS_pidfd_send_signal, static_cast<int>(process.Native()), signal, nullptr, 0) == 0;
}

bool SameName(std::string_view a, std::string_view b, LetterCase letterCase) {
    if (letterCase == LetterCase::Significant) return a == b;
    const auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) { return lower(x) == lower(y); });
}

// The process of that id when its program is named `wanted`. It is held before anything is read and checked
// to run still afterwards, so everything read belongs to the held process even if the id changed hands.
std::optional<ProcessEntry> ReadProcess(pid_t pid, std::string_view wanted, LetterCase letterCase) {
    const int pidfd = OpenPidfd(pid);
    if (pidfd < 0 && errno == ESRCH) return std::nullopt;
    ProcessHandle process(pidfd);  // stays empty on kernels without process descriptors
    const std::string procFolder = "/proc/" + std::to_string(pid);
    const std::optional<std::string> comm = ReadComm(procFolder);
    // The full name always continues comm, so most processes are left out here without further reading.
    if (!comm || !SameName(wanted.substr(0, comm->size()), *comm, letterCase)) return std::nullopt;
    std::string executable = ExecutableFile(procFolder);
    std::string name = comm->size() < kCommLength ? *comm : CompleteCutName(procFolder, *comm, executable);
    if (!SameName(name, wanted, letterCase)) return std::nullopt;
    if (!process.IsEmpty() && ProcessHasEnded(process)) return std::nullopt;
    return ProcessEntry{pid, std::move(name), std::move(executable), std::move(process)};
}

// The native id of a process, or nothing for numbers no single process can have (0 and negative ones stand
// for groups of processes).
std::optional<pid_t> NativeId(ProcessId pid) {
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return std::nullopt;
    return static_cast<pid_t>(pid);
}

bool IsProcessId(const char* name) {
    if (*name == '\0') return false;
    for (const char* c = name; *c != '\0'; ++c) {
        if (!std::isdigit(static_cast<unsigned char>(*c))) return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv, argv + argc}; }

std::string ExecutablePath() { return ReadLink("/proc/self/exe"); }

void ReplaceProcess(const std::string& file, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    ::execv(file.c_str(), argv.data());
}

std::optional<ProcessId> StartProcess(const std::string& file, const std::string& parameters, Reaping reaping) {
    if (!FileExists(file)) return std::nullopt;
    const std::vector<std::string> arguments = LaunchArguments(file, parameters);
    if (arguments.empty()) return std::nullopt;
    const std::optional<pid_t> pid = Spawn(arguments);
    if (!pid) return std::nullopt;
    if (reaping == Reaping::Automatically) ReapInBackground(*pid);
    return *pid;
}

int WaitForProcess(ProcessId id) {
    const std::optional<pid_t> pid = NativeId(id);
    if (!pid) return -1;
    int status = 0;
    while (::waitpid(*pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

ProcessHandle::~ProcessHandle() {
    if (!IsEmpty()) ::close(static_cast<int>(native_));
}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
    const ProcessHandle previous(std::exchange(native_, other.Release()));
    return *this;
}

std::vector<ProcessEntry> ProcessSnapshot(std::string_view exeName, LetterCase letterCase) {
    std::vector<ProcessEntry> processes;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return processes;
    while (const dirent* item = ::readdir(proc)) {
        if (!IsProcessId(item->d_name)) continue;
        auto entry = ReadProcess(static_cast<pid_t>(std::atol(item->d_name)), exeName, letterCase);
        if (entry) processes.push_back(std::move(*entry));
    }
    ::closedir(proc);
    return processes;
}

bool TerminateProcess(const ProcessHandle& process) { return SendSignal(process, SIGKILL); }

bool AskProcessToClose(const ProcessHandle& process) { return SendSignal(process, SIGTERM); }

bool ProcessHasEnded(const ProcessHandle& process) {
    if (process.IsEmpty()) return true;
    // A process descriptor becomes readable when its process ends.
    pollfd watch{static_cast<int>(process.Native()), POLLIN, 0};
    return ::poll(&watch, 1, 0) != 0;
}

}  // namespace platform
