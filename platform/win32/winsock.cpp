#include "platform/winsock.h"

#include "platform/win32/system.h"

namespace platform {

// The transfer client speaks WinSock 2.0: a layer that offers only another version will not do.
bool WinSockAvailable() {
    constexpr WORD kVersion = 0x0002;
    WSADATA data{};
    if (WSAStartup(kVersion, &data) != 0) return false;
    const bool exact = data.wVersion == kVersion;
    WSACleanup();
    return exact;
}

}  // namespace platform
