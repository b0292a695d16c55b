#include "tests/e2e/program_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <pty.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

[[noreturn]] void ExecInChild(const ProgramLaunch& launch, int errorFd) {
    if (launch.user && (setgroups(0, nullptr) != 0 || setgid(*launch.user) != 0 || setuid(*launch.user) != 0))
        _exit(125);
    if (!launch.workingFolder.empty() && chdir(launch.workingFolder.c_str()) != 0) _exit(126);
    for (const std::string& pair : launch.environment) {
        if (pair.find('=') == std::string::npos) {
            unsetenv(pair.c_str());
        } else {
            putenv(const_cast<char*>(pair.c_str()));
        }
    }
    if (errorFd >= 0) {
        dup2(errorFd, STDERR_FILENO);
        close(errorFd);
    }
    std::vector<char*> argv{const_cast<char*>(launch.program.c_str())};
    for (const std::string& argument : launch.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    // The alarm survives the exec: a program that never ends is ended by the kernel.
    if (launch.timeLimitSeconds > 0) alarm(launch.timeLimitSeconds);
    execv(argv[0], argv.data());
    _exit(127);
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t count = 0;
    // A terminal's side for the program reads as an error (EIO) once the program has closed its end.
    while ((count = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(count));
    return text;
}

std::string ExecutableOf(const std::string& pid) {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/" + pid + "/exe", error).string();
}

// Collects what the child writes to the descriptor until it closes it, then its exit status.
ProgramRun CollectRun(pid_t pid, int outputFd) {
    ProgramRun run;
    run.errorOutput = ReadAll(outputFd);
    close(outputFd);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace

ProgramRun RunAndWait(const ProgramLaunch& launch) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        ExecInChild(launch, pipeFds[1]);
    }
    close(pipeFds[1]);
    return CollectRun(pid, pipeFds[0]);
}

ProgramRun RunOnTerminal(const ProgramLaunch& launch) {
    int terminal = -1;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 100;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    if (pid < 0) {
        ADD_FAILURE() << "forkpty failed";
        return {};
    }
    if (pid == 0) ExecInChild(launch, -1);
    return CollectRun(pid, terminal);
}

pid_t StartProgram(const ProgramLaunch& launch) {
    const pid_t pid = fork();
    if (pid == 0) ExecInChild(launch, -1);
    return pid;
}

bool HasEnded(pid_t pid) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
    return kill(pid, 0) != 0;
}

std::vector<pid_t> ProcessesOf(const std::string& executable) {
    std::vector<pid_t> pids;
    DIR* proc = opendir("/proc");
    while (const dirent* entry = proc ? readdir(proc) : nullptr) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid > 0 && ExecutableOf(entry->d_name) == executable) pids.push_back(pid);
    }
    if (proc) closedir(proc);
    return pids;
}

}  // namespace testsupport
