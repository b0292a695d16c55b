#include "platform/winsock.h"

namespace platform {

// POSIX sockets are part of the C library: there is nothing to negotiate.
bool WinSockAvailable() { return true; }

}  // namespace platform
