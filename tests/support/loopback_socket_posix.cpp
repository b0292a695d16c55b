#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "tests/support/loopback_address.h"
#include "tests/support/loopback_socket.h"

namespace testsupport {

namespace {

int Native(SocketHandle socket) { return static_cast<int>(socket); }

int NewSocket(bool nonBlocking) {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
}

}  // namespace

SocketHandle ListenOnLoopback(int backlog, bool nonBlocking, int& port) {
    const int listener = NewSocket(nonBlocking);
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, backlog) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener >= 0) ::close(listener);
        return kNoSocket;
    }
    port = ntohs(address.sin_port);
    return listener;
}

SocketHandle Accept(SocketHandle listener) {
    const int connection = ::accept4(Native(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return connection < 0 ? kNoSocket : connection;
}

SocketHandle StartConnecting(int port) {
    const int socket = NewSocket(true);
    if (socket < 0) return kNoSocket;
    const sockaddr_in address = LoopbackAddress(port);
    ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);  // EINPROGRESS: still going
    return socket;
}

bool ConnectedPair(SocketHandle& first, SocketHandle& second) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
    first = ends[0];
    second = ends[1];
    return true;
}

int FirstReadable(std::initializer_list<SocketHandle> sockets, int timeoutMs) {
    std::vector<pollfd> waiters;
    for (SocketHandle socket : sockets) waiters.push_back({Native(socket), POLLIN, 0});
    const int ready = ::poll(waiters.data(), waiters.size(), timeoutMs);
    if (ready < 0) return kWaitFailed;
    for (size_t i = 0; i < waiters.size(); ++i)
        if (waiters[i].revents & (POLLIN | POLLHUP | POLLERR)) return static_cast<int>(i);
    return kWaitTimedOut;
}

long SendBytes(SocketHandle socket, const char* bytes, std::size_t count) {
    // A peer that is gone must fail the send, not raise SIGPIPE in the test process.
    return ::send(Native(socket), bytes, count, MSG_NOSIGNAL);
}

long ReceiveBytes(SocketHandle socket, char* dest, std::size_t count) { return ::recv(Native(socket), dest, count, 0); }

void ShutdownSending(SocketHandle socket) { ::shutdown(Native(socket), SHUT_WR); }

void CloseSocket(SocketHandle socket) { ::close(Native(socket)); }

void CloseWithReset(SocketHandle socket) {
    const linger abort{1, 0};
    ::setsockopt(Native(socket), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(Native(socket));
}

}  // namespace testsupport
