#pragma once
// A real HTTP proxy on loopback for the proxy tests: tinyproxy in the foreground on a free port, optionally
// demanding Basic authentication, logging only to a file in its private temporary folder.
#include <string>

#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"

namespace testsupport {

class TinyproxyServer {
public:
    // With a non-empty user the proxy answers 407 to requests without these credentials.
    explicit TinyproxyServer(const std::string& user = "", const std::string& password = "");

    bool running() const { return process_.pid() > 0; }
    int port() const { return process_.port(); }
    // The proxy's log so far.
    std::string Log() const;
    // How many requests reached the proxy, answered or refused.
    int RequestCount() const;

private:
    std::string WriteConfig(int port, const std::string& user, const std::string& password) const;

    TempDir dir_;
    LoopbackServerProcess process_;
};

}  // namespace testsupport
