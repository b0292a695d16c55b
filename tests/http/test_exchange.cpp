// One GET exchange against a scripted loopback server: the exact request bytes, the status decisions, the
// body framings and the connection's reuse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/http.h"
#include "tests/support/scripted_server.h"

using namespace testsupport;

namespace {

const std::string ProgramAccept =
    "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/msword, application/vnd.ms-powerpoint, */*";
const std::string ProgramUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)";

// The component as the update program configures it before a fetch.
void ConfigureAsProgram(TIdHTTP& http) {
    http.Request().ContentType = "text/html";
    http.Request().Accept = ProgramAccept;
    http.Request().UserAgent = ProgramUserAgent;
    http.Request().ContentLength = 0;
}

std::string Ok(const std::string& body, const std::string& extraHeaders = "") {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" +
           body;
}

std::string RequestLines(const std::string& requestLine, const std::string& host) {
    return requestLine + "\r\nContent-Type: text/html\r\nHost: " + host + "\r\nAccept: " + ProgramAccept +
           "\r\nUser-Agent: " + ProgramUserAgent + "\r\n";
}

template <typename F>
EIdHTTPProtocolException ProtocolError(F&& call) {
    try {
        call();
    } catch (const EIdHTTPProtocolException& e) {
        return e;
    }
    ADD_FAILURE() << "no protocol exception";
    return EIdHTTPProtocolException(0, "", "");
}

}  // namespace

TEST(HttpRequestBytes, PlainGetAndProxyGetAreExactlyTheProgramsLines) {
    ScriptedServer server({{AwaitRequest(), Send(Ok("catalogue"))}});
    TIdHTTP http;
    ConfigureAsProgram(http);
    EXPECT_EQ(http.Get(server.Url("/upd/list.xml?p=1#top")), "catalogue");
    EXPECT_EQ(http.StatusCode(), 200);
    EXPECT_EQ(http.StatusLine(), "HTTP/1.1 200 OK");
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    EXPECT_EQ(server.Received(0), RequestLines("GET /upd/list.xml?p=1 HTTP/1.1", host) + "\r\n");

    ScriptedServer proxy({{AwaitRequest(), Send(Ok("package"))}});
    TIdHTTP viaProxy;
    ConfigureAsProgram(viaProxy);
    viaProxy.ProxyParams().SetProxyServer("127.0.0.1");
    viaProxy.ProxyParams().SetProxyPort(proxy.Port());
    viaProxy.ProxyParams().SetProxyUsername("user");
    viaProxy.ProxyParams().SetProxyPassword("secret");
    viaProxy.ProxyParams().SetBasicAuthentication(true);
    EXPECT_EQ(viaProxy.Get("http://updates.example.com/files/a.zip"), "package");
    EXPECT_EQ(proxy.Received(0), RequestLines("GET http://updates.example.com:80/files/a.zip HTTP/1.1",
                                              "updates.example.com") +
                                     "Proxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n\r\n");
}

TEST(HttpRequestBytes, DatesGoOutInInternetFormInAnyYear) {
    ScriptedServer server({{AwaitRequest(), Send(Ok("a")), AwaitRequest(), Send(Ok("b"))}});
    TIdHTTP http;
    http.Request().Date = 34644.367789351854;          // 1994-11-06 08:49:37
    http.Request().Expires = 25568.999988425927;       // one second before 1970
    http.Request().LastModified = 51195.99998842592;   // a leap day after 2038
    EXPECT_EQ(http.Get(server.Url("/a")), "a");
    http.Request().Date = -109511.0;                   // 1600-03-01, the day after a leap day of a century
    http.Request().Expires = 0.5;                      // noon of day zero
    http.Request().LastModified = 2958465.999988426;   // the last second of year 9999
    EXPECT_EQ(http.Get(server.Url("/b")), "b");

    const std::string first = server.Received(0).substr(0, server.Received(0).find("GET /b"));
    const std::string second = server.Received(0).substr(first.size());
    EXPECT_NE(first.find("\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n"), std::string::npos) << first;
    EXPECT_NE(first.find("\r\nExpires: Wed, 31 Dec 1969 23:59:59 GMT\r\n"), std::string::npos) << first;
    EXPECT_NE(first.find("\r\nIf-Modified-Since: Wed, 29 Feb 2040 23:59:59 GMT\r\n"), std::string::npos) << first;
    EXPECT_NE(second.find("\r\nDate: Wed, 01 Mar 1600 00:00:00 GMT\r\n"), std::string::npos) << second;
    EXPECT_NE(second.find("\r\nExpires: Sat, 30 Dec 1899 12:00:00 GMT\r\n"), std::string::npos) << second;
    EXPECT_NE(second.find("\r\nIf-Modified-Since: Fri, 31 Dec 9999 23:59:59 GMT\r\n"), std::string::npos) << second;
}

