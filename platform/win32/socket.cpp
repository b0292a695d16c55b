#include "platform/socket.h"

#include "platform/win32/system.h"
#include <ws2tcpip.h>

#include <optional>

namespace platform {
namespace {

constexpr int WsaHostNotFound = 11001;

// The socket layer stays started for the rest of the process once anybody needs it.
bool SocketLayerStarted() {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

SOCKET Native(int descriptor) { return static_cast<SOCKET>(descriptor); }

// Shutdown cancels a receive, send or wait blocked in another thread (a WinSock shutdown alone wakes none), which
// then fails as one started after the shutdown does.
int UnlessCancelled(int error) { return error == WSA_OPERATION_ABORTED ? WSAESHUTDOWN : error; }

// A port beyond 16 bits is no address at all, not the port its low bits name.
std::optional<sockaddr_in> AddressOf(const std::string& ip, int port) {
    if (port < 0 || port > 65535) return std::nullopt;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    if (!ip.empty() && inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) return std::nullopt;
    return address;
}

int ConnectBlocking(SOCKET socket, const sockaddr_in& peer) {
    if (connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return 0;
    return WSAGetLastError();
}

// Waits until the connect that runs in the background is done: its error, or SocketTimedOut.
int AwaitConnect(SOCKET socket, int limit) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval wait{limit / 1000, (limit % 1000) * 1000};
    const int ready = select(0, nullptr, &writable, &failed, &wait);
    if (ready == 0) return SocketTimedOut;
    if (ready < 0) return WSAGetLastError();
    int error = 0;
    int length = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
        return WSAGetLastError();
    }
    return error;
}

int ConnectWithin(SOCKET socket, const sockaddr_in& peer, int limit) {
    u_long nonBlocking = 1;
    ioctlsocket(socket, FIONBIO, &nonBlocking);
    int error = 0;
    if (connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) error = AwaitConnect(socket, limit);
    }
    if (error != 0) return error;
    u_long blocking = 0;
    ioctlsocket(socket, FIONBIO, &blocking);
    return 0;
}

}  // namespace

int LookUpHostIPv4(const std::string& host, std::string& address) {
    if (!SocketLayerStarted()) return WSANOTINITIALISED;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return WsaHostNotFound;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    address = text;
    return 0;
}

Socket::~Socket() { Close(); }

bool Socket::Open() {
    Close();
    if (!SocketLayerStarted()) return false;
    const SOCKET created = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (created == INVALID_SOCKET) return false;
    fd_ = static_cast<int>(created);  // handle values stay far below 2^31
    return true;
}

int Socket::Bind(const std::string& ip, int port) {
    const auto local = AddressOf(ip, port);
    if (!local) return SocketBadAddress;
    if (bind(Native(fd_), reinterpret_cast<const sockaddr*>(&*local), sizeof *local) != 0) return WSAGetLastError();
    return 0;
}

int Socket::Connect(const std::string& ip, int port, int limit) {
    const auto peer = AddressOf(ip, port);
    if (!peer) return SocketBadAddress;
    return limit <= 0 ? ConnectBlocking(Native(fd_), *peer) : ConnectWithin(Native(fd_), *peer, limit);
}

void Socket::Adopt(int descriptor) {
    Close();
    fd_ = descriptor;
}

Socket::Readiness Socket::WaitReadable(int limit) {
    if (fd_ < 0) return Readiness::Closed;
    // Without a limit the receive itself waits (a shutdown from another thread wakes it), saving a call per block.
    if (limit < 0) return Readiness::Readable;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Native(fd_), &readable);
    timeval wait{limit / 1000, (limit % 1000) * 1000};
    const int ready = select(0, &readable, nullptr, nullptr, &wait);
    if (ready > 0) return Readiness::Readable;
    const int error = ready < 0 ? UnlessCancelled(WSAGetLastError()) : 0;
    if (error == WSAESHUTDOWN) return Readiness::Readable;  // the receive then reports the end
    if (error == WSAENOTSOCK) return Readiness::Closed;
    return Readiness::Quiet;  // a wait that fails counts as not readable
}

long Socket::Receive(char* dest, std::size_t count) {
    const int received = recv(Native(fd_), dest, static_cast<int>(std::min<std::size_t>(count, 1 << 30)), 0);
    if (received >= 0) return received;
    const int error = UnlessCancelled(WSAGetLastError());
    return error == WSAESHUTDOWN ? 0 : -error;  // a receiving side shut down reads as the end, as on POSIX
}

long Socket::Send(const char* bytes, std::size_t count) {
    const int sent = send(Native(fd_), bytes, static_cast<int>(std::min<std::size_t>(count, 1 << 30)), 0);
    return sent >= 0 ? sent : -UnlessCancelled(WSAGetLastError());
}

void Socket::Shutdown() {
    if (fd_ < 0) return;
    shutdown(Native(fd_), SD_BOTH);
    CancelIoEx(reinterpret_cast<HANDLE>(Native(fd_)), nullptr);
}

void Socket::Close() {
    if (fd_ < 0) return;
    shutdown(Native(fd_), SD_SEND);
    closesocket(Native(fd_));
    fd_ = -1;
}

}  // namespace platform
