#include "platform/win32/system.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "tests/support/loopback_address.h"
#include "tests/support/loopback_socket.h"

namespace testsupport {

namespace {

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

// WinSock counts bytes in an int.
int Count(std::size_t count) { return static_cast<int>(std::min<std::size_t>(count, INT_MAX)); }

SocketHandle Handle(SOCKET socket) { return socket == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(socket); }

// WinSock is started once, before the first socket, and stays started for the rest of the test process.
bool WinSockStarted() {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

SOCKET NewSocket(bool nonBlocking) {
    if (!WinSockStarted()) return INVALID_SOCKET;
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long mode = 1;
    if (socket != INVALID_SOCKET && nonBlocking) ::ioctlsocket(socket, FIONBIO, &mode);
    return socket;
}

}  // namespace

SocketHandle ListenOnLoopback(int backlog, bool nonBlocking, int& port) {
    const SOCKET listener = NewSocket(nonBlocking);
    sockaddr_in address = LoopbackAddress(0);
    int length = sizeof address;
    if (listener == INVALID_SOCKET || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, backlog) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener != INVALID_SOCKET) ::closesocket(listener);
        return kNoSocket;
    }
    port = ntohs(address.sin_port);
    return Handle(listener);
}

SocketHandle Accept(SocketHandle listener) { return Handle(::accept(Native(listener), nullptr, nullptr)); }

SocketHandle StartConnecting(int port) {
    const SOCKET socket = NewSocket(true);
    if (socket == INVALID_SOCKET) return kNoSocket;
    const sockaddr_in address = LoopbackAddress(port);
    ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);  // WSAEWOULDBLOCK: still going
    return Handle(socket);
}

// WinSock has no socket pair of its own: one is made from a connection over loopback.
bool ConnectedPair(SocketHandle& first, SocketHandle& second) {
    int port = 0;
    second = kNoSocket;
    const SocketHandle listener = ListenOnLoopback(1, false, port);
    if (listener == kNoSocket) return false;
    const SOCKET connecting = NewSocket(false);
    const sockaddr_in address = LoopbackAddress(port);
    if (connecting != INVALID_SOCKET &&
        ::connect(connecting, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        second = Accept(listener);
    }
    CloseSocket(listener);
    first = Handle(connecting);
    if (first != kNoSocket && second != kNoSocket) return true;
    if (first != kNoSocket) CloseSocket(first);
    return false;
}

int FirstReadable(std::initializer_list<SocketHandle> sockets, int timeoutMs) {
    std::vector<WSAPOLLFD> waiters;
    for (SocketHandle socket : sockets) waiters.push_back({Native(socket), POLLRDNORM, 0});
    const int ready = ::WSAPoll(waiters.data(), static_cast<ULONG>(waiters.size()), timeoutMs);
    if (ready == SOCKET_ERROR) return kWaitFailed;
    for (size_t i = 0; i < waiters.size(); ++i)
        if (waiters[i].revents & (POLLRDNORM | POLLHUP | POLLERR)) return static_cast<int>(i);
    return kWaitTimedOut;
}

long SendBytes(SocketHandle socket, const char* bytes, std::size_t count) {
    return ::send(Native(socket), bytes, Count(count), 0);
}

long ReceiveBytes(SocketHandle socket, char* dest, std::size_t count) {
    return ::recv(Native(socket), dest, Count(count), 0);
}

void ShutdownSending(SocketHandle socket) { ::shutdown(Native(socket), SD_SEND); }

void CloseSocket(SocketHandle socket) { ::closesocket(Native(socket)); }

void CloseWithReset(SocketHandle socket) {
    const linger abort{1, 0};
    ::setsockopt(Native(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
    ::closesocket(Native(socket));
}

}  // namespace testsupport
