#include "http/socket_handler.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "http/exceptions.h"

namespace {

constexpr int WSAHOST_NOT_FOUND = 11001;

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

[[noreturn]] void RaiseSocketError(int error) { throw EIdSocketError(WinSockCode(error)); }

// A port beyond 16 bits is no address at all, not the port its low bits name.
sockaddr_in AddressOf(const std::string& ip, int port) {
    if (port < 0 || port > 65535) throw EIdSocketError(10049);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (!ip.empty() && inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) throw EIdSocketError(10049);
    return address;
}

bool ParseOctet(const std::string& text, size_t& pos) {
    size_t digits = 0;
    int value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
        value = value * 10 + (text[pos++] - '0');
        ++digits;
    }
    return digits > 0 && digits <= 3 && value <= 255;
}

// The socket's pending error after a connect that ran in the background.
int PendingError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

}  // namespace

bool IsDottedIPv4(const std::string& text) {
    size_t pos = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0 && (pos >= text.size() || text[pos++] != '.')) return false;
        if (!ParseOctet(text, pos)) return false;
    }
    return pos == text.size();
}

std::string ResolveHostIPv4(const std::string& host) {
    if (strcasecmp(host.c_str(), "localhost") == 0) return "127.0.0.1";
    if (IsDottedIPv4(host)) return host;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        throw EIdSocketError(WSAHOST_NOT_FOUND);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    return text;
}

TIdIOHandlerSocket::~TIdIOHandlerSocket() { Close(); }

void TIdIOHandlerSocket::Allocate(const std::string& boundIP, int boundPort) {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw EIdInvalidSocket();
    if (boundIP.empty() && boundPort == 0) return;
    const sockaddr_in local = AddressOf(boundIP, boundPort);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) throw EIdCouldNotBindSocket();
}

void TIdIOHandlerSocket::Connect(const std::string& ip, int port, int limit) {
    const sockaddr_in peer = AddressOf(ip, port);
    if (limit <= 0) {
        int result;
        do result = ::connect(fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
        while (result != 0 && errno == EINTR);
        if (result != 0) RaiseSocketError(errno == EINPROGRESS ? PendingError(fd_) : errno);
        return;
    }
    const int flags = fcntl(fd_, F_GETFL);
    fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno != EINPROGRESS) throw EIdConnectException(EIdSocketError(WinSockCode(errno)).Message());
        pollfd waiter{fd_, POLLOUT, 0};
        const int ready = ::poll(&waiter, 1, limit);
        if (ready == 0) throw EIdConnectTimeout();
        const int error = ready < 0 ? errno : PendingError(fd_);
        if (error != 0) throw EIdConnectException(EIdSocketError(WinSockCode(error)).Message());
    }
    fcntl(fd_, F_SETFL, flags);
}

void TIdIOHandlerSocket::Adopt(int fd) {
    Close();
    fd_ = fd;
}

bool TIdIOHandlerSocket::WaitReadable(int limit) {
    if (fd_ < 0) throw EIdConnClosedGracefully();
    // Without a limit the receive itself waits (a shutdown from another thread wakes it), saving a call per block.
    if (limit < 0) return true;
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
        if (ready > 0) {
            if (waiter.revents & POLLNVAL) throw EIdConnClosedGracefully();
            return true;
        }
        if (ready == 0) return false;
        if (errno != EINTR) return false;  // a wait that fails counts as not readable
    }
}

long TIdIOHandlerSocket::Receive(char* dest, size_t count) {
    for (;;) {
        const ssize_t received = ::recv(fd_, dest, count, 0);
        if (received >= 0) return static_cast<long>(received);
        if (errno != EINTR) return -WinSockCode(errno);
    }
}

long TIdIOHandlerSocket::Send(const char* bytes, size_t count) {
    for (;;) {
        const ssize_t sent = ::send(fd_, bytes, count, MSG_NOSIGNAL);
        if (sent >= 0) return static_cast<long>(sent);
        if (errno != EINTR) return -WinSockCode(errno);
    }
}

void TIdIOHandlerSocket::Shutdown() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void TIdIOHandlerSocket::Close() {
    if (fd_ < 0) return;
    ::shutdown(fd_, SHUT_WR);
    ::close(fd_);
    fd_ = -1;
}
