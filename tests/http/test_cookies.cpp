#include <gtest/gtest.h>

#include "http/cookies.h"

namespace {

// A store whose clock the test moves.
struct CookieStore {
    std::time_t now = 1700000000;  // 2023-11-14 22:13:20 UTC
    TIdCookieManager manager{[this] { return now; }};
};

}  // namespace

TEST(Cookies, DomainAcceptanceFollowsTheRequestHost) {
    CookieStore store;
    auto& m = store.manager;
    m.AddCookie("a=1", "www.example.com");
    m.AddCookie("b=2; Domain=.example.com", "www.example.com");
    m.AddCookie("c=3; domain=example.com", "www.example.com");       // names a parent without the dot
    m.AddCookie("d=4; Domain=.other.com", "www.example.com");        // foreign domain
    m.AddCookie("e=5; Domain=.com", "example.com");                   // a top-level domain
    m.AddCookie("e2=5; Domain=.com", "www.com");
    m.AddCookie("f=6; Domain=.Example.com", "www.example.com");      // case must match exactly
    m.AddCookie("g=7; Domain=.0.0.1", "127.0.0.1");                  // an address has no parent domain
    m.AddCookie("h=8", "127.0.0.1");
    m.AddCookie("=9", "www.example.com");                             // no name

    ASSERT_EQ(m.CookiesOf("www.example.com").size(), 1u);
    EXPECT_EQ(m.CookiesOf("www.example.com")[0].Name, "a");
    ASSERT_EQ(m.CookiesOf(".example.com").size(), 1u);
    EXPECT_EQ(m.CookiesOf(".example.com")[0].Name, "b");
    EXPECT_TRUE(m.CookiesOf("example.com").empty());
    EXPECT_TRUE(m.CookiesOf(".other.com").empty());
    EXPECT_TRUE(m.CookiesOf(".com").empty());
    EXPECT_TRUE(m.CookiesOf(".Example.com").empty());
    EXPECT_TRUE(m.CookiesOf(".0.0.1").empty());
    EXPECT_EQ(m.CookiesOf("127.0.0.1").size(), 1u);
}

TEST(Cookies, AnAddressHasNoParentDomainWhileADottedNameHasOne) {
    CookieStore store;
    auto& m = store.manager;
    m.AddCookie("a=1; Domain=.1.2.3", "10.1.2.3");
    m.AddCookie("b=2; Domain=.1.2.3", "010.1.2.3");  // leading zeros: still four numbers, still an address
    m.AddCookie("c=3; Domain=.8.9", "7.8.9");         // three numbers are a name
    m.AddCookie("d=4; Domain=.1.2.4", "256.1.2.4");   // 256 is no address byte
    m.AddCookie("e=5; Domain=.2.3.4.test", "1.2.3.4.test");
    m.AddCookie("f=6; Domain=10.1.2.3", "10.1.2.3");

    EXPECT_TRUE(m.CookiesOf(".1.2.3").empty());
    EXPECT_EQ(m.CookiesOf(".8.9").size(), 1u);
    EXPECT_EQ(m.CookiesOf(".1.2.4").size(), 1u);
    EXPECT_EQ(m.CookiesOf(".2.3.4.test").size(), 1u);
    EXPECT_EQ(m.CookieLine("10.1.2.3", "/", false), "f=6");
    EXPECT_EQ(m.CookieLine("110.1.2.3", "/", false), "");
}

TEST(Cookies, CookiesGoOnlyToTheirOwnDomainAndHostsBelowIt) {
    CookieStore store;
    auto& m = store.manager;
    m.AddCookie("own=1; Path=/a/", "example.com");
    m.AddCookie("parent=2; Domain=.example.com", "www.example.com");

    EXPECT_EQ(m.CookieLine("example.com", "/a/", false), "own=1");
    EXPECT_EQ(m.CookieLine("EXAMPLE.com", "/a/", false), "own=1");
    EXPECT_EQ(m.CookieLine("www.example.com", "/a/", false), "own=1; parent=2");
    EXPECT_EQ(m.CookieLine("a.b.example.com", "/a/", false), "own=1; parent=2");
    // Hosts that merely contain the domain's text are someone else's.
    EXPECT_EQ(m.CookieLine("evilexample.com", "/a/", false), "");
    EXPECT_EQ(m.CookieLine("example.com.attacker.net", "/a/", false), "");
    EXPECT_EQ(m.CookieLine("wwwexample.com", "/a/", false), "");
}

TEST(Cookies, ReplacementPathSecureAndOrder) {
    CookieStore store;
    auto& m = store.manager;
    const std::string host = "h.test";
    m.AddCookie("root=r; Path=/", host);
    m.AddCookie("deep=d; path=/a/b/", host);
    m.AddCookie("mid=m; PATH=/a/", host);
    m.AddCookie("file=f; Path=/a/page.html", host);
    m.AddCookie("upper=u; Path=/A/", host);
    m.AddCookie("safe=s; Secure; Path=/", host);
    m.AddCookie("empty=; Path=/", host);
    m.AddCookie("root=\"r2\"", host);  // same name: replaces, default path "/"

    EXPECT_EQ(m.CookiesOf(host).size(), 7u);
    EXPECT_EQ(m.CookieLine(host, "/a/b/", false), "deep=d; mid=m; root=\"r2\"");
    EXPECT_EQ(m.CookieLine(host, "/a/", false), "mid=m; root=\"r2\"") << "a file path is not a prefix of its directory";
    EXPECT_EQ(m.CookieLine(host, "/", false), "root=\"r2\"");
    EXPECT_EQ(m.CookieLine(host, "/", true), "root=\"r2\"; safe=s");
}

