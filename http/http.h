#pragma once
// The HTTP client: blocking HTTP/1.1 GET over the TCP layer, directly or through a proxy, with Basic proxy
// authentication, cookies and progress (work) events. Failures are EIdException and its subclasses; a status
// the exchange does not accept is EIdHTTPProtocolException with the status code and the error body.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "http/authentication.h"
#include "http/cookies.h"
#include "http/exceptions.h"
#include "http/header_list.h"
#include "http/tcp_connection.h"
#include "http/uri.h"
#include "platform/stream.h"

enum TIdHTTPMethod { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect };
enum TIdHTTPProtocolVersion { pv1_0, pv1_1 };
enum TIdHTTPConnectionType { ctNormal, ctSSL, ctProxy, ctSSLProxy };

// HTTPOptions is a set of these flags.
enum TIdHTTPOption : unsigned { hoInProcessAuth = 1, hoKeepOrigProtocol = 2, hoForceEncodeParams = 4 };
using TIdHTTPOptions = unsigned;

// Days since 1899-12-30, fractions for the time of day; 0 is unset.
using TDateTime = double;

class TIdEntityHeaderInfo {
public:
    std::string CacheControl;
    std::string Connection;
    std::string ContentEncoding;
    std::string ContentLanguage;
    std::string ContentType;
    std::string ContentVersion;
    std::string Pragma;
    int64_t ContentLength = -1;
    int64_t ContentRangeStart = 0;
    int64_t ContentRangeEnd = 0;
    TIdHeaderList CustomHeaders;
    TIdHeaderList RawHeaders;
};

class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
public:
    std::string Accept = "text/html, */*";
    std::string AcceptCharSet;
    std::string AcceptEncoding;
    std::string AcceptLanguage;
    std::string From;
    std::string Host;
    std::string Referer;
    std::string UserAgent;
    std::string Username;
    std::string Password;
    std::string ProxyConnection;
    bool BasicAuthentication = false;
    TDateTime Date = 0;
    TDateTime Expires = 0;
    TDateTime LastModified = 0;
    // Sent with a Range only: the validator of the body whose rest is asked for.
    std::string IfRange;
    // The server-side scheme object (made by the basic flag or a 401 challenge).
    std::unique_ptr<TIdAuthentication> Authentication;

    TIdRequestHeaderInfo() { ContentType = "text/html"; }
};

class TIdHTTPRequest : public TIdRequestHeaderInfo {
public:
    std::string Target;  // the URL as given, then the text that goes on the request line
    TIdHTTPMethod Verb = hmGet;
    TIdHTTPConnectionType ConnectionType = ctNormal;
};

class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
public:
    std::string Location;
    std::string Server;
    std::string ProxyConnection;
    std::string TransferEncoding;
    std::string Date;
    std::string Expires;
    std::string LastModified;
    std::vector<std::string> WWWAuthenticate;
    std::vector<std::string> ProxyAuthenticate;
    // The whole length after the "/" of "Content-Range", -1 for "*" or none.
    int64_t ContentRangeTotal = -1;

    bool HasContentLength() const { return ContentLength >= 0; }
    // Takes the fields from RawHeaders. EConvertError for a "Content-Range" whose numbers are not integers.
    void ProcessHeaders();
};

class TIdCustomHTTP;

class TIdHTTPResponse : public TIdResponseHeaderInfo {
public:
    explicit TIdHTTPResponse(TIdCustomHTTP& owner) : owner_(owner) {}

    std::string StatusLine;
    TStream* BodyStream = nullptr;

    // The second blank-separated word of the status line as a number (a negative one too), -1 when it is none.
    int StatusCode() const;
    std::string StatusText() const;
    // Whether the connection stays open after this response (notices a close by the server first).
    bool KeepConnection();

private:
    TIdCustomHTTP& owner_;
};

using TIdRedirectEvent = std::function<void(TIdComponent* Sender, std::string& dest, int& NumRedirect,
                                            bool& Handled, TIdHTTPMethod& VMethod)>;
using TIdAuthorizationEvent =
    std::function<void(TIdComponent* Sender, TIdAuthentication& Authentication, bool& Handled)>;
using TIdSelectAuthorizationEvent = std::function<void(TIdComponent* Sender,
                                                       const TIdAuthenticationClass*& AuthenticationClass,
                                                       const std::vector<std::string>& AuthInfo)>;

class TIdCustomHTTP : public TIdTCPClient {
public:
    TIdCustomHTTP();
    ~TIdCustomHTTP() override;

