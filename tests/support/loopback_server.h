#pragma once
// Server programs (nginx, tinyproxy) started as children on a free loopback port, for the Linux tests.
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// A server program started as a child on a free loopback port. The launcher gets the port and returns the
// child's pid (or -1); start-up is retried with a fresh port when the child dies before accepting, which
// covers another process taking the port between the probe and the bind.
class LoopbackServerProcess {
public:
    using Launcher = std::function<pid_t(int port)>;
    LoopbackServerProcess() = default;
    ~LoopbackServerProcess() { Stop(); }
    LoopbackServerProcess(const LoopbackServerProcess&) = delete;
    LoopbackServerProcess& operator=(const LoopbackServerProcess&) = delete;

    // True when the server accepts connections; the test fails (ADD_FAILURE) with the reason otherwise.
    bool Start(const std::string& name, const Launcher& launch);
    // SIGTERM, then SIGKILL after a few seconds; reaps the child.
    void Stop();
    int port() const { return port_; }
    pid_t pid() const { return pid_; }

private:
    bool AwaitAccepting();

    pid_t pid_ = -1;
    int port_ = 0;
};

// A port that was free a moment ago on 127.0.0.1.
int FreeLoopbackPort();
// Spawns program with the arguments; standard output and error go to outputFile. Returns the pid or -1.
pid_t SpawnServer(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& outputFile);

}  // namespace testsupport
