// What the program sends to the update server, and the proxy it goes through.
#include <algorithm>
#include <cstdlib>
#include <thread>

#include "OVCommon/OVCommon.h"
#include "catalogue/catalogue.h"
#include "http/http.h"
#include "platform/stream.h"

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

namespace {

constexpr int DefaultReadTimeoutSeconds = 60;
constexpr int MaxReadTimeoutSeconds = 24 * 60 * 60;

// The bound, in milliseconds, of every wait of an unattended transfer; 0 for none.
int UnattendedReadTimeout() {
    const int seconds = TryTextToInt(ReadCommonIni("ReadTimeout")).value_or(DefaultReadTimeoutSeconds);
    return (seconds < 0 ? DefaultReadTimeoutSeconds : std::min(seconds, MaxReadTimeoutSeconds)) * 1000;
}


// Failures of the socket itself that a server turning connections away causes: refused, reset, aborted, closed.
bool IsTurnedAway(const std::exception& failure) {
    int code = 0;
    if (const auto* socket = dynamic_cast<const EIdSocketError*>(&failure)) code = socket->SocketCode();
    else if (const auto* connect = dynamic_cast<const EIdConnectException*>(&failure)) code = connect->SocketCode();
    else return dynamic_cast<const EIdConnClosedGracefully*>(&failure) != nullptr;
    return code == 10061 || code == 10054 || code == 10053;
}

// Retry-After as a number of seconds; nothing for a date or anything else.
std::optional<std::chrono::milliseconds> RetryAfter(TIdHTTP& http) {
    const std::optional<int32_t> seconds = TryTextToInt(http.Response().RawHeaders.Value("Retry-After"));
    if (!seconds || *seconds < 0) return std::nullopt;
    return std::min<std::chrono::milliseconds>(std::chrono::seconds(*seconds), MaxBusyPause);
}

}  // namespace

void ApplyUnattendedReadTimeout(TIdHTTP& http) { http.ReadTimeout = UnattendedReadTimeout(); }

std::string TransferFailureText(const std::exception& failure, TIdHTTP& http) {
    const std::string message = *failure.what() ? failure.what() : "the transfer failed";
    const char* silence = dynamic_cast<const EIdReadTimeout*>(&failure)      ? " sent nothing for "
                          : dynamic_cast<const EIdConnectTimeout*>(&failure) ? " did not answer the connect for "
                                                                             : nullptr;
    if (!silence || http.ReadTimeout <= 0) return message;
    return message + ": " + http.Host() + ":" + std::to_string(http.Port()) + silence +
           std::to_string(http.ReadTimeout / 1000) + " s (\"ReadTimeout\" in common.ini)";
}

std::optional<std::chrono::milliseconds> BusyServerPause(const std::exception& failure, TIdHTTP& http, int attempt) {
    const std::chrono::milliseconds growing = std::chrono::seconds(std::min(attempt, 30));
    if (const auto* refused = dynamic_cast<const EIdHTTPProtocolException*>(&failure)) {
        if (refused->StatusCode() != 503 && refused->StatusCode() != 429) return std::nullopt;
        return RetryAfter(http).value_or(growing);
    }
    // Only before any answer: a connection broken off mid-answer is a cut, which GetResuming has dealt with.
    if (IsTurnedAway(failure) && http.Response().StatusLine.empty()) return growing;
    return std::nullopt;
}

void GetPatiently(TIdHTTP& http, const std::string& url, TStream& stream, const TBusyServerAnswer& again) {
    const int64_t base = stream.Position();
    for (int attempt = 1;; ++attempt) {
        try {
            http.GetResuming(url, stream);
            return;
        } catch (const EIdException& failure) {
            const std::optional<std::chrono::milliseconds> pause = BusyServerPause(failure, http, attempt);
            if (!pause) throw;
            if (!again(*pause, attempt))
                throw EIdException(std::string(failure.what()) + " (the server turned the request away " +
                                   std::to_string(attempt) + " times on one connection; \"Connections\" in "
                                   "common.ini sets how many the run opens)");
        }
        stream.SetSize(base);
        stream.SetPosition(base);
    }
}

bool WaitForBusyServer(std::chrono::milliseconds pause, int attempt) {
    if (attempt > BusyRetries) return false;
    std::this_thread::sleep_for(pause);
    return true;
}
