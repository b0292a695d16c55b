// The test stage's shared nginx (Windows): scripts/lib/wine.sh starts it and names it in the environment,
// ORVANE_TEST_NGINX_PORT and ORVANE_TEST_NGINX_FOLDER (its configuration, access log and www/ web root).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"

namespace testsupport {

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

class NginxServer::Instance {
public:
    explicit Instance(const std::string& folder) : folder(folder), site(folder + "/www") {}

    std::string folder;
    TempDir site;  // this instance's part of the shared web root
};

NginxServer::NginxServer(const std::string& extraServerConfig) {
    const std::string port = Variable("ORVANE_TEST_NGINX_PORT");
    const std::string folder = Variable("ORVANE_TEST_NGINX_FOLDER");
    if (port.empty() || folder.empty()) {
        ADD_FAILURE() << "ORVANE_TEST_NGINX_PORT and ORVANE_TEST_NGINX_FOLDER are not set: the Windows tests need "
                         "the nginx that scripts/test.sh starts for them";
        return;
    }
    if (ReadFile(folder + "/nginx.conf").find(Trimmed(extraServerConfig)) == std::string::npos) {
        ADD_FAILURE() << "the shared nginx lacks the rule " << extraServerConfig;
        return;
    }
    instance_ = std::make_unique<Instance>(folder);
    if (instance_->site.path().empty()) return;
    webRoot_ = instance_->site.path();
    urlPrefix_ = "/" + std::filesystem::path(webRoot_).parent_path().filename().string();
    port_ = std::stoi(port);
}

NginxServer::~NginxServer() = default;

std::string NginxServer::AccessLog() const {
    // The log is shared; this instance's lines are those of requests below its own folder.
    std::istringstream log(instance_ ? ReadSettledFile(instance_->folder + "/access.log") : "");
    std::string mine;
    for (std::string line; std::getline(log, line);)
        if (line.find(" " + urlPrefix_ + "/") != std::string::npos) mine += line + "\n";
    return mine;
}

}  // namespace testsupport
