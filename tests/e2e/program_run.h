#pragma once
// Running a built program from a test: in a chosen folder, with extra environment, capturing standard error.
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "tests/support/temp_dir.h"  // CopyExecutable

namespace testsupport {

struct ProgramRun {
    int status = -1;  // the exit status, or -1 when the program did not exit normally
    std::string errorOutput;
};

struct ProgramLaunch {
    std::string program;
    std::vector<std::string> arguments;   // without the program itself
    std::string workingFolder;            // empty: the test's own
    // NAME=value pairs set on top of the test's environment; NAME alone unsets it.
    std::vector<std::string> environment;
    unsigned timeLimitSeconds = 0;  // past it the program is ended by SIGALRM (status -1); 0: no limit
    // Another user (and the group of that number) to run the program as, for a test that runs as root.
    std::optional<uid_t> user = std::nullopt;
};

// Runs the program to its end.
ProgramRun RunAndWait(const ProgramLaunch& launch);
// Runs the program to its end with a terminal as standard input, output and error; errorOutput then holds
// everything it wrote to the terminal.
ProgramRun RunOnTerminal(const ProgramLaunch& launch);
// Starts the program and returns its process id; standard error is left alone.
pid_t StartProgram(const ProgramLaunch& launch);
// True when the process has ended (and it is reaped, when it is a child of the test).
bool HasEnded(pid_t pid);
// The ids of running processes whose executable is exactly this file.
std::vector<pid_t> ProcessesOf(const std::string& executable);

}  // namespace testsupport
