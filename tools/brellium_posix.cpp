#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "tools/brellium_system.h"

platform::ProcessId OwnProcessId() { return getpid(); }

int StartInBackground(const std::string& self) {
    const pid_t child = fork();
    if (child < 0) return 1;
    if (child == 0) {
        setsid();
        const int devNull = open("/dev/null", O_RDWR);
        for (int fd = 0; fd <= 2; ++fd) dup2(devNull, fd);
        // Nothing of the starter stays open in the background, so a starter reading our output sees its end.
        close_range(3, ~0U, 0);
        execl(self.c_str(), self.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return 0;
}

int RunUntilAskedToClose() {
    sigset_t closing;
    sigemptyset(&closing);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&closing, signal);
    sigprocmask(SIG_BLOCK, &closing, nullptr);
    int received = 0;
    sigwait(&closing, &received);
    return 0;
}
