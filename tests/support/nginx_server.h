#pragma once
// nginx as a static web server on loopback for the HTTP tests and benchmarks. On Linux each instance runs its
// own nginx in the foreground on a free port, with its configuration, web root and logs in a private temporary
// folder, and stops it when it goes away. A Windows test process cannot start the Linux nginx, so there each
// instance takes a private folder below the web root of the nginx that the test stage started
// (scripts/lib/wine.sh, serve_windows_tests) and removes it when it goes away.
#include <memory>
#include <string>

namespace testsupport {

class NginxServer {
public:
    // extraServerConfig is placed inside the server block (locations, return rules, ...). The stage's shared
    // nginx must already hold it; an instance asking for a rule it lacks does not run.
    explicit NginxServer(const std::string& extraServerConfig = "");
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // False (and the test failed with the reason) when no server could be had.
    bool running() const { return port_ > 0; }
    int port() const { return port_; }
    // The folder served at Url("/"), with a trailing '/'.
    const std::string& webRoot() const { return webRoot_; }
    // "http://127.0.0.1:<port>" + the web root's place on the server + path (a missing leading '/' is added).
    std::string Url(const std::string& path) const;
    // Writes a file below the web root, creating its folders.
    void AddFile(const std::string& relativePath, const std::string& content) const;
    // A file of the given size with a repeating, position-dependent byte pattern.
    void AddLargeFile(const std::string& relativePath, long long size) const;
    // The access log of this instance's requests so far (one line per request).
    std::string AccessLog() const;

private:
    class Instance;  // the nginx behind this object and its files
    std::unique_ptr<Instance> instance_;
    int port_ = 0;
    std::string webRoot_;
    std::string urlPrefix_;  // the web root's path on the server, without a trailing '/'
};

}  // namespace testsupport
