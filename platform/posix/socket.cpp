#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>

namespace platform {
namespace {

constexpr int WsaHostNotFound = 11001;

// errno to the WinSock code of the same failure.
int WinSockCode(int error) {
    switch (error) {
        case EINTR: return 10004;
        case EBADF: return 10009;
        case EACCES: return 10013;
        case EFAULT: return 10014;
        case EINVAL: return 10022;
        case EMFILE: return 10024;
        case EWOULDBLOCK: return 10035;
        case EINPROGRESS: return 10036;
        case EALREADY: return 10037;
        case ENOTSOCK: return 10038;
        case EDESTADDRREQ: return 10039;
        case EMSGSIZE: return 10040;
        case EPROTOTYPE: return 10041;
        case ENOPROTOOPT: return 10042;
        case EPROTONOSUPPORT: return 10043;
        case ESOCKTNOSUPPORT: return 10044;
        case EOPNOTSUPP: return 10045;
        case EPFNOSUPPORT: return 10046;
        case EAFNOSUPPORT: return 10047;
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ENETRESET: return 10052;
        case ECONNABORTED: return 10053;
        case EPIPE: return 10053;  // the peer went away while we were sending
        case ECONNRESET: return 10054;
        case ENOBUFS: return 10055;
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        case ESHUTDOWN: return 10058;
        case ETOOMANYREFS: return 10059;
        case ETIMEDOUT: return 10060;
        case ECONNREFUSED: return 10061;
        case ELOOP: return 10062;
        case ENAMETOOLONG: return 10063;
        case EHOSTDOWN: return 10064;
        case EHOSTUNREACH: return 10065;
        case ENOTEMPTY: return 10066;
        default: return error;
    }
}

// A port beyond 16 bits is no address at all, not the port its low bits name.
std::optional<sockaddr_in> AddressOf(const std::string& ip, int port) {
    if (port < 0 || port > 65535) return std::nullopt;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (!ip.empty() && inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) return std::nullopt;
    return address;
}

// The socket's pending error after a connect that ran in the background.
int PendingError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

int ConnectBlocking(int fd, const sockaddr_in& peer) {
    int result;
    do result = ::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    while (result != 0 && errno == EINTR);
    if (result == 0) return 0;
    return WinSockCode(errno == EINPROGRESS ? PendingError(fd) : errno);
}

int ConnectWithin(int fd, const sockaddr_in& peer, int limit) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno != EINPROGRESS) return WinSockCode(errno);
        pollfd waiter{fd, POLLOUT, 0};
        const int ready = ::poll(&waiter, 1, limit);
        if (ready == 0) return SocketTimedOut;
        error = ready < 0 ? errno : PendingError(fd);
    }
    if (error != 0) return WinSockCode(error);
    fcntl(fd, F_SETFL, flags);
    return 0;
}

}  // namespace

int LookUpHostIPv4(const std::string& host, std::string& address) {
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
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return fd_ >= 0;
}

int Socket::Bind(const std::string& ip, int port) {
    const auto local = AddressOf(ip, port);
    if (!local) return SocketBadAddress;
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&*local), sizeof *local) != 0) return WinSockCode(errno);
    return 0;
}

int Socket::Connect(const std::string& ip, int port, int limit) {
    const auto peer = AddressOf(ip, port);
    if (!peer) return SocketBadAddress;
    return limit <= 0 ? ConnectBlocking(fd_, *peer) : ConnectWithin(fd_, *peer, limit);
}

void Socket::Adopt(int descriptor) {
    Close();
    fd_ = descriptor;
}

Socket::Readiness Socket::WaitReadable(int limit) {
    if (fd_ < 0) return Readiness::Closed;
    // Without a limit the receive itself waits (a shutdown from another thread wakes it), saving a call per block.
    if (limit < 0) return Readiness::Readable;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit);
    pollfd waiter{fd_, POLLIN, 0};
    for (;;) {
        int wait = limit;
        if (limit > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = static_cast<int>(std::max<long long>(0, left.count()));
        }
        const int ready = ::poll(&waiter, 1, wait);
        if (ready > 0) return (waiter.revents & POLLNVAL) ? Readiness::Closed : Readiness::Readable;
        if (ready == 0 || errno != EINTR) return Readiness::Quiet;  // a wait that fails counts as not readable
    }
}

long Socket::Receive(char* dest, std::size_t count) {
    for (;;) {
        const ssize_t received = ::recv(fd_, dest, count, 0);
        if (received >= 0) return static_cast<long>(received);
        if (errno != EINTR) return -WinSockCode(errno);
    }
}

long Socket::Send(const char* bytes, std::size_t count) {
    for (;;) {
        const ssize_t sent = ::send(fd_, bytes, count, MSG_NOSIGNAL);
        if (sent >= 0) return static_cast<long>(sent);
        if (errno != EINTR) return -WinSockCode(errno);
    }
}

void Socket::Shutdown() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void Socket::Close() {
    if (fd_ < 0) return;
    ::shutdown(fd_, SHUT_WR);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace platform
