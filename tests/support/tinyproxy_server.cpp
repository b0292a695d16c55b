#include "tests/support/tinyproxy_server.h"

#include <gtest/gtest.h>

#include <sstream>

namespace testsupport {

TinyproxyServer::TinyproxyServer(const std::string& user, const std::string& password) {
    // The configuration line takes the two as blank-separated words.
    if ((user + password).find_first_of(" \t\"") != std::string::npos) {
        ADD_FAILURE() << "tinyproxy credentials cannot hold blanks or quotes";
        return;
    }
    process_.Start("tinyproxy", [&](int port) {
        return SpawnServer("/usr/bin/tinyproxy", {"-d", "-c", WriteConfig(port, user, password)}, dir_ / "output.log");
    });
}

std::string TinyproxyServer::WriteConfig(int port, const std::string& user, const std::string& password) const {
    std::ostringstream config;
    config << "Port " << port << "\n"
           << "Listen 127.0.0.1\n"
           << "Timeout 60\n"
           << "MaxClients 64\n"
           << "Allow 127.0.0.1\n"
           // Connect level logs every request line, which the tests count, and little else.
           << "LogLevel Connect\n"
           << "LogFile \"" << dir_ / "tinyproxy.log" << "\"\n";
    if (!user.empty()) config << "BasicAuth " << user << " " << password << "\n";
    const std::string path = dir_ / "tinyproxy.conf";
    WriteFile(path, config.str());
    return path;
}

std::string TinyproxyServer::Log() const {
    return FileExists(dir_ / "tinyproxy.log") ? ReadFile(dir_ / "tinyproxy.log") : std::string();
}

int TinyproxyServer::RequestCount() const {
    std::istringstream log(Log());
    int count = 0;
    for (std::string line; std::getline(log, line);) {
        if (line.find("]: Request (file descriptor") != std::string::npos) ++count;
    }
    return count;
}

}  // namespace testsupport
