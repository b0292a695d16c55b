#include "tests/support/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace testsupport {

namespace {

bool SendAll(int fd, const std::string& bytes) {
    size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t sent = ::send(fd, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        offset += static_cast<size_t>(sent);
    }
    return true;
}

// Position after the next empty line (CR LF CR LF or LF LF) at or after from, npos when none yet.
size_t RequestEnd(const std::string& received, size_t from) {
    const size_t crlf = received.find("\r\n\r\n", from);
    const size_t lf = received.find("\n\n", from);
    if (crlf == std::string::npos && lf == std::string::npos) return std::string::npos;
    if (lf == std::string::npos || (crlf != std::string::npos && crlf < lf)) return crlf + 4;
    return lf + 2;
}

}  // namespace

ScriptedServer::ScriptedServer(std::vector<ConnectionScript> scripts) : scripts_(std::move(scripts)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int pipeEnds[2];
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 || ::pipe(pipeEnds) != 0)
        throw std::runtime_error("scripted server: cannot listen on loopback");
    port_ = ntohs(address.sin_port);
    wakeRead_ = pipeEnds[0];
    wakeWrite_ = pipeEnds[1];
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    (void)!::write(wakeWrite_, "x", 1);
    acceptor_.join();
    for (std::thread& thread : threads_) thread.join();
    for (auto& connection : connections_)
        if (connection->fd >= 0) ::close(connection->fd);
    ::close(listener_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

std::string ScriptedServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int ScriptedServer::ConnectionCount() const {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(connections_.size());
}

std::string ScriptedServer::Received(int connection) const {
    std::lock_guard<std::mutex> lock(lock_);
    if (connection < 0 || connection >= static_cast<int>(connections_.size())) return {};
    return connections_[static_cast<size_t>(connection)]->received;
}

bool ScriptedServer::WaitUntilFinished(int connection) const {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, std::chrono::seconds(5), [&] {
        return connection < static_cast<int>(connections_.size()) &&
               connections_[static_cast<size_t>(connection)]->finished;
    });
}

int ScriptedServer::FdOf(int index) const {
    std::lock_guard<std::mutex> lock(lock_);
    return connections_[static_cast<size_t>(index)]->fd;
}

bool ScriptedServer::Stopping(int timeoutMs) const {
    pollfd waiter{wakeRead_, POLLIN, 0};
    return ::poll(&waiter, 1, timeoutMs) > 0;
}

void ScriptedServer::AcceptLoop() {
    for (;;) {
        pollfd waiters[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(waiters, 2, -1) < 0 || (waiters[1].revents & POLLIN)) return;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> lock(lock_);
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connections_.push_back(std::move(connection));
        const int index = static_cast<int>(connections_.size()) - 1;
        threads_.emplace_back([this, index] { Play(index); });
    }
}

void ScriptedServer::Play(int index) {
    size_t requestSearchFrom = 0;
    bool open = true;
    if (index < static_cast<int>(scripts_.size())) {
        for (const ScriptStep& step : scripts_[static_cast<size_t>(index)]) {
            open = RunStep(index, step, requestSearchFrom);
            if (!open) break;
        }
    } else {
        open = RunStep(index, Close(), requestSearchFrom);
    }
    if (open) Drain(index);
    std::lock_guard<std::mutex> lock(lock_);
    connections_[static_cast<size_t>(index)]->finished = true;
    changed_.notify_all();
}

// Receives what is there (waiting up to the timeout); false when the client closed or the server stops.
bool ScriptedServer::ReceiveSome(int index, int timeoutMs) {
    const int fd = FdOf(index);
    pollfd waiters[2] = {{fd, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (::poll(waiters, 2, timeoutMs) < 0 || (waiters[1].revents & POLLIN)) return false;
    if (!(waiters[0].revents & (POLLIN | POLLHUP | POLLERR))) return true;
    char block[65536];
    const ssize_t received = ::recv(fd, block, sizeof block, 0);
    if (received <= 0) return false;
    std::lock_guard<std::mutex> lock(lock_);
    connections_[static_cast<size_t>(index)]->received.append(block, static_cast<size_t>(received));
    changed_.notify_all();
    return true;
}

void ScriptedServer::Drain(int index) {
    while (ReceiveSome(index, -1)) {
    }
}

bool ScriptedServer::RunStep(int index, const ScriptStep& step, size_t& requestSearchFrom) {
    const int fd = FdOf(index);
    switch (step.kind) {
        case ScriptStep::Kind::Send:
            return SendAll(fd, step.bytes);
        case ScriptStep::Kind::AwaitRequest:
            for (;;) {
                const size_t end = RequestEnd(Received(index), requestSearchFrom);
                if (end != std::string::npos) {
                    requestSearchFrom = end;
                    return true;
                }
                if (!ReceiveSome(index, -1)) return false;
            }
        case ScriptStep::Kind::Stall:
            return !Stopping(step.milliseconds);
        case ScriptStep::Kind::Close:
            ::shutdown(fd, SHUT_WR);
            Drain(index);
            return false;
        case ScriptStep::Kind::Reset: {
            const linger abort{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            std::lock_guard<std::mutex> lock(lock_);
            ::close(fd);
            connections_[static_cast<size_t>(index)]->fd = -1;
            return false;
        }
    }
    return false;
}

}  // namespace testsupport