TEST(HttpBody, FramingsContinueBlocksAndLineEndings) {
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                "1a;name=value\r\nabcdefghijklmnopqrstuvwxyz\r\n10\r\n0123456789ABCDEF\r\n0\r\n\r\n";
    ScriptedServer server({{AwaitRequest(), Send(chunked), AwaitRequest(),
                            Send("HTTP/1.1 100 Continue\r\n\r\n" + Ok("after continue")), AwaitRequest(),
                            Send("HTTP/1.1 200 OK\nContent-Length:4\n\nlfok"), AwaitRequest(),
                            Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3 ext\r\nabc\r\n2g\r\n\r\n"),
                            AwaitRequest(), Send("HTTP/1.1 200 OK\r\n\r\nuntil close"), Close()}});
    TIdHTTP http;
    http.ReadTimeout = 2000;  // a misread framing ends in a timeout instead of a hang
    std::vector<std::string> statuses;
    http.OnStatus = [&](TIdComponent*, TIdStatus status, const std::string& text) {
        if (status == hsStatusText) statuses.push_back(text);
    };
    std::vector<int32_t> begins;
    http.OnWorkBegin = [&](TIdComponent*, TWorkMode mode, int32_t max) {
        if (mode == wmRead) begins.push_back(max);
    };
    EXPECT_EQ(http.Get(server.Url("/chunked")), "abcdefghijklmnopqrstuvwxyz0123456789ABCDEF");
    EXPECT_EQ(begins, (std::vector<int32_t>{26, 16}));
    EXPECT_EQ(statuses, std::vector<std::string>{"Chunk Started"});
    EXPECT_EQ(http.Get(server.Url("/continue")), "after continue");
    EXPECT_EQ(http.StatusCode(), 200);
    EXPECT_EQ(http.Get(server.Url("/lf")), "lfok");
    // A size line is cut at its first blank; one that is not a hexadecimal number ends the body.
    EXPECT_EQ(http.Get(server.Url("/bad-size")), "abc");
    EXPECT_EQ(http.Get(server.Url("/close")), "until close");
    EXPECT_FALSE(http.IsOpen());
    EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST(HttpBody, ShortOrHostileCountedBodyFailsAndKeepsWhatCameWithTheHeaders) {
    ScriptedServer server({{AwaitRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" +
                                                 std::string(300, 'x')),
                            Close()},
                           {AwaitRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: 2000000000\r\n\r\ntiny"),
                            Close()},
                           {AwaitRequest(), Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                                 "7fffffffffffffffffff\r\nsmall"),
                            Close()}});
    TIdHTTP http;
    TMemoryStream stream;
    stream.WriteText("kept:");
    EXPECT_THROW(http.Get(server.Url("/short"), stream), EIdConnClosedGracefully);
    EXPECT_EQ(stream.Data(), "kept:" + std::string(300, 'x'));
    EXPECT_FALSE(http.IsOpen());

    TMemoryStream hostile;
    EXPECT_THROW(http.Get(server.Url("/hostile"), hostile), EIdConnClosedGracefully);
    EXPECT_EQ(hostile.Data(), "tiny");
    TMemoryStream hostileChunk;
    EXPECT_THROW(http.Get(server.Url("/chunk"), hostileChunk), EIdConnClosedGracefully);
    EXPECT_EQ(hostileChunk.Data(), "small");
}

