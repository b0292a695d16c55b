#pragma once
// The few loopback TCP socket calls the test servers make, one interface over POSIX sockets and WinSock 2.
// A socket is a plain handle (a descriptor or a SOCKET), so fixtures can keep and close it as they see fit.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace testsupport {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Results of FirstReadable besides the index of a socket.
inline constexpr int kWaitTimedOut = -1;
inline constexpr int kWaitFailed = -2;

// A socket listening on 127.0.0.1 at a free port, or kNoSocket. A non-blocking one never blocks in Accept.
SocketHandle ListenOnLoopback(int backlog, bool nonBlocking, int& port);
// The next connection of the listener, or kNoSocket.
SocketHandle Accept(SocketHandle listener);
// A non-blocking socket whose connect to 127.0.0.1:port goes on in the background, or kNoSocket.
SocketHandle StartConnecting(int port);
// Two connected sockets: what is sent on one is read from the other. False when the system gives none.
bool ConnectedPair(SocketHandle& first, SocketHandle& second);

// Waits up to timeoutMs (negative: without limit) until a socket has data, an end or an error to read: the
// index of the first such one in the list, kWaitTimedOut or kWaitFailed.
int FirstReadable(std::initializer_list<SocketHandle> sockets, int timeoutMs);
// Bytes sent or received by one call; 0 or less when the connection ended or failed.
long SendBytes(SocketHandle socket, const char* bytes, std::size_t count);
long ReceiveBytes(SocketHandle socket, char* dest, std::size_t count);

void ShutdownSending(SocketHandle socket);
void CloseSocket(SocketHandle socket);
// Closes so that the peer sees the connection reset rather than ended.
void CloseWithReset(SocketHandle socket);

}  // namespace testsupport
