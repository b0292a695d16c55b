#include <gtest/gtest.h>

#include "http/authentication.h"
#include "http/exceptions.h"

TEST(Base64, EncodesTheStandardVectorsOnOneLine) {
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("f"), "Zg==");
    EXPECT_EQ(Base64Encode("fo"), "Zm8=");
    EXPECT_EQ(Base64Encode("foo"), "Zm9v");
    EXPECT_EQ(Base64Encode("foob"), "Zm9vYg==");
    EXPECT_EQ(Base64Encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Base64Encode(std::string("\xfb\xff\x00", 3)), "+/8A") << "high bytes and the last two letters";
    const std::string encoded = Base64Encode(std::string(200, 'x'));
    EXPECT_EQ(encoded.size(), 268u);
    EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
}

TEST(BasicAuthentication, CredentialsAndChallengeSteps) {
    EXPECT_EQ(BasicCredentials("Aladdin", "open sesame"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(BasicCredentials("", ""), "Basic Og==");
    EXPECT_EQ(BasicCredentials("user", ""), "Basic dXNlcjo=");

    TIdBasicAuthentication basic;
    basic.Challenges() = {"Digest nonce=1", "Basic realm=\"Update proxy\", charset=UTF-8"};
    EXPECT_EQ(basic.Next(), TIdAuthNextStep::NeedsInput);
    EXPECT_EQ(basic.Params().Value("realm"), "Update proxy");
    EXPECT_EQ(basic.Params().Value("charset"), "UTF-8");
    basic.SetUsername("u");
    basic.SetPassword("p");
    EXPECT_EQ(basic.Next(), TIdAuthNextStep::Ready);
    EXPECT_EQ(basic.Authentication(), BasicCredentials("u", "p"));
    EXPECT_EQ(basic.Steps(), 1);
    basic.Reset();
    EXPECT_EQ(basic.Steps(), 0);
    EXPECT_EQ(basic.Username(), "u") << "a reset keeps the parameters";
}

TEST(SchemeRegistry, BasicIsRegisteredAndNamesAreUniqueWithoutRegardToCase) {
    const TIdAuthenticationClass* basic = FindScheme("bAsIc");
    ASSERT_NE(basic, nullptr);
    EXPECT_NE(dynamic_cast<TIdBasicAuthentication*>(basic->Create().get()), nullptr);
    EXPECT_EQ(FindScheme("NTLM"), nullptr);

    try {
        RegisterScheme("BASIC", {"TOther", nullptr});
        ADD_FAILURE() << "registered a name twice";
    } catch (const EIdAlreadyRegisteredAuthenticationMethod& e) {
        EXPECT_EQ(e.Message(), "This authentication method is already registered with class name TIdBasicAuthentication.");
    }
    // The registry lives as long as the process: a fresh name for every repetition of the test.
    static int repetition = 0;
    const std::string name = "X-Test-" + std::to_string(++repetition);
    RegisterScheme(name, {"TXTest", [] { return std::make_unique<TIdBasicAuthentication>(); }});
    EXPECT_EQ(FindScheme(httptext::LowerCase(name))->ClassName, "TXTest");
}

TEST(ProxyAuthorization, BasicObjectIsMadeOnceAndDiscardedOnlyOnServerOrPortChange) {
    TIdProxyConnectionInfo proxy;
    TIdHeaderList headers;
    proxy.AddProxyAuthorization(headers);
    EXPECT_EQ(headers.Count(), 0) << "no line without the basic flag or a scheme object";

    proxy.SetProxyServer("Proxy.Local");
    proxy.SetProxyPort(3128);
    proxy.SetBasicAuthentication(true);
    proxy.SetProxyUsername("alice");
    proxy.SetProxyPassword("pw1");
    proxy.AddProxyAuthorization(headers);
    EXPECT_EQ(headers.Value("Proxy-Authorization"), BasicCredentials("alice", "pw1"));

    proxy.SetProxyPassword("pw2");
    proxy.SetProxyServer("PROXY.local");
    proxy.SetProxyPort(3128);
    proxy.AddProxyAuthorization(headers);
    EXPECT_EQ(headers.Value("Proxy-Authorization"), BasicCredentials("alice", "pw1"))
        << "the object keeps the values of its creation while server and port stay";
    EXPECT_EQ(headers.Extract("Proxy-Authorization").size(), 1u);

    proxy.SetProxyPort(8080);
    EXPECT_EQ(proxy.Authentication(), nullptr);
    proxy.AddProxyAuthorization(headers);
    EXPECT_EQ(headers.Value("Proxy-Authorization"), BasicCredentials("alice", "pw2"));
    proxy.SetProxyServer("other");
    EXPECT_EQ(proxy.Authentication(), nullptr);

    TIdProxyConnectionInfo emptyCredentials;
    emptyCredentials.SetBasicAuthentication(true);
    TIdHeaderList withoutServer;
    emptyCredentials.AddProxyAuthorization(withoutServer);
    EXPECT_EQ(withoutServer.Value("Proxy-Authorization"), "Basic Og==");
}

TEST(ProxyAuthorization, ChallengesWithoutHandlerGiveNoCredentials) {
    TIdProxyConnectionInfo unsupported;
    unsupported.SetProxyServer("p");
    EXPECT_FALSE(unsupported.AnswerProxyChallenge({"NTLM", "Negotiate abc"}, {}));
    EXPECT_EQ(unsupported.Authentication(), nullptr);

    TIdProxyConnectionInfo proxy;
    proxy.SetProxyServer("p");
    proxy.SetProxyUsername("bob");
    proxy.SetProxyPassword("secret");
    EXPECT_FALSE(proxy.AnswerProxyChallenge({"NTLM", "Basic realm=\"r\""}, {}));
    ASSERT_NE(proxy.Authentication(), nullptr);
    EXPECT_EQ(proxy.ProxyPassword(), "") << "a refused password is not offered again";
    TIdHeaderList headers;
    proxy.AddProxyAuthorization(headers);
    EXPECT_EQ(headers.Value("Proxy-Authorization"), "Basic Og==")
        << "the object made from the challenge stays, with empty credentials";
}

TEST(ProxyAuthorization, HandlersCanSelectAndSupplyCredentials) {
    TIdAuthorizationHandlers handlers;
    int asked = 0;
    handlers.OnAuthorization = [&](TIdAuthentication& authentication) {
        ++asked;
        EXPECT_EQ(authentication.Params().Value("realm"), "r");
        authentication.SetUsername("carol");
        authentication.SetPassword("pw");
        return true;
    };
    TIdProxyConnectionInfo proxy;
    EXPECT_TRUE(proxy.AnswerProxyChallenge({"Basic realm=r"}, handlers));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(proxy.ProxyUsername(), "carol");
    EXPECT_EQ(proxy.ProxyPassword(), "pw");

    std::unique_ptr<TIdAuthentication> serverScheme;
    std::string user, password;
    handlers.OnAuthorization = [](TIdAuthentication&) { return true; };
    EXPECT_FALSE(AnswerChallenge(serverScheme, user, password, {"Basic realm=r"}, handlers))
        << "a handler that supplies nothing must not make the loop spin";
    handlers.OnSelectAuthorization = [](const TIdAuthenticationClass*& chosen, const std::vector<std::string>&) {
        chosen = nullptr;
    };
    std::unique_ptr<TIdAuthentication> refused;
    EXPECT_FALSE(AnswerChallenge(refused, user, password, {"Basic realm=r"}, handlers));
    EXPECT_EQ(refused, nullptr);
}
