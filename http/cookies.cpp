#include "http/cookies.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

#include "http/civil_time.h"
#include "http/header_list.h"
#include "http/uri.h"

namespace {

std::vector<std::string> Tokens(const std::string& text, const std::string& separators) {
    std::vector<std::string> tokens;
    std::size_t start = 0;
    while ((start = text.find_first_not_of(separators, start)) != std::string::npos) {
        const auto end = std::min(text.find_first_of(separators, start), text.size());
        tokens.push_back(text.substr(start, end - start));
        start = end;
    }
    return tokens;
}

std::optional<long long> ToNumber(const std::string& text) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

int MonthIndex(const std::string& token) {
    static constexpr std::array<const char*, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                            "jul", "aug", "sep", "oct", "nov", "dec"};
    if (token.size() < 3) return -1;
    const std::string prefix = httptext::LowerCase(token.substr(0, 3));
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (prefix == kMonths[i]) return static_cast<int>(i);
    }
    return -1;
}

bool ReadClock(const std::string& token, TCivilTime& date) {
    const auto parts = Tokens(token, ":");
    if (parts.size() != 3) return false;
    const auto hour = ToNumber(parts[0]), minute = ToNumber(parts[1]), second = ToNumber(parts[2]);
    if (!hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 60) return false;
    date.Hour = static_cast<int>(*hour);
    date.Minute = static_cast<int>(*minute);
    date.Second = static_cast<int>(*second);
    return true;
}

// The domains a host may set: its own name, or (for a domain with a leading ".") its parent domain. A parent
// needs a dot inside it, so "example.com" cannot set a cookie for all of ".com".
bool MaySetDomain(const std::string& host, const std::string& domain) {
    if (IsDottedIPv4(host) || domain.empty() || domain[0] != '.') return domain == host;
    const auto dot = host.find('.');
    return dot != std::string::npos && host.compare(dot, std::string::npos, domain) == 0 &&
           domain.find('.', 1) != std::string::npos;
}

bool EndsWithIgnoringCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && httptext::SameText(text.substr(text.size() - end.size()), end);
}

// A cookie goes back only to its own domain and the hosts below it, never to a host that merely contains the
// domain's text ("evilexample.com" does not receive the cookies of "example.com").
bool HostInDomain(const std::string& host, const std::string& domain) {
    if (!domain.empty() && domain[0] == '.') return EndsWithIgnoringCase(host, domain);
    return httptext::SameText(host, domain) || EndsWithIgnoringCase(host, "." + domain);
}

std::string Unquoted(const std::string& text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
    return text;
}

// now + seconds, without overflowing for a huge Max-Age; 0 or less means "already expired".
std::time_t ExpiryAfter(std::time_t now, long long seconds) {
    if (seconds <= 0) return now;
    const auto latest = std::numeric_limits<std::time_t>::max();
    return seconds > latest - now ? latest : now + static_cast<std::time_t>(seconds);
}

void ApplyAttribute(TIdCookie& cookie, const std::string& name, const std::string& value, std::time_t now,
                    std::optional<std::time_t>& maxAgeExpiry) {
    if (name == "domain") {
        cookie.Domain = value;
    } else if (name == "path") {
        cookie.Path = value;
    } else if (name == "secure") {
        cookie.Secure = true;
    } else if (name == "expires") {
        if (const auto date = InternetDateToTime(value)) {
            cookie.HasExpiry = true;
            cookie.Expires = *date;
        }
    } else if (name == "max-age") {
        if (const auto seconds = ToNumber(value)) maxAgeExpiry = ExpiryAfter(now, *seconds);
    }
}

