// The real-server fixtures must really serve: a fixture that silently failed to start would make every test
// that relies on it meaningless.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "tests/support/nginx_server.h"
#include "tests/support/tinyproxy_server.h"

namespace {

// One request on a fresh connection; the whole answer up to the server's close.
std::string RawExchange(int port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return answer;
}

std::string Get(int port, const std::string& target, const std::string& extraLines = "") {
    return RawExchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraLines +
                                 "Connection: close\r\n\r\n");
}

}  // namespace

TEST(NginxServerFixture, ServesFilesOfTheWebRootAndLogsRequests) {
    testsupport::NginxServer nginx;
    ASSERT_TRUE(nginx.running());
    nginx.AddFile("dir/a.txt", "hello from nginx");
    nginx.AddLargeFile("big.bin", 3 * 1024 * 1024 + 17);

    const std::string small = Get(nginx.port(), "/dir/a.txt");
    EXPECT_EQ(small.rfind("HTTP/1.1 200", 0), 0u) << small;
    EXPECT_NE(small.find("\r\n\r\nhello from nginx"), std::string::npos);
    EXPECT_NE(Get(nginx.port(), "/big.bin").find("Content-Length: 3145745"), std::string::npos);
    EXPECT_EQ(Get(nginx.port(), "/missing").rfind("HTTP/1.1 404", 0), 0u);
    EXPECT_EQ(nginx.Url("x/y"), "http://127.0.0.1:" + std::to_string(nginx.port()) + "/x/y");
    EXPECT_NE(nginx.AccessLog().find("GET /dir/a.txt"), std::string::npos);
}

TEST(NginxServerFixture, TwoServersRunSideBySideAndStopWithTheirObject) {
    int firstPort = 0;
    {
        testsupport::NginxServer first;
        testsupport::NginxServer second("location = /moved { return 302 /elsewhere; }");
        ASSERT_TRUE(first.running() && second.running());
        EXPECT_NE(first.port(), second.port());
        EXPECT_EQ(Get(second.port(), "/moved").rfind("HTTP/1.1 302", 0), 0u);
        firstPort = first.port();
    }
    EXPECT_EQ(Get(firstPort, "/"), "");
}

TEST(TinyproxyServerFixture, ForwardsOnlyWithItsCredentialsAndCountsRequests) {
    testsupport::NginxServer nginx;
    nginx.AddFile("f.txt", "through the proxy");
    testsupport::TinyproxyServer proxy("user", "secret");
    ASSERT_TRUE(nginx.running() && proxy.running());

    const std::string refused = Get(proxy.port(), nginx.Url("f.txt"));
    EXPECT_EQ(refused.rfind("HTTP/1.0 407", 0), 0u) << refused;
    EXPECT_NE(refused.find("Proxy-Authenticate: Basic"), std::string::npos);
    // "user:secret" in base64.
    const std::string passed = Get(proxy.port(), nginx.Url("f.txt"), "Proxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n");
    EXPECT_NE(passed.find(" 200 OK"), std::string::npos) << passed;
    EXPECT_NE(passed.find("\r\n\r\nthrough the proxy"), std::string::npos);
    EXPECT_EQ(proxy.RequestCount(), 2);

    testsupport::TinyproxyServer open;
    ASSERT_TRUE(open.running());
    EXPECT_NE(Get(open.port(), nginx.Url("f.txt")).find("\r\n\r\nthrough the proxy"), std::string::npos);
}
