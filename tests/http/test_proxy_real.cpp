// Requests through a real tinyproxy demanding Basic authentication to a real nginx: the configured credentials
// pass, missing ones end with the proxy's 407 and wrong ones with its 401 (this proxy's answer to a bad
// password), each after exactly one request.
#include <gtest/gtest.h>


#include "http/http.h"
#include "tests/support/nginx_server.h"
#include "tests/support/tinyproxy_server.h"

namespace {

class ProxyRealTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(nginx.running() && proxy.running());
        nginx.AddFile("db/base.bin", std::string(100000, 'b'));
        nginx.AddFile("catalogue.xml", "<update/>");
    }

    void UseProxy(TIdHTTP& http, const std::string& user, const std::string& password, bool basic) {
        http.ProxyParams().SetProxyServer("127.0.0.1");
        http.ProxyParams().SetProxyPort(proxy.port());
        http.ProxyParams().SetProxyUsername(user);
        http.ProxyParams().SetProxyPassword(password);
        http.ProxyParams().SetBasicAuthentication(basic);
    }

    // The status of the protocol error the Get raised, 0 when it succeeded.
    static int StatusOfGet(TIdHTTP& http, const std::string& url) {
        try {
            http.Get(url);
        } catch (const EIdHTTPProtocolException& e) {
            return e.StatusCode();
        }
        return 0;
    }

    testsupport::NginxServer nginx;
    testsupport::TinyproxyServer proxy{"updater", "s3cret"};
};

}  // namespace

TEST_F(ProxyRealTest, RightCredentialsFetchThroughTheProxy) {
    TIdHTTP http;
    UseProxy(http, "updater", "s3cret", true);
    EXPECT_EQ(http.Get(nginx.Url("catalogue.xml")), "<update/>");
    // This proxy closes the client connection after every answer without saying so: the second request races
    // that close and must still arrive, on a new connection if need be.
    TMemoryStream body;
    http.Get(nginx.Url("db/base.bin"), body);
    EXPECT_EQ(body.Data(), std::string(100000, 'b'));
    EXPECT_EQ(http.StatusCode(), 200);
    EXPECT_EQ(proxy.RequestCount(), 2);
    EXPECT_NE(proxy.Log().find("GET http://127.0.0.1:" + std::to_string(nginx.port()) + "/db/base.bin"),
              std::string::npos)
        << "the request line carries the absolute URL with its port";
    EXPECT_NE(nginx.AccessLog().find("GET /db/base.bin"), std::string::npos);
}

TEST_F(ProxyRealTest, WrongOrMissingCredentialsAreRefusedWithoutRetry) {
    TIdHTTP wrongPassword;
    UseProxy(wrongPassword, "updater", "guess", true);
    EXPECT_EQ(StatusOfGet(wrongPassword, nginx.Url("catalogue.xml")), 401);
    EXPECT_EQ(proxy.RequestCount(), 1);

    TIdHTTP noBasicFlag;
    UseProxy(noBasicFlag, "updater", "s3cret", false);
    EXPECT_EQ(StatusOfGet(noBasicFlag, nginx.Url("catalogue.xml")), 407);
    EXPECT_EQ(proxy.RequestCount(), 2);
    EXPECT_EQ(noBasicFlag.ProxyParams().ProxyPassword(), "") << "the password is dropped after a 407";
    // The challenge attached an empty Basic object: the next request sends empty credentials, once.
    EXPECT_EQ(StatusOfGet(noBasicFlag, nginx.Url("catalogue.xml")), 401);
    EXPECT_EQ(proxy.RequestCount(), 3);
    EXPECT_EQ(nginx.AccessLog(), "") << "nothing reached the origin server";
}

TEST_F(ProxyRealTest, AHandlerCanSupplyCredentialsAfterTheChallenge) {
    TIdHTTP http;
    UseProxy(http, "", "", false);
    http.HTTPOptions |= hoInProcessAuth;  // retry at once instead of handing back the 407 page
    int asked = 0;
    http.OnProxyAuthorization = [&](TIdComponent*, TIdAuthentication& authentication, bool& handled) {
        ++asked;
        authentication.SetUsername("updater");
        authentication.SetPassword("s3cret");
        handled = true;
    };
    EXPECT_EQ(http.Get(nginx.Url("catalogue.xml")), "<update/>");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(proxy.RequestCount(), 2);
}