TEST(Cookies, ValuesGoBackAsSentWhileQuotedAttributesStillApply) {
    CookieStore store;
    auto& m = store.manager;
    m.AddCookie("q=\"r 2\"; Path=\"/a/\"; Domain=\".example.com\"; Max-Age=\"60\"", "www.example.com");
    m.AddCookie("empty=\"\"; Path=/a/", "www.example.com");
    m.AddCookie("inner=x\"y\" ; Path=/a/", "www.example.com");

    ASSERT_EQ(m.CookiesOf(".example.com").size(), 1u);
    EXPECT_EQ(m.CookiesOf(".example.com")[0].Path, "/a/");
    EXPECT_EQ(m.CookieLine("www.example.com", "/a/", false), "q=\"r 2\"; empty=\"\"; inner=x\"y\"");
    store.now += 60;
    EXPECT_EQ(m.CookieLine("www.example.com", "/a/", false), "empty=\"\"; inner=x\"y\"");
}

TEST(Cookies, ExpiryByDateAndMaxAge) {
    CookieStore store;
    auto& m = store.manager;
    const std::string host = "h.test";
    m.AddCookie("past=1; expires=Tue, 14-Nov-2023 22:13:19 GMT", host);
    m.AddCookie("future=2; Expires=Wed, 15 Nov 2023 22:13:20 GMT", host);
    m.AddCookie("age=3; Max-Age=60; expires=Thu, 01 Jan 1970 00:00:00 GMT", host);
    m.AddCookie("zero=4; max-age=0", host);
    m.AddCookie("huge=5; max-age=999999999999999999", host);
    m.AddCookie("baddate=6; expires=yesterday", host);
    m.AddCookie("before1970=8; expires=Wed, 31-Dec-1969 23:59:59 GMT", host);
    m.AddCookie("past2038=9; expires=Fri, 31 Dec 9999 23:59:59 GMT", host);
    m.AddCookie2("v2=7; Version=1; Max-Age=30; Port=\"80\"; Discard", host);

    EXPECT_EQ(m.CookieLine(host, "/", false), "future=2; age=3; huge=5; baddate=6; past2038=9; v2=7");
    store.now += 31;
    EXPECT_EQ(m.CookieLine(host, "/", false), "future=2; age=3; huge=5; baddate=6; past2038=9");
    store.now += 30;
    EXPECT_EQ(m.CookieLine(host, "/", false), "future=2; huge=5; baddate=6; past2038=9");
    store.now += 86400;
    EXPECT_EQ(m.CookieLine(host, "/", false), "huge=5; baddate=6; past2038=9");
    EXPECT_EQ(m.CookiesOf(host).size(), 3u) << "expired cookies are discarded, not only skipped";
    store.now = 4102444800;  // 2100-01-01
    EXPECT_EQ(m.CookieLine(host, "/", false), "huge=5; baddate=6; past2038=9");

    m.AddCookie("huge=gone; Max-Age=-1", host);
    EXPECT_EQ(m.CookieLine(host, "/", false), "baddate=6; past2038=9") << "an expired cookie deletes the stored one";
}

TEST(Cookies, InternetDateForms) {
    EXPECT_EQ(InternetDateToTime("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
    EXPECT_EQ(InternetDateToTime("Sunday, 06-Nov-94 08:49:37 GMT"), 784111777);
    EXPECT_EQ(InternetDateToTime("Sun Nov  6 08:49:37 1994"), 784111777);
    EXPECT_EQ(InternetDateToTime("Thu, 01-Jan-2037 00:00:00 GMT"), 2114380800);
    // Before 1970, leap days, past 2038 and up to the last four-digit year.
    EXPECT_EQ(InternetDateToTime("Thu, 01 Jan 1970 00:00:00 GMT"), 0);
    EXPECT_EQ(InternetDateToTime("Wed, 31-Dec-1969 23:59:59 GMT"), -1);
    EXPECT_EQ(InternetDateToTime("Mon, 01 Jan 1900 00:00:00 GMT"), -2208988800LL);
    EXPECT_EQ(InternetDateToTime("Wed, 01 Mar 1600 00:00:00 GMT"), -11670912000LL);
    EXPECT_EQ(InternetDateToTime("Thu Feb 29 12:00:00 2024"), 1709208000);
    EXPECT_EQ(InternetDateToTime("Tuesday, 29-Feb-00 00:00:00 GMT"), 951782400);
    EXPECT_EQ(InternetDateToTime("Tue, 19 Jan 2038 03:14:08 GMT"), 2147483648LL);
    EXPECT_EQ(InternetDateToTime("Fri, 31 Dec 9999 23:59:59 GMT"), 253402300799LL);
    // 2100 is no leap year, 2000 is one.
    EXPECT_EQ(*InternetDateToTime("01 Mar 2100 00:00:00") - *InternetDateToTime("28 Feb 2100 00:00:00"), 86400);
    EXPECT_EQ(*InternetDateToTime("01 Mar 2000 00:00:00") - *InternetDateToTime("28 Feb 2000 00:00:00"), 2 * 86400);

    EXPECT_FALSE(InternetDateToTime("Sun, 06 Nov 1994"));
    EXPECT_FALSE(InternetDateToTime("Sun, 32 Nov 1994 08:49:37 GMT"));
    EXPECT_FALSE(InternetDateToTime("06 Foo 1994 08:49:37"));
    EXPECT_FALSE(InternetDateToTime("06 Nov 1994 25:00:00"));
    EXPECT_FALSE(InternetDateToTime(""));
}