    int AuthRetries = 3;
    bool AllowCookies = true;
    TIdHTTPOptions HTTPOptions = hoForceEncodeParams;
    int RedirectMaximum = 15;
    bool HandleRedirects = false;
    TIdHTTPProtocolVersion ProtocolVersion = pv1_1;
    // A store assigned by the caller stays the caller's; without one, the first response creates an own one.
    TIdCookieManager* CookieManager = nullptr;

    TIdRedirectEvent OnRedirect;
    TIdAuthorizationEvent OnAuthorization;
    TIdAuthorizationEvent OnProxyAuthorization;
    TIdSelectAuthorizationEvent OnSelectAuthorization;
    TIdSelectAuthorizationEvent OnSelectProxyAuthorization;

    TIdHTTPRequest& Request() { return request_; }
    TIdHTTPResponse& Response() { return response_; }
    TIdProxyConnectionInfo& ProxyParams() { return proxyParams_; }

    // Setting Host or Port also sets the host or port a URL without a host is sent to.
    void SetHost(const std::string& value) override;
    void SetPort(int value) override;

    // Appends the body of the URL's answer to the stream from its position.
    void Get(const std::string& url, TStream& stream);
    // The body as bytes.
    std::string Get(const std::string& url);
    // Get for a file download on a line that may break: when the connection breaks or falls silent (ReadTimeout)
    // after part of the body arrived, the rest is asked for with a Range request on a new connection, at most
    // ResumeAttempts times in all; a silence before any of the body asks again from the start, as one of those
    // attempts. A Range request carries If-Range with the first answer's validator (its strong ETag, else its
    // Last-Modified), and the part is kept only when the answer is 206 with the Content-Range that continues it
    // and the same whole length; any other answer (a 200 for a changed file, a 416) starts the body over, once.
    // A close asked for by another thread is never retried.
    void GetResuming(const std::string& url, TStream& stream);
    int ResumeAttempts = 3;

    int StatusCode() const { return response_.StatusCode(); }
    std::string ResponseText() const { return response_.StatusText(); }
    const std::string& StatusLine() const { return response_.StatusLine; }

    // For tests and fuzzing: use an already connected descriptor as the connection to Host:Port.
    void UseConnectedSocket(int fd) { AdoptConnectedSocket(fd); }

protected:
    void DoOnDisconnected() override;

private:
    enum class Step { Done, Retry, AuthRetry, Undecided };
    // A Range request's expectations: where the body started in its stream, and the bytes of it already held.
    struct ResumePoint {
        int64_t base = 0;
        int64_t held = 0;
        int64_t total = -1;  // the whole length the first answer stated, -1 when it stated none
    };
    // What identifies the body a 200 answer started: its validator for If-Range and its length.
    struct BodyIdentity {
        std::string validator;
        int64_t total = -1;
    };

    void DoRequest(TIdHTTPMethod method, const std::string& url, TStream& stream);
    Step Exchange();
    void FinishRequest();
    void PrepareRequest();
    // Returns whether a connection kept from an earlier exchange is used again.
    bool ConnectToHost();
    void SendRequestAndReadStatusLine(bool reusedConnection);
    bool IsStaleConnectionFailure(const EIdException& failure);
    void ChooseRoute();
    void SendRequest();
    TIdHeaderList RequestHeaders();
    void ReadResponse();
    void ReadHeaders();
    void UpdateCookies();
    Step DecideStep();
    Step HandleRedirect();
    Step HandleChallenge(bool proxy);
    [[noreturn]] void RaiseProtocolError();
    void ReadBody();
    // Checks the 2xx answer to a Range request before its body is read; raises when it cannot be used.
    void TakeResumedAnswer(int code);
    static BodyIdentity IdentityOf(const TIdHTTPResponse& response);
    // Empties the stream back to the body's start, once per GetResuming; false when that was done already.
    bool StartOver(TStream& stream, int64_t base);
    void ReadChunkedBody(TStream& stream);
    void DiscardBody(int timeout);
    TIdAuthorizationHandlers Handlers(bool proxy);

    TIdHTTPRequest request_;
    TIdHTTPResponse response_;
    TIdProxyConnectionInfo proxyParams_;
    TIdURI url_;
    std::unique_ptr<TIdCookieManager> ownCookieManager_;
    int redirectCount_ = 0;
    int authRetryCount_ = 0;
    int proxyAuthRetryCount_ = 0;
    std::optional<ResumePoint> resume_;  // set while a Range request of GetResuming is under way
    BodyIdentity bodyIdentity_;          // of the last 200 answer
    bool startedOver_ = false;
};

class TIdHTTP : public TIdCustomHTTP {};