TEST(HttpStatus, RedirectsAndErrorsRaiseWithTheirBody) {
    ScriptedServer server({{AwaitRequest(),
                            Send("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 5\r\n\r\nmoved"),
                            AwaitRequest(), Send(Ok("body", "Location: /x\r\n")), AwaitRequest(),
                            Send("HTTP/1.1 404 Not Found\r\nContent-Length: 15\r\n\r\n<html>no</html>"),
                            AwaitRequest(), Send("HTTP/1.1 304 Not Modified\r\nContent-Length: 0\r\n\r\n"),
                            AwaitRequest(), Send("HTTP/1.1 404 Not Found\r\nContent-Length: 10\r\n\r\n"), Stall()}});
    TIdHTTP http;
    TMemoryStream stream;
    EIdHTTPProtocolException redirect = ProtocolError([&] { http.Get(server.Url("/moved"), stream); });
    EXPECT_EQ(redirect.StatusCode(), 302);
    EXPECT_EQ(redirect.Message(), "HTTP/1.1 302 Found");
    EXPECT_EQ(redirect.ErrorBody(), "moved");
    EXPECT_EQ(stream.Size(), 0);
    EXPECT_EQ(ProtocolError([&] { http.Get(server.Url("/located")); }).StatusCode(), 200);
    EIdHTTPProtocolException missing = ProtocolError([&] { http.Get(server.Url("/missing")); });
    EXPECT_EQ(missing.StatusCode(), 404);
    EXPECT_EQ(missing.ErrorBody(), "<html>no</html>");
    EXPECT_EQ(ProtocolError([&] { http.Get(server.Url("/cached")); }).StatusCode(), 304);
    EXPECT_THROW(http.Get(server.Url("/silent-404")), EIdReadTimeout);
    EXPECT_EQ(http.ReadTimeout, 0);
    EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST(HttpStatus, AnErrorBodyIsKeptUpToOneMebibyteAndStillReadToItsEnd) {
    const size_t kept = 1 << 20;
    const std::string page = std::string(kept, 'p') + std::string(2 * kept, 'q');
    const std::string piece(700 * 1024, 'a');
    ScriptedServer server(
        {{AwaitRequest(), Send("HTTP/1.1 500 Oops\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page),
          AwaitRequest(),
          Send("HTTP/1.1 404 Gone\r\nTransfer-Encoding: chunked\r\n\r\nAF000\r\n" + piece + "\r\nAF000\r\n" +
               std::string(piece.size(), 'b') + "\r\n0\r\n\r\n"),
          AwaitRequest(), Send(Ok("next"))}});
    TIdHTTP http;
    EXPECT_EQ(ProtocolError([&] { http.Get(server.Url("/counted")); }).ErrorBody(), page.substr(0, kept));
    EXPECT_EQ(ProtocolError([&] { http.Get(server.Url("/chunked")); }).ErrorBody(),
              piece + std::string(kept - piece.size(), 'b'));
    EXPECT_EQ(http.Get(server.Url("/next")), "next");
    EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST(HttpFailures, HeaderBlocksAreBoundedInLinesAndBytes) {
    auto block = [](int lines, const std::string& line) {
        std::string text = "HTTP/1.1 200 OK\r\n";
        for (int i = 0; i < lines; ++i) text += line + "\r\n";
        return text + "Content-Length: 2\r\nConnection: close\r\n\r\nok";
    };
    const std::string wide = "X-Wide: " + std::string(16000, 'w');  // 16008 bytes: 65 fit in 1 MiB, 66 do not
    ScriptedServer server({{AwaitRequest(), Send(block(9998, "X-Many: 1"))},
                           {AwaitRequest(), Send(block(9999, "X-Many: 1"))},
                           {AwaitRequest(), Send(block(65, wide))},
                           {AwaitRequest(), Send(block(66, wide))}});
    TIdHTTP http;
    EXPECT_EQ(http.Get(server.Url("/most-lines")), "ok");
    EXPECT_EQ(http.Response().RawHeaders.Count(), 10000);
    EXPECT_THROW(http.Get(server.Url("/too-many-lines")), EIdHTTPHeaderTooLarge);
    EXPECT_FALSE(http.IsOpen());
    EXPECT_EQ(http.Get(server.Url("/most-bytes")), "ok");
    EXPECT_THROW(http.Get(server.Url("/too-many-bytes")), EIdHTTPHeaderTooLarge);
    EXPECT_EQ(server.ConnectionCount(), 4);
}

TEST(HttpFailures, BrokenAnswersAndUnsupportedUrls) {
    ScriptedServer server({{AwaitRequest(), Close()},
                           {AwaitRequest(), Send("HTTP/1.1 200 OK\r\nX-Long: " + std::string(16400, 'h') + "\r\n")},
                           {AwaitRequest(), Stall()},
                           {AwaitRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"), Close()},
                           {AwaitRequest(), Send("HTTP/1.1 407 Proxy Authentication Required\r\n"
                                                 "Proxy-Authenticate: Negotiate\r\nContent-Length: 6\r\n\r\ndenied")}});
    TIdHTTP http;
    EXPECT_THROW(http.Get(server.Url("/nothing")), EIdConnClosedGracefully);
    EXPECT_THROW(http.Get(server.Url("/long")), EIdReadLnMaxLineLengthExceeded);
    http.ReadTimeout = 100;
    EXPECT_THROW(http.Get(server.Url("/silent")), EIdReadTimeout);
    http.ReadTimeout = 0;
    // A success whose header block the server's close cut short has no body to read.
    try {
        http.Get(server.Url("/cut"));
        ADD_FAILURE() << "a cut answer passed";
    } catch (const EIdException& e) {
        EXPECT_EQ(e.Message(), "Undefined situation");
    }

    http.ProxyParams().SetProxyServer("127.0.0.1");
    http.ProxyParams().SetProxyPort(server.Port());
    EIdHTTPProtocolException denied = ProtocolError([&] { http.Get("http://example.com/file"); });
    EXPECT_EQ(denied.StatusCode(), 407);
    EXPECT_EQ(denied.ErrorBody(), "denied");
    EXPECT_EQ(server.ConnectionCount(), 5);

    TIdHTTP tls;
    try {
        tls.Get(server.Url("/").replace(0, 4, "https"));
        ADD_FAILURE() << "https without a TLS layer";
    } catch (const EIdIOHandlerPropInvalid& e) {
        EXPECT_EQ(e.Message(), "IOHandler value is not valid");
    }
    EXPECT_THROW(tls.Get("ftp://example.com/file"), EIdUnknownProtocol);
    EXPECT_EQ(server.ConnectionCount(), 5);
    // Ports whose low bits would name port 80 are refused, never connected to.
    EXPECT_THROW(tls.Get("http://127.0.0.1:4294967376/"), EConvertError);
    try {
        tls.Get("http://127.0.0.1:65616/");
        ADD_FAILURE() << "connected to a port beyond 16 bits";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.SocketCode(), 10049);
    }
}

TEST(HttpConnection, KeepAliveReuseCloseAndPortsOfLaterUrls) {
    ScriptedServer server({{AwaitRequest(), Send(Ok("one", "Set-Cookie: a=1; path=/\r\n")), AwaitRequest(),
                            Send(Ok("two", "Connection: close\r\n"))},
                           {AwaitRequest(), Send(Ok("three"))}});
    TIdHTTP http;
    EXPECT_EQ(http.Get(server.Url("/first/x.xml")), "one");
    EXPECT_TRUE(http.IsOpen());
    EXPECT_EQ(http.Get("/second/y.xml"), "two");  // no host: the previous host and port
    EXPECT_FALSE(http.IsOpen());
    EXPECT_EQ(http.Get(server.Url("/third")), "three");
    EXPECT_EQ(server.ConnectionCount(), 2);
    const std::string secondRequest = server.Received(0).substr(server.Received(0).find("GET /second"));
    EXPECT_NE(secondRequest.find("\r\nCookie: a=1\r\n"), std::string::npos) << secondRequest;
    EXPECT_NE(server.Received(1).find("\r\nCookie: a=1\r\n"), std::string::npos);

    // An absolute URL without a port goes to port 80, never to the port of the previous request.
    EXPECT_THROW(http.Get("http://127.0.0.1/fourth"), EIdException);
    EXPECT_EQ(http.Port(), 80);
    EXPECT_EQ(server.ConnectionCount(), 2);
}

TEST(HttpConnection, AKeptConnectionOutlivesABlankedHostButNeverServesAnotherPeer) {
    ScriptedServer server({{AwaitRequest(), Send(Ok("one")), AwaitRequest(), Send(Ok("two")), AwaitRequest(),
                            Send(Ok("three"))},
                           {AwaitRequest(), Send(Ok("four"))}});
    TIdHTTP http;
    http.SetHost("update.example");
    EXPECT_EQ(http.Get(server.Url("/catalogue")), "one");
    // Downloads blank the component's Host first; the connection to the same server stays.
    http.SetHost("");
    EXPECT_EQ(http.Get(server.Url("/a.zip")), "two");
    http.SetHost("");
    EXPECT_EQ(http.Get(server.Url("/b.zip")), "three");
    EXPECT_EQ(server.ConnectionCount(), 1);
    // A Host set to the next URL's host does not hand that request to a connection opened to another name.
    http.SetHost("LOCALHOST");
    EXPECT_EQ(http.Get("http://localhost:" + std::to_string(server.Port()) + "/c"), "four");
    EXPECT_EQ(server.ConnectionCount(), 2);
}

TEST(HttpCookies, AQuotedValueGoesBackExactlyAsTheServerSentIt) {
    ScriptedServer server({{AwaitRequest(), Send(Ok("one", "Set-Cookie: s=\"r2\"; Path=\"/\"\r\n")), AwaitRequest(),
                            Send(Ok("two"))}});
    TIdHTTP http;
    EXPECT_EQ(http.Get(server.Url("/first")), "one");
    EXPECT_EQ(http.Get(server.Url("/second")), "two");
    const std::string secondRequest = server.Received(0).substr(server.Received(0).find("GET /second"));
    EXPECT_NE(secondRequest.find("\r\nCookie: s=\"r2\"\r\n"), std::string::npos) << secondRequest;
}

TEST(HttpConnection, AKeptConnectionLostUnderARequestIsReplacedOnce) {
    ScriptedServer server({{AwaitRequest(), Send(Ok("one")), AwaitRequest(), Reset()},
                           {AwaitRequest(), Send(Ok("two")), AwaitRequest(), Close()},
                           {AwaitRequest(), Close()}});
    TIdHTTP http;
    EXPECT_EQ(http.Get(server.Url("/a")), "one");
    // The server dropped the kept connection instead of answering: the request goes again on a new one.
    EXPECT_EQ(http.Get(server.Url("/b")), "two");
    EXPECT_EQ(server.ConnectionCount(), 2);
    // A fresh connection that ends without an answer is a failure; the request is not sent a third time.
    EXPECT_THROW(http.Get(server.Url("/c")), EIdConnClosedGracefully);
    EXPECT_EQ(server.ConnectionCount(), 3);
    EXPECT_NE(server.Received(2).find("GET /c "), std::string::npos);
}

TEST(HttpStatus, FollowedRedirectsChallengesTrailersAndOddStatusLines) {
    ScriptedServer server({{AwaitRequest(), Send("HTTP/1.1 301 Moved\r\nLocation: /new/place\r\nContent-Length: 3\r\n\r\nold"),
                            AwaitRequest(), Send(Ok("new")), AwaitRequest(),
                            Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                                 "Content-Length: 4\r\n\r\nauth"),
                            AwaitRequest(),
                            Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\nX-Sum: 1\r\n\r\n"),
                            AwaitRequest(), Send("HTTP/1.1 204 No Content\r\n\r\n"), AwaitRequest(),
                            Send("garbage\r\nContent-Length: 0\r\n\r\n"), AwaitRequest(),
                            Send("HTTP/1.1 -5 Odd\r\nContent-Length: 0\r\n\r\n"), AwaitRequest(),
                            Send(Ok("range", "Content-Range: bytes x-y/5\r\n"))},
                           {AwaitRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: -7\r\n\r\nrest"), Close()}});
    TIdHTTP http;
    http.HandleRedirects = true;
    EXPECT_EQ(http.Get(server.Url("/old")), "new");
    EXPECT_NE(server.Received(0).find("GET /new/place HTTP/1.1\r\n"), std::string::npos);
    EIdHTTPProtocolException unauthorized = ProtocolError([&] { http.Get(server.Url("/secret")); });
    EXPECT_EQ(unauthorized.StatusCode(), 401);
    EXPECT_EQ(unauthorized.ErrorBody(), "auth");
    // Trailer lines end with the body, so the next answer on the connection starts clean.
    EXPECT_EQ(http.Get(server.Url("/trailer")), "abc");
    EXPECT_EQ(http.Get(server.Url("/empty")), "");
    EXPECT_EQ(http.StatusCode(), 204);
    EXPECT_EQ(ProtocolError([&] { http.Get(server.Url("/garbage")); }).StatusCode(), -1);
    EXPECT_EQ(ProtocolError([&] { http.Get(server.Url("/negative")); }).StatusCode(), -5);
    EXPECT_THROW(http.Get(server.Url("/range")), EConvertError);
    // A negative length is kept as stated and, being no usable length, reads the body until the close.
    EXPECT_EQ(http.Get(server.Url("/negative-length")), "rest");
    EXPECT_EQ(http.Response().ContentLength, -7);
    EXPECT_EQ(server.ConnectionCount(), 2);
}

TEST(HttpConnection, OldProtocolAsksForKeepAliveAndKeepsOnlyWhenGranted) {
    ScriptedServer server({{AwaitRequest(), Send(Ok("kept", "Connection: keep-alive\r\n")), AwaitRequest(),
                            Send(Ok("dropped"))},
                           {AwaitRequest(), Send(Ok("again"))}});
    TIdHTTP http;
    http.ProtocolVersion = pv1_0;
    EXPECT_EQ(http.Get(server.Url("/a")), "kept");
    EXPECT_TRUE(http.IsOpen());
    EXPECT_EQ(http.Get(server.Url("/b")), "dropped");
    EXPECT_FALSE(http.IsOpen());
    EXPECT_EQ(http.Get(server.Url("/c")), "again");
    EXPECT_EQ(server.Received(0).substr(0, 33), "GET /a HTTP/1.0\r\nConnection: keep");
}

TEST(HttpConnection, AnUnreadableRedirectBodyEndsTheConnection) {
    ScriptedServer server({{AwaitRequest(), Send("HTTP/1.1 302 Found\r\nLocation: /x\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                                 std::string(17000, 'f') + "\r\nHTTP/1.1 200 OK\r\n\r\n")},
                           {AwaitRequest(), Send(Ok("fresh"))}});
    TIdHTTP http;
    http.OnRedirect = [](TIdComponent*, std::string&, int&, bool& handled, TIdHTTPMethod&) { handled = true; };
    EXPECT_EQ(http.Get(server.Url("/a")), "");
    EXPECT_EQ(http.Response().Location, "/x");
    EXPECT_FALSE(http.IsOpen());
    EXPECT_EQ(http.Get(server.Url("/b")), "fresh");
    EXPECT_EQ(server.ConnectionCount(), 2);
}
