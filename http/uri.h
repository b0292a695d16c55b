#pragma once
// A URL split into its parts and joined back. Splitting never fails: any text yields some record, a text
// without "://" being taken as relative. No percent-encoding or decoding happens anywhere.
#include <string>

class TIdURI {
public:
    TIdURI() = default;
    explicit TIdURI(const std::string& text) { SplitUrl(text); }

    std::string FullText;      // the whole URL as last set or joined
    std::string Scheme;        // before "://"
    std::string AuthUser;      // user information before "@"
    std::string AuthPassword;
    std::string HostName;
    std::string PortText;      // empty when the URL names no port
    std::string DirPath;       // directory part of the path, ending in "/" (or empty)
    std::string Leaf;          // last path segment
    std::string Query;         // from "?" (included) to the end or to "#"
    std::string Fragment;      // after "#"

    // Fills every field from the text; backslashes become slashes.
    void SplitUrl(const std::string& text);
    // The URL from the fields. EIdURIException "Protocol field is empty" / "Host field is empty".
    std::string JoinUrl(bool withUser, bool withFragment) const;
    // The absolute form for a proxy request line: FullText becomes the URL with user information and
    // fragment, the result is the URL without them.
    std::string ProxyRequestText();
};

// Resolves a relative path against a base directory with "/" as separator: runs of "/" collapse, ".."
// removes the segment before it. A path beginning with "/" is returned unchanged.
std::string MergePath(const std::string& base, const std::string& newPath);

// "80" for http, "443" for https (letter case ignored); EIdUnknownProtocol for any other scheme.
std::string DefaultPortText(const std::string& scheme);

// Four dot-separated decimal numbers of 0 to 255 (leading zeros allowed): a host given as an IPv4 address.
bool IsDottedIPv4(const std::string& host);
