#pragma once
// A loopback TCP server on its own threads for wire cases a real server does not produce: each accepted
// connection plays its script (send bytes, wait for a request's empty line, stall, close, reset) and every byte
// it receives is recorded, so tests can compare requests byte for byte.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback_socket.h"

namespace testsupport {

struct ScriptStep {
    enum class Kind { Send, AwaitRequest, Stall, Close, Reset, Reply };
    Kind kind;
    std::string bytes;  // Send
    int milliseconds = 0;  // Stall; negative: until the server stops
    std::function<std::string(const std::string& request)> reply = {};  // Reply
};

using ConnectionScript = std::vector<ScriptStep>;

inline ScriptStep Send(std::string bytes) { return {ScriptStep::Kind::Send, std::move(bytes)}; }
// Waits until the next request's header block (up to its empty line) has arrived.
inline ScriptStep AwaitRequest() { return {ScriptStep::Kind::AwaitRequest, {}}; }
inline ScriptStep Stall(int milliseconds = -1) { return {ScriptStep::Kind::Stall, {}, milliseconds}; }
// Ends the sending side and keeps recording what the client still sends.
inline ScriptStep Close() { return {ScriptStep::Kind::Close, {}}; }
// Aborts the connection with a reset.
inline ScriptStep Reset() { return {ScriptStep::Kind::Reset, {}}; }
// Waits for the next request and sends what `reply` makes of its header block (request line included).
inline ScriptStep Reply(std::function<std::string(const std::string& request)> reply) {
    return {ScriptStep::Kind::Reply, {}, 0, std::move(reply)};
}

class ScriptedServer {
public:
    // Connection n plays scripts[n]; connections beyond the scripts are closed at once. A script that ends
    // without Close or Reset keeps the connection open (recording) until the client closes it.
    explicit ScriptedServer(std::vector<ConnectionScript> scripts);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int Port() const { return port_; }
    std::string Url(const std::string& path = "/") const;
    int ConnectionCount() const;
    // Everything received on connection n so far.
    std::string Received(int connection) const;
    // Waits (up to 5 s) until connection n has been closed by the client or by its script.
    bool WaitUntilFinished(int connection) const;

private:
    struct Connection {
        SocketHandle socket = kNoSocket;
        std::string received;
        bool finished = false;
    };
    void AcceptLoop();
    void Play(int index);
    bool RunStep(int index, const ScriptStep& step, size_t& requestSearchFrom);
    bool ReceiveSome(int index, int timeoutMs);
    void Drain(int index);
    bool Stopping(int timeoutMs) const;
    SocketHandle SocketOf(int index) const;

    std::vector<ConnectionScript> scripts_;
    SocketHandle listener_ = kNoSocket;
    // Stopping sends a byte here, which every wait of the server's threads watches for.
    SocketHandle wakeRead_ = kNoSocket;
    SocketHandle wakeWrite_ = kNoSocket;
    int port_ = 0;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

}  // namespace testsupport
