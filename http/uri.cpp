#include "http/uri.h"

#include <algorithm>

#include "http/exceptions.h"
#include "http/header_list.h"

namespace {

// Cuts text at the first occurrence of separator: the part before stays in text, the part after is returned;
// nothing happens and "" is returned when the separator is absent.
std::string CutAt(std::string& text, char separator) {
    const auto at = text.find(separator);
    if (at == std::string::npos) return {};
    std::string after = text.substr(at + 1);
    text.erase(at);
    return after;
}

// Where the query of a path starts: the first "?", else the first "=", else the end.
std::size_t QueryStart(const std::string& path) {
    const auto question = path.find('?');
    if (question != std::string::npos) return question;
    const auto equals = path.find('=');
    return equals == std::string::npos ? path.size() : equals;
}

}  // namespace

void TIdURI::SplitUrl(const std::string& text) {
    *this = TIdURI();
    FullText = text;
    std::string rest = text;
    std::replace(rest.begin(), rest.end(), '\\', '/');

    const auto schemeEnd = rest.find("://");
    const bool absolute = schemeEnd != std::string::npos;
    if (absolute) {
        Scheme = rest.substr(0, schemeEnd);
        rest.erase(0, schemeEnd + 3);
        std::string authority = rest;
        rest = CutAt(authority, '/');
        const auto at = authority.find('@');
        if (at != std::string::npos) {
            AuthUser = authority.substr(0, at);
            authority.erase(0, at + 1);
            AuthPassword = CutAt(AuthUser, ':');
            if (AuthUser.empty()) AuthPassword.clear();
        }
        PortText = CutAt(authority, ':');
        HostName = authority;
    }

    const std::size_t queryStart = QueryStart(rest);
    const auto lastSlash = queryStart == 0 ? std::string::npos : rest.rfind('/', queryStart - 1);
    const std::size_t leafStart = lastSlash == std::string::npos ? 0 : lastSlash + 1;
    DirPath = (absolute ? "/" : "") + rest.substr(0, leafStart);
    Leaf = rest.substr(leafStart, queryStart - leafStart);
    Query = rest.substr(queryStart);
    if (absolute) Fragment = CutAt(Leaf, '#');
    if (Fragment.empty()) Fragment = CutAt(Query, '#');
}

std::string TIdURI::JoinUrl(bool withUser, bool withFragment) const {
    if (Scheme.empty()) throw EIdURIException("Protocol field is empty");
    if (HostName.empty()) throw EIdURIException("Host field is empty");
    std::string url = Scheme + "://";
    if (withUser && !AuthUser.empty()) {
        url += AuthUser;
        if (!AuthPassword.empty()) url += ":" + AuthPassword;
        url += "@";
    }
    url += HostName;
    if (!PortText.empty()) url += ":" + PortText;
    url += DirPath + Leaf + Query;
    if (withFragment && !Fragment.empty()) url += "#" + Fragment;
    return url;
}

std::string TIdURI::ProxyRequestText() {
    FullText = JoinUrl(true, true);
    return JoinUrl(false, false);
}

namespace {

// ".." counts only as a whole segment, so a name such as "..data" is kept.
bool ParentSegmentAt(const std::string& path, std::size_t at) {
    return path.compare(at, 2, "..") == 0 && (at + 2 == path.size() || path[at + 2] == '/');
}

// Drops the last segment of a directory ending in "/", keeping the "/" before it.
void DropLastSegment(std::string& result) {
    result.pop_back();
    const auto previous = result.rfind('/');
    result.erase(previous == std::string::npos ? 0 : previous + 1);
}

// One number of a dotted address at pos, moving pos past it: one to three digits, at most 255.
bool ParseOctet(const std::string& text, std::size_t& pos) {
    std::size_t digits = 0;
    int value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
        value = value * 10 + (text[pos++] - '0');
        ++digits;
    }
    return digits > 0 && digits <= 3 && value <= 255;
}

}  // namespace

bool IsDottedIPv4(const std::string& host) {
    std::size_t pos = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0 && (pos >= host.size() || host[pos++] != '.')) return false;
        if (!ParseOctet(host, pos)) return false;
    }
    return pos == host.size();
}

std::string MergePath(const std::string& base, const std::string& newPath) {
    if (!newPath.empty() && newPath[0] == '/') return newPath;
    const bool newNamesDirectory = newPath.empty() || newPath.back() == '/';
    const std::string joined = base + (!base.empty() && base.back() != '/' ? "/" : "") + newPath;

    std::string result;
    for (std::size_t i = 0; i < joined.size(); ++i) {
        const bool atDirectory = !result.empty() && result.back() == '/';
        if (joined[i] == '/') {
            if (!atDirectory) result += '/';
        } else if (atDirectory && ParentSegmentAt(joined, i)) {
            DropLastSegment(result);
            ++i;
        } else {
            result += joined[i];
        }
    }
    if (result != "/" && !result.empty() && result.back() == '/' && !newNamesDirectory) result.pop_back();
    return result;
}

std::string DefaultPortText(const std::string& scheme) {
    if (httptext::SameText(scheme, "http")) return "80";
    if (httptext::SameText(scheme, "https")) return "443";
    throw EIdUnknownProtocol();
}
