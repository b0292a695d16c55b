#pragma once
// The cookie store of a component: cookies from "Set-cookie" (RFC 2109) and "Set-cookie2" (RFC 2965) answers,
// kept per domain for the component's life, and the "Cookie" line for a request.
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct TIdCookie {
    std::string Name;
    std::string Value;  // exactly as the server sent it, quotes included
    std::string Domain;
    std::string Path = "/";
    bool Secure = false;
    bool HasExpiry = false;   // false: kept until the store goes away
    std::time_t Expires = 0;  // seconds since the epoch, when HasExpiry
};

// An Internet date ("Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT" or
// "Sun Nov  6 08:49:37 1994", always UTC) as seconds since the epoch; nothing when the text is not one.
std::optional<std::time_t> InternetDateToTime(const std::string& text);

class TIdCookieManager {
public:
    using TClock = std::function<std::time_t()>;
    // The clock decides expiry; tests pass their own.
    explicit TIdCookieManager(TClock clock = DefaultClock);

    // Adds the cookie of one "Set-cookie" value received from requestHost. A cookie whose domain the host may
    // not set is dropped; one with the name of a stored cookie of its domain replaces it.
    void AddCookie(const std::string& setCookieValue, const std::string& requestHost);
    // The same for one "Set-cookie2" value; its attributes are read by the same rules (Version, Port, Comment
    // and Discard do not change what is stored or sent).
    void AddCookie2(const std::string& setCookie2Value, const std::string& requestHost);

    // The "Cookie" value for a request (empty when nothing applies): the non-empty cookies of every domain the
    // host belongs to whose path is a prefix of dirPath, secure ones only on a TLS route, the longest paths
    // first. Expired cookies are discarded first.
    std::string CookieLine(const std::string& requestHost, const std::string& dirPath, bool tlsRoute);

    // The stored cookies of a domain (exact text), for inspection.
    std::vector<TIdCookie> CookiesOf(const std::string& domain) const;

    static std::time_t DefaultClock();

private:
    void Store(TIdCookie cookie);
    void DiscardExpired();

    TClock clock_;
    std::map<std::string, std::vector<TIdCookie>> domains_;
};
