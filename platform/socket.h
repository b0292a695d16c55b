#pragma once
// An IPv4 stream socket of the operating system. Failures come back as WinSock codes (the numbers the
// socket-error messages are made of), so messages built from them read the same on every platform; the
// caller decides which failure becomes which exception.
#include <cstddef>
#include <string>

namespace platform {

inline constexpr int WsaAddressNotAvailable = 10049;

// Results of Bind and Connect besides 0 (done) and a WinSock code.
inline constexpr int SocketBadAddress = -1;  // the address text or port is no IPv4 endpoint; nothing was tried
inline constexpr int SocketTimedOut = -2;    // a connect with a limit ran out of time

// Looks a host name up with the system's resolver: 0 with the first IPv4 address in dotted form, or the
// WinSock code of the failure.
int LookUpHostIPv4(const std::string& host, std::string& address);

class Socket {
public:
    enum class Readiness { Readable, Quiet, Closed };

    Socket() = default;
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // A fresh socket in place of any earlier one; false when the system gives none.
    bool Open();
    // Binds to ip:port, an empty ip meaning any address: 0, SocketBadAddress or the WinSock code.
    int Bind(const std::string& ip, int port);
    // Without a positive limit a plain blocking connect, else one bounded by the limit in milliseconds:
    // 0, SocketBadAddress, SocketTimedOut or the WinSock code.
    int Connect(const std::string& ip, int port, int limit);
    // Takes over an already connected descriptor.
    void Adopt(int descriptor);

    bool Allocated() const { return fd_ >= 0; }

    // Readable when data or an error waits within the limit (milliseconds); a negative limit leaves the
    // waiting to the receive. Closed when there is no socket to wait on.
    Readiness WaitReadable(int limit);
    // Bytes received, or minus the WinSock code of the failure.
    long Receive(char* dest, std::size_t count);
    long Send(const char* bytes, std::size_t count);

    // Ends both directions without releasing the descriptor: safe while another thread waits on it, whose wait,
    // receive or send it ends; a receive then reads as the end of the data.
    void Shutdown();
    // Shuts down the sending side and releases the descriptor.
    void Close();

private:
    int fd_ = -1;
};

}  // namespace platform
