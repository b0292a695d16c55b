#pragma once
// The operating-system socket under a connection. Failures come back as WinSock codes (the numbers the
// socket-error messages are made of), so the connection's messages read the same on every platform.
#include <cstddef>
#include <string>

// The dotted IPv4 address of a host: "localhost" (any case) is 127.0.0.1, a dotted address is used as it is,
// anything else is looked up (first IPv4 address). EIdSocketError 11001 when the look-up fails.
std::string ResolveHostIPv4(const std::string& host);
bool IsDottedIPv4(const std::string& text);

class TIdIOHandlerSocket {
public:
    TIdIOHandlerSocket() = default;
    ~TIdIOHandlerSocket();
    TIdIOHandlerSocket(const TIdIOHandlerSocket&) = delete;
    TIdIOHandlerSocket& operator=(const TIdIOHandlerSocket&) = delete;

    // A fresh stream socket (EIdInvalidSocket), bound to ip:port when either is given (EIdCouldNotBindSocket).
    void Allocate(const std::string& boundIP, int boundPort);
    // Without a positive limit a plain blocking connect (EIdSocketError); with one, EIdConnectTimeout when it
    // runs out and EIdConnectException with the socket error's message when the connect fails.
    void Connect(const std::string& ip, int port, int limit);
    void Adopt(int fd);

    bool Allocated() const { return fd_ >= 0; }

    // True when the socket became readable (or reports an error) within the limit; a negative limit waits
    // without end.
    bool WaitReadable(int limit);
    // Bytes received, or minus the WinSock code of the failure.
    long Receive(char* dest, size_t count);
    long Send(const char* bytes, size_t count);

    // Ends both directions without releasing the descriptor: safe while another thread waits on it.
    void Shutdown();
    // Shuts down the sending side and releases the descriptor.
    void Close();

private:
    int fd_ = -1;
};
