#pragma once
// Real servers on loopback for the HTTP tests and benchmarks: nginx as a static web server. Each instance runs
// its own nginx in the foreground on a free port, with its configuration, web root and logs in a private
// temporary folder, and stops it when it goes away.
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

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

class NginxServer {
public:
    // extraServerConfig is placed inside the server block (locations, return rules, ...).
    explicit NginxServer(const std::string& extraServerConfig = "");

    bool running() const { return process_.pid() > 0; }
    int port() const { return process_.port(); }
    // The folder served at "/", with a trailing '/'.
    const std::string& webRoot() const { return webRoot_; }
    // "http://127.0.0.1:<port>" + path (a missing leading '/' is added).
    std::string Url(const std::string& path) const;
    // Writes a file below the web root, creating its folders.
    void AddFile(const std::string& relativePath, const std::string& content) const;
    // A file of the given size with a repeating, position-dependent byte pattern.
    void AddLargeFile(const std::string& relativePath, long long size) const;
    // The access log so far (one line per request).
    std::string AccessLog() const;

private:
    std::string WriteConfig(int port, const std::string& extraServerConfig) const;

    TempDir dir_;
    std::string webRoot_;
    LoopbackServerProcess process_;
};

}  // namespace testsupport