TIdCookie ParseCookie(const std::string& text, const std::string& requestHost, std::time_t now) {
    const auto parts = Tokens(text, ";");
    TIdCookie cookie;
    std::optional<std::time_t> maxAgeExpiry;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string part = httptext::Trim(parts[i]);
        const auto equals = part.find('=');
        const std::string name = httptext::Trim(part.substr(0, equals));
        const std::string value = equals == std::string::npos ? "" : httptext::Trim(part.substr(equals + 1));
        if (i == 0) {
            // The value goes back byte for byte, quotes included: it is the server's token, not ours to read.
            cookie.Name = name;
            cookie.Value = value;
        } else {
            ApplyAttribute(cookie, httptext::LowerCase(name), Unquoted(value), now, maxAgeExpiry);
        }
    }
    // Max-Age is the newer attribute and wins over Expires.
    if (maxAgeExpiry) {
        cookie.HasExpiry = true;
        cookie.Expires = *maxAgeExpiry;
    }
    if (cookie.Domain.empty()) cookie.Domain = requestHost;
    return cookie;
}

}  // namespace

std::optional<std::time_t> InternetDateToTime(const std::string& text) {
    TCivilTime date;
    bool hasClock = false;
    int month = -1;
    std::vector<long long> numbers;
    for (const std::string& token : Tokens(text, " ,-\t")) {
        if (token.find(':') != std::string::npos) {
            if (!ReadClock(token, date)) return std::nullopt;
            hasClock = true;
        } else if (const auto number = ToNumber(token)) {
            numbers.push_back(*number);
        } else if (month < 0) {
            month = MonthIndex(token);
        }
    }
    if (!hasClock || month < 0 || numbers.size() != 2 || numbers[0] < 1 || numbers[0] > 31 || numbers[1] < 0 ||
        numbers[1] > 9999) {
        return std::nullopt;
    }
    long long year = numbers[1];
    if (year < 100) year += year < 70 ? 2000 : 1900;
    date.Day = static_cast<int>(numbers[0]);
    date.Month = month + 1;
    date.Year = year;
    return static_cast<std::time_t>(SecondsFromCivil(date));
}

TIdCookieManager::TIdCookieManager(TClock clock) : clock_(std::move(clock)) {}

std::time_t TIdCookieManager::DefaultClock() { return std::time(nullptr); }

void TIdCookieManager::AddCookie(const std::string& setCookieValue, const std::string& requestHost) {
    TIdCookie cookie = ParseCookie(setCookieValue, requestHost, clock_());
    if (!cookie.Name.empty() && MaySetDomain(requestHost, cookie.Domain)) Store(std::move(cookie));
}

void TIdCookieManager::AddCookie2(const std::string& setCookie2Value, const std::string& requestHost) {
    AddCookie(setCookie2Value, requestHost);
}

void TIdCookieManager::Store(TIdCookie cookie) {
    auto& cookies = domains_[cookie.Domain];
    const auto same = std::find_if(cookies.begin(), cookies.end(),
                                   [&](const TIdCookie& stored) { return stored.Name == cookie.Name; });
    if (same == cookies.end()) {
        cookies.push_back(std::move(cookie));
    } else {
        *same = std::move(cookie);
    }
}

void TIdCookieManager::DiscardExpired() {
    const std::time_t now = clock_();
    for (auto& [domain, cookies] : domains_) {
        std::erase_if(cookies, [now](const TIdCookie& cookie) { return cookie.HasExpiry && cookie.Expires <= now; });
    }
}

std::string TIdCookieManager::CookieLine(const std::string& requestHost, const std::string& dirPath, bool tlsRoute) {
    DiscardExpired();
    std::vector<const TIdCookie*> chosen;
    for (const auto& [domain, cookies] : domains_) {
        if (!HostInDomain(requestHost, domain)) continue;
        for (const TIdCookie& cookie : cookies) {
            if (dirPath.starts_with(cookie.Path) && !cookie.Value.empty() && (tlsRoute || !cookie.Secure)) {
                chosen.push_back(&cookie);
            }
        }
    }
    std::stable_sort(chosen.begin(), chosen.end(), [](const TIdCookie* a, const TIdCookie* b) {
        return httptext::LowerCase(a->Path) > httptext::LowerCase(b->Path);
    });
    std::string line;
    for (const TIdCookie* cookie : chosen) line += (line.empty() ? "" : "; ") + cookie->Name + "=" + cookie->Value;
    return line;
}

std::vector<TIdCookie> TIdCookieManager::CookiesOf(const std::string& domain) const {
    const auto found = domains_.find(domain);
    return found == domains_.end() ? std::vector<TIdCookie>() : found->second;
}
