#pragma once
// The socket-layer start-up check.

namespace platform {

// True when the socket layer the transfer client needs is there; always so on POSIX.
bool WinSockAvailable();

}  // namespace platform
