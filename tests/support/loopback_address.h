#pragma once
// 127.0.0.1 at a port, as both systems' sides of the loopback socket calls (loopback_socket_*.cpp) give it to
// the socket layer; each system declares the address type in its own header.
#ifdef _WIN32
#include "platform/win32/system.h"
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include <cstdint>

namespace testsupport {

inline sockaddr_in LoopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

}  // namespace testsupport
