// Arbitrary bytes as a server's whole answer to one GET: status line, headers, counted, chunked and open-ended
// bodies. The peer is the other end of a socket pair that closes after the bytes, so no run waits long.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "http/http.h"

namespace {

constexpr size_t MaxAnswer = 60000;  // stays below the socket pair's buffer, so writing never blocks

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > MaxAnswer) return 0;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return 0;
    const uint8_t options = data[0];
    if (!WriteAll(ends[1], data + 1, size - 1)) {
        ::close(ends[0]);
        ::close(ends[1]);
        return 0;
    }
    ::shutdown(ends[1], SHUT_WR);

    TIdHTTP http;
    // Port 1 on loopback refuses at once should the client ever try to reconnect.
    http.SetHost("127.0.0.1");
    http.SetPort(1);
    http.ReadTimeout = 50;
    http.HandleRedirects = (options & 1) != 0;
    // Followed redirects and answered challenges stay on the peer's host, so later answers come from the
    // same bytes (or meet the refusing port), never from a name look-up.
    http.OnRedirect = [](TIdComponent*, std::string& dest, int&, bool&, TIdHTTPMethod&) { dest = "/moved"; };
    if (options & 8) {
        http.OnAuthorization = [](TIdComponent*, TIdAuthentication& authentication, bool& handled) {
            authentication.SetUsername("user");
            authentication.SetPassword("secret");
            handled = true;
        };
        http.OnProxyAuthorization = http.OnAuthorization;
    }
    http.ProtocolVersion = (options & 2) != 0 ? pv1_0 : pv1_1;
    if (options & 4) http.HTTPOptions |= hoInProcessAuth;
    http.UseConnectedSocket(ends[0]);
    TMemoryStream body;
    try {
        http.Get("http://127.0.0.1:1/file.bin", body);
    } catch (const Exception&) {
        // Every failure of a broken answer is an exception; only crashes and runaway allocations count.
    }
    ::close(ends[1]);
    return 0;
}
