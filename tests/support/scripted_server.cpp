#include "tests/support/scripted_server.h"

#include <chrono>
#include <stdexcept>

namespace testsupport {

namespace {

bool SendAll(SocketHandle socket, const std::string& bytes) {
    size_t offset = 0;
    while (offset < bytes.size()) {
        const long sent = SendBytes(socket, bytes.data() + offset, bytes.size() - offset);
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
    listener_ = ListenOnLoopback(16, false, port_);
    if (listener_ == kNoSocket) throw std::runtime_error("scripted server: cannot listen on loopback");
    if (!ConnectedPair(wakeRead_, wakeWrite_)) {
        CloseSocket(listener_);
        throw std::runtime_error("scripted server: cannot make its wake-up sockets");
    }
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    SendBytes(wakeWrite_, "x", 1);
    acceptor_.join();
    for (std::thread& thread : threads_) thread.join();
    for (auto& connection : connections_)
        if (connection->socket != kNoSocket) CloseSocket(connection->socket);
    CloseSocket(listener_);
    CloseSocket(wakeRead_);
    CloseSocket(wakeWrite_);
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

SocketHandle ScriptedServer::SocketOf(int index) const {
    std::lock_guard<std::mutex> lock(lock_);
    return connections_[static_cast<size_t>(index)]->socket;
}

bool ScriptedServer::Stopping(int timeoutMs) const { return FirstReadable({wakeRead_}, timeoutMs) == 0; }

void ScriptedServer::AcceptLoop() {
    for (;;) {
        // The wake-up comes first, so a stopping server accepts no more.
        if (FirstReadable({wakeRead_, listener_}, -1) != 1) return;
        const SocketHandle socket = Accept(listener_);
        if (socket == kNoSocket) continue;
        std::lock_guard<std::mutex> lock(lock_);
        auto connection = std::make_unique<Connection>();
        connection->socket = socket;
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
    const SocketHandle socket = SocketOf(index);
    const int ready = FirstReadable({wakeRead_, socket}, timeoutMs);
    if (ready == kWaitTimedOut) return true;
    if (ready != 1) return false;
    char block[65536];
    const long received = ReceiveBytes(socket, block, sizeof block);
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
    const SocketHandle socket = SocketOf(index);
    switch (step.kind) {
        case ScriptStep::Kind::Send:
            return SendAll(socket, step.bytes);
        case ScriptStep::Kind::AwaitRequest:
        case ScriptStep::Kind::Reply:
            for (const size_t start = requestSearchFrom;;) {
                const size_t end = RequestEnd(Received(index), requestSearchFrom);
                if (end != std::string::npos) {
                    requestSearchFrom = end;
                    if (step.kind == ScriptStep::Kind::AwaitRequest) return true;
                    return SendAll(socket, step.reply(Received(index).substr(start, end - start)));
                }
                if (!ReceiveSome(index, -1)) return false;
            }
        case ScriptStep::Kind::Stall:
            return !Stopping(step.milliseconds);
        case ScriptStep::Kind::Close:
            ShutdownSending(socket);
            Drain(index);
            return false;
        case ScriptStep::Kind::Reset: {
            std::lock_guard<std::mutex> lock(lock_);
            CloseWithReset(socket);
            connections_[static_cast<size_t>(index)]->socket = kNoSocket;
            return false;
        }
    }
    return false;
}

}  // namespace testsupport
