#pragma once
// Work done in a forked child process, for tests that need a second process or another user.
#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/other_user.h"

namespace platformtest {

// Starts `work` in a child process, which ends with status 0 when it returned true, else 1.
template <typename Work>
pid_t StartChild(Work work) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(work() ? 0 : 1);
    return child;
}

// Waits for the child; true when it ended with status 0.
inline bool ChildSucceeded(pid_t child) {
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs `work` in a child process as the unprivileged "nobody" (the caller being root); true when it returned true.
template <typename Work>
bool RunAsNobody(Work work) {
    return ChildSucceeded(StartChild([&work] {
        return ::setgroups(0, nullptr) == 0 && ::setgid(testsupport::kNobody) == 0 &&
               ::setuid(testsupport::kNobody) == 0 && work();
    }));
}

}  // namespace platformtest
