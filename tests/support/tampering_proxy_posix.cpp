#include "tests/support/tampering_proxy.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/loopback_address.h"
#include "tests/support/loopback_socket.h"

namespace testsupport {
namespace {

std::string ReadUntil(int socket, const std::string& end) {
    std::string bytes;
    char buffer[16384];
    while (end.empty() || bytes.find(end) == std::string::npos) {
        const ssize_t count = ::recv(socket, buffer, sizeof buffer, 0);
        if (count <= 0) break;
        bytes.append(buffer, static_cast<size_t>(count));
    }
    return bytes;
}

void SendAll(int socket, const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        const ssize_t count = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) return;
        sent += static_cast<size_t>(count);
    }
}

// The head's lines but those named, each ended by CR LF, without the empty line.
std::string HeadWithout(const std::string& head, std::initializer_list<std::string_view> names) {
    std::string kept;
    for (size_t start = 0; start < head.size();) {
        const size_t end = head.find("\r\n", start);
        const std::string line = head.substr(start, end - start);
        start = end == std::string::npos ? head.size() : end + 2;
        if (line.empty()) continue;
        bool dropped = false;
        for (const std::string_view name : names)
            dropped = dropped || (line.size() > name.size() && line[name.size()] == ':' &&
                                  std::equal(name.begin(), name.end(), line.begin(),
                                             [](char a, char b) { return std::tolower(a) == std::tolower(b); }));
        if (!dropped) kept += line + "\r\n";
    }
    return kept;
}

// The whole response of the real server to the request, read until it closes.
std::string Forward(int upstreamPort, const std::string& request) {
    const int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = LoopbackAddress(upstreamPort);
    std::string response;
    if (upstream >= 0 && ::connect(upstream, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        SendAll(upstream, request);
        response = ReadUntil(upstream, "");
    }
    if (upstream >= 0) ::close(upstream);
    return response;
}

}  // namespace

TamperingProxy::TamperingProxy(int upstreamPort) : upstreamPort_(upstreamPort) {
    const SocketHandle listener = ListenOnLoopback(16, false, port_);
    if (listener == kNoSocket) {
        port_ = 0;
        return;
    }
    listener_ = static_cast<int>(listener);
    thread_ = std::thread([this] { Serve(); });
}

TamperingProxy::~TamperingProxy() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
}

void TamperingProxy::SetRewrite(Rewrite rewrite) {
    std::lock_guard guard(lock_);
    rewrite_ = std::move(rewrite);
}

void TamperingProxy::Serve() {
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0) continue;
        const int client = static_cast<int>(Accept(listener_));
        if (client < 0) continue;
        Relay(client);
        ::close(client);
    }
}

void TamperingProxy::Relay(int client) {
    const std::string request = ReadUntil(client, "\r\n\r\n");
    const size_t requestEnd = request.find("\r\n\r\n");
    if (requestEnd == std::string::npos) return;
    const size_t targetStart = request.find(' ') + 1;
    const std::string target = request.substr(targetStart, request.find(' ', targetStart) - targetStart);
    const std::string response = Forward(
        upstreamPort_, HeadWithout(request.substr(0, requestEnd), {"Connection", "Keep-Alive"}) +
                           "Connection: close\r\n\r\n");
    const size_t headEnd = response.find("\r\n\r\n");
    if (headEnd == std::string::npos) return;
    std::string body = response.substr(headEnd + 4);
    {
        std::lock_guard guard(lock_);
        if (rewrite_) body = rewrite_(target, std::move(body));
    }
    SendAll(client, HeadWithout(response.substr(0, headEnd), {"Content-Length", "Connection"}) +
                        "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

}  // namespace testsupport
