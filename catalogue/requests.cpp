// What the program sends to the update server, and the proxy it goes through.
#include <cstdlib>

#include "OVCommon/OVCommon.h"
#include "catalogue/catalogue.h"
#include "http/http.h"

namespace {

constexpr const char* AcceptedTypes =
    "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/msword, application/vnd.ms-powerpoint, */*";
constexpr const char* BrowserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)";

std::string HostSetting(const char* environmentName, const char* builtIn) {
    const char* value = std::getenv(environmentName);
    return value && *value ? value : builtIn;
}

std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The settings both kinds of request share.
void PrepareRequest(TIdHTTP& http, const std::string& componentHost) {
    http.SetHost(componentHost);
    http.Request().Accept = AcceptedTypes;
    http.Request().ContentRangeStart = 0;
    http.Request().ContentRangeEnd = 0;
    http.Request().UserAgent = BrowserAgent;
}

}  // namespace

std::string UpdateServerHost() { return HostSetting("ORVANE_UPDATE_SERVER", ORVANE_UPDATE_SERVER); }

std::string DemoServerHost() { return HostSetting("ORVANE_DEMO_SERVER", ORVANE_DEMO_SERVER); }

std::string ProductRequestUrl(const std::string& host, const std::string& product, const std::string& version,
                              const std::string& code) {
    return "http://" + host + "/orvane/update/product/" + UpperCase(product) + "/version/" + version + "/code/" +
           code + "/";
}

std::string QueryRequestUrl(const std::string& host, const std::string& queryText) {
    return "http://" + host + "/brellium/orvane.php?request=update" + queryText;
}

std::string CatalogueRequestUrl(const std::string& productHost, const std::string& queryText) {
    if (!Settings.Product.empty() && !Settings.Code.empty() && !Settings.Version.empty())
        return ProductRequestUrl(productHost, Settings.Product, Settings.Version, Settings.Code);
    return QueryRequestUrl(UpdateServerHost(), queryText);
}

namespace {

// A parameter of the query text ("&code=X&version=1.0&timestamp=..."); empty when the text has none.
std::string QueryParameter(const std::string& queryText, const std::string& name) {
    const std::string start = "&" + name + "=";
    const std::size_t at = queryText.find(start);
    if (at == std::string::npos) return "";
    const std::size_t from = at + start.size();
    return queryText.substr(from, queryText.find('&', from) - from);
}

}  // namespace

TProductLine RequestedProductLine(const std::string& queryText) {
    if (!Settings.Product.empty() && !Settings.Code.empty() && !Settings.Version.empty())
        return {Settings.Product, Settings.Version, Settings.Code};
    return {Settings.Product, QueryParameter(queryText, "version"), QueryParameter(queryText, "code")};
}

void PrepareCatalogueRequest(TIdHTTP& http) {
    // The component's own host is the server's name alone; a port in the setting belongs to the URL.
    const std::string host = UpdateServerHost();
    PrepareRequest(http, host.substr(0, host.find(':')));
    http.Request().ContentLength = 0;
}

void PrepareDownloadRequest(TIdHTTP& http) { PrepareRequest(http, ""); }

void ApplyProxySettings(TIdHTTP& http) {
    if (Settings.ProxyServer.empty()) return;
    http.ProxyParams().SetBasicAuthentication(Settings.ProxyBasicAuth);
    http.ProxyParams().SetProxyPassword(Settings.ProxyPassword);
    http.ProxyParams().SetProxyPort(Settings.ProxyPort);
    http.ProxyParams().SetProxyServer(Settings.ProxyServer);
    http.ProxyParams().SetProxyUsername(Settings.ProxyUser);
}
