// An nginx of the instance's own, started as a child (Linux).
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "tests/support/loopback_server.h"
#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"

namespace testsupport {

class NginxServer::Instance {
public:
    explicit Instance(const std::string& extraServerConfig) : webRoot(dir / "www/") {
        std::filesystem::create_directories(webRoot);
        process.Start("nginx", [&](int port) {
            const std::string config = WriteConfig(port, extraServerConfig);
            return SpawnServer("/usr/sbin/nginx",
                               {"-p", dir.path(), "-e", dir / "error.log", "-c", config, "-g", "daemon off;"},
                               dir / "output.log");
        });
    }

    TempDir dir;
    std::string webRoot;
    LoopbackServerProcess process;

private:
    std::string WriteConfig(int port, const std::string& extraServerConfig) const;
};

std::string NginxServer::Instance::WriteConfig(int port, const std::string& extraServerConfig) const {
    const std::string& d = dir.path();
    std::ostringstream config;
    // Workers as root: the web root lives in a private temporary folder.
    if (geteuid() == 0) config << "user root;\n";
    config << "worker_processes 1;\n"
           << "pid " << d << "nginx.pid;\n"
           << "error_log " << d << "error.log;\n"
           << "events { worker_connections 256; }\n"
           << "http {\n"
           << "  access_log " << d << "access.log;\n"
           << "  client_body_temp_path " << d << "body;\n  proxy_temp_path " << d << "proxy;\n"
           << "  fastcgi_temp_path " << d << "fastcgi;\n  uwsgi_temp_path " << d << "uwsgi;\n"
           << "  scgi_temp_path " << d << "scgi;\n"
           << "  default_type application/octet-stream;\n"
           << "  sendfile on;\n  keepalive_timeout 65;\n  keepalive_requests 100000;\n"
           // For servers that limit the connections of one client ("limit_conn perip N;" in the server block).
           << "  limit_conn_zone $binary_remote_addr zone=perip:1m;\n"
           << "  server {\n"
           << "    listen 127.0.0.1:" << port << ";\n"
           << "    server_name localhost;\n"
           << "    root " << webRoot << ";\n"
           << extraServerConfig << "\n"
           << "  }\n}\n";
    const std::string path = dir / "nginx.conf";
    WriteFile(path, config.str());
    return path;
}

NginxServer::NginxServer(const std::string& extraServerConfig)
    : instance_(std::make_unique<Instance>(extraServerConfig)), webRoot_(instance_->webRoot) {
    if (instance_->process.pid() > 0) port_ = instance_->process.port();
}

NginxServer::~NginxServer() = default;

std::string NginxServer::AccessLog() const {
    return ReadSettledFile(instance_->dir / "access.log");
}

}  // namespace testsupport
