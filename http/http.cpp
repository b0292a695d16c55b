#include "http/http.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

#include "http/civil_time.h"

namespace {

using httptext::SameText;
using httptext::Trim;

constexpr int ProtocolErrorReadTimeout = 2000;
constexpr int DiscardReadTimeout = 4000;
// Bounds of what a peer may make this side hold: a header block, and the part of an error body that is kept.
constexpr int MaxHeaderLines = 10000;
constexpr size_t MaxHeaderBytes = 1 << 20;
constexpr size_t MaxErrorBodyBytes = 1 << 20;

// Keeps the first bytes written up to a limit and takes the rest without keeping it: a body read only to be
// skipped (limit 0), or an error page, which must not grow without end while its framing is read to the end.
class TCappedStream : public TStream {
public:
    explicit TCappedStream(size_t limit) : limit_(limit) {}
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* buffer, int64_t count) override {
        kept_.append(static_cast<const char*>(buffer), std::min(static_cast<size_t>(count), limit_ - kept_.size()));
        return count;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
    void SetSize(int64_t) override {}
    const std::string& Kept() const { return kept_; }

private:
    size_t limit_;
    std::string kept_;
};

// Sets a value and puts the old one back when the scope ends, also when it ends by an exception.
template <typename T>
class TemporaryValue {
public:
    TemporaryValue(T& slot, T value) : slot_(slot), saved_(slot) { slot_ = value; }
    ~TemporaryValue() { slot_ = saved_; }
    TemporaryValue(const TemporaryValue&) = delete;
    TemporaryValue& operator=(const TemporaryValue&) = delete;

private:
    T& slot_;
    T saved_;
};

// The answer to a Range request does not continue the part held; only a new start can help.
class EIdResumeRefused : public EIdException {
public:
    EIdResumeRefused() : EIdException("The server did not send the rest of the broken-off body.") {}
};

const char* MethodWord(TIdHTTPMethod method) {
    switch (method) {
        case hmHead: return "HEAD ";
        case hmGet: return "GET ";
        case hmPost: return "POST ";
        case hmOptions: return "OPTIONS ";
        case hmTrace: return "TRACE ";
        case hmPut: return "PUT ";
        case hmConnect: return "CONNECT ";
        case hmDelete: return "";
    }
    return "";
}

// Decimal digits with an optional sign; false for anything else or a value beyond 64 bits.
bool ParseInteger(const std::string& text, int64_t& value) {
    if (text.empty()) return false;
    size_t pos = text[0] == '-' || text[0] == '+' ? 1 : 0;
    if (pos == text.size()) return false;
    uint64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        if (text[pos] < '0' || text[pos] > '9') return false;
        if (magnitude > (static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) - 9) / 10) return false;
        magnitude = magnitude * 10 + static_cast<uint64_t>(text[pos] - '0');
    }
    value = text[0] == '-' ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

// EConvertError for text that is no integer or one outside [low, high].
int64_t ToInteger(const std::string& text, int64_t low = std::numeric_limits<int64_t>::min(),
                  int64_t high = std::numeric_limits<int64_t>::max()) {
    int64_t value = 0;
    if (!ParseInteger(text, value) || value < low || value > high)
        throw EConvertError("'" + text + "' is not a valid integer value");
    return value;
}

// A port as the integer conversion reads it: EConvertError for text beyond 32 bits too.
int PortNumber(const std::string& text) {
    return static_cast<int>(
        ToInteger(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// The size of a chunk: its line up to the first blank, without an extension after ";", as a hexadecimal
// number; anything else counts as 0. A size beyond 64 bits is held at the largest one, which no peer can deliver.
int64_t ChunkSize(const std::string& line) {
    const std::string digits = line.substr(0, line.find_first_of(" ;"));
    const auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isHex)) return 0;
    int64_t size = 0;
    for (char c : digits) {
        const int digit = c <= '9' ? c - '0' : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        if (size > (std::numeric_limits<int64_t>::max() - digit) / 16) return std::numeric_limits<int64_t>::max();
        size = size * 16 + digit;
    }
    return size;
}

std::string InternetDate(TDateTime value) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const TCivilTime time = CivilFromSeconds(std::llround((value - 25569.0) * 86400.0));  // 25569: 1970-01-01
    char text[48];
    std::snprintf(text, sizeof text, "%s, %02d %s %04lld %02d:%02d:%02d GMT", days[time.WeekDay], time.Day,
                  months[time.Month - 1], static_cast<long long>(time.Year), time.Hour, time.Minute, time.Second);
    return text;
}

std::string RangeValue(int64_t start, int64_t end) {
    if (end != 0) return "bytes=" + std::to_string(start) + "-" + std::to_string(end);
    if (start != 0) return "bytes=" + std::to_string(start) + "-";
    return "";
}

}  // namespace

// --- response ---

void TIdResponseHeaderInfo::ProcessHeaders() {
    const TIdHeaderList& h = RawHeaders;
    Location = h.Value("Location");
    Server = h.Value("Server");
    ProxyConnection = h.Value("Proxy-Connection");
    Connection = h.Value("Connection");
    ContentVersion = h.Value("Content-Version");
    ContentEncoding = h.Value("Content-Encoding");
    ContentLanguage = h.Value("Content-Language");
    ContentType = h.Value("Content-Type");
    TransferEncoding = h.Value("Transfer-Encoding");
    Date = h.Value("Date");
    LastModified = h.Value("Last-Modified");
    Expires = h.Value("Expires");
    Pragma = h.Value("Pragma");
    if (!ParseInteger(Trim(h.Value("Content-Length")), ContentLength)) ContentLength = -1;
    ContentRangeStart = ContentRangeEnd = 0;
    ContentRangeTotal = -1;
    const std::string range = h.Value("Content-Range");
    if (!range.empty()) {
        const size_t blank = range.find(' ');
        const size_t startAt = blank == std::string::npos ? 0 : blank + 1;
        const size_t slash = range.find('/', startAt);
        // "bytes */N" (the answer to a range beyond the end) names no range, only the whole length.
        const std::string span = Trim(range.substr(startAt, slash - startAt));
        if (span != "*") {
            const size_t dash = span.find('-');
            ContentRangeStart = ToInteger(Trim(span.substr(0, dash)));
            ContentRangeEnd = dash == std::string::npos ? 0 : ToInteger(Trim(span.substr(dash + 1)));
        }
        if (slash == std::string::npos || !ParseInteger(Trim(range.substr(slash + 1)), ContentRangeTotal))
            ContentRangeTotal = -1;
    }
    WWWAuthenticate = h.Extract("WWW-Authenticate");
    ProxyAuthenticate = h.Extract("Proxy-Authenticate");
}

int TIdHTTPResponse::StatusCode() const {
    const size_t first = StatusLine.find(' ');
    if (first == std::string::npos) return -1;
    const size_t second = StatusLine.find(' ', first + 1);
    int64_t code = 0;
    if (!ParseInteger(StatusLine.substr(first + 1, second - first - 1), code) ||
        code < std::numeric_limits<int32_t>::min() || code > std::numeric_limits<int32_t>::max())
        return -1;
    return static_cast<int>(code);
}

std::string TIdHTTPResponse::StatusText() const {
    const size_t first = StatusLine.find(' ');
    const size_t second = first == std::string::npos ? first : StatusLine.find(' ', first + 1);
    return second == std::string::npos ? "" : StatusLine.substr(second + 1);
}

bool TIdHTTPResponse::KeepConnection() {
    if (!owner_.IsOpen()) return false;
    const std::string connection = Trim(Connection);
    const std::string proxyConnection = Trim(ProxyConnection);
    if (owner_.ProtocolVersion == pv1_0)
        return SameText(connection, "KEEP-ALIVE") || SameText(proxyConnection, "KEEP-ALIVE");
    return !SameText(connection, "CLOSE") && !SameText(proxyConnection, "CLOSE");
}

// --- component ---

TIdCustomHTTP::TIdCustomHTTP() : response_(*this) { port_ = 80; }

TIdCustomHTTP::~TIdCustomHTTP() = default;

void TIdCustomHTTP::SetHost(const std::string& value) {
    TIdTCPClient::SetHost(value);
    url_.HostName = value;
}

void TIdCustomHTTP::SetPort(int value) {
    TIdTCPClient::SetPort(value);
    url_.PortText = std::to_string(value);
}

void TIdCustomHTTP::DoOnDisconnected() {
    TIdTCPClient::DoOnDisconnected();
    // The server-side Basic object never completes its steps, so it stays; the proxy one starts over.
    proxyParams_.ResetAuthentication();
}

std::string TIdCustomHTTP::Get(const std::string& url) {
    TMemoryStream stream;
    Get(url, stream);
    return stream.Data();
}

void TIdCustomHTTP::Get(const std::string& url, TStream& stream) { DoRequest(hmGet, url, stream); }

void TIdCustomHTTP::GetResuming(const std::string& url, TStream& stream) {
    // One transfer span for all attempts, so a close asked for by another thread holds until the last one.
    TransferScope scope(*this);
    TemporaryValue<int64_t> rangeStart(request_.ContentRangeStart, 0);
    TemporaryValue<int64_t> rangeEnd(request_.ContentRangeEnd, 0);
    TemporaryValue<std::string> ifRange(request_.IfRange, "");
    TemporaryValue<std::optional<ResumePoint>> resume(resume_, std::nullopt);
    const int64_t base = stream.Position();
    startedOver_ = false;
    bodyIdentity_ = {};
    for (int resumes = 0;;) {
        const int64_t held = stream.Position() - base;
        request_.ContentRangeStart = held;  // 0 sends no Range header
        request_.IfRange = bodyIdentity_.validator;
        resume_ = held > 0 ? std::optional<ResumePoint>(ResumePoint{base, held, bodyIdentity_.total}) : std::nullopt;
        try {
            Get(url, stream);
            return;
        } catch (const EIdResumeRefused&) {
            if (!StartOver(stream, base)) throw;
        } catch (const EIdHTTPProtocolException&) {
            if (held == 0 || !StartOver(stream, base)) throw;  // a refused Range request starts over
        } catch (const EIdException& failure) {
            const bool silent = dynamic_cast<const EIdReadTimeout*>(&failure) != nullptr;
            if (CloseRequested() || (stream.Position() == base && !silent) || resumes++ == ResumeAttempts) throw;
        }
    }
}

// What a Range request may name in If-Range: a strong ETag (a weak one is not allowed there), else the date.
TIdCustomHTTP::BodyIdentity TIdCustomHTTP::IdentityOf(const TIdHTTPResponse& response) {
    const std::string etag = Trim(response.RawHeaders.Value("ETag"));
    const bool strong = !etag.empty() && etag.rfind("W/", 0) != 0;
    return {strong ? etag : Trim(response.LastModified), response.ContentLength};
}

bool TIdCustomHTTP::StartOver(TStream& stream, int64_t base) {
    if (startedOver_) return false;
    startedOver_ = true;
    stream.SetSize(base);
    stream.SetPosition(base);
    return true;
}

void TIdCustomHTTP::TakeResumedAnswer(int code) {
    const ResumePoint point = *resume_;
    resume_.reset();
    if (code == 206 && response_.ContentRangeStart == point.held && response_.ContentRangeEnd >= point.held &&
        (point.total < 0 || response_.ContentRangeTotal == point.total))
        return;
    // A whole body in place of the rest is the new start; its bytes replace the part held.
    if (code != 200 || !StartOver(*response_.BodyStream, point.base)) throw EIdResumeRefused();
}

void TIdCustomHTTP::DoRequest(TIdHTTPMethod method, const std::string& url, TStream& stream) {
    TransferScope scope(*this);
    const int64_t start = stream.Position();
    authRetryCount_ = proxyAuthRetryCount_ = 0;
    request_.Target = url;
    request_.Verb = method;
    response_.BodyStream = &stream;
    response_.StatusLine.clear();  // so that a failure shows whether any answer came
    try {
        for (;;) {
            const Step step = Exchange();
            if (step == Step::Done) break;
            if (step == Step::Undecided) throw EIdException("Undefined situation");
            if (step == Step::Retry) {
                stream.SetSize(start);
                stream.SetPosition(start);
                authRetryCount_ = proxyAuthRetryCount_ = 0;
            } else {
                --redirectCount_;
                request_.Target = url;
            }
        }
    } catch (const EIdHTTPProtocolException&) {
        FinishRequest();  // the refused answer was read completely: the connection is still in step
        throw;
    } catch (...) {
        // Whatever is left of a broken answer must not become the start of the next one.
        redirectCount_ = 0;
        if (IOHandler()) CloseNow();
        throw;
    }
    FinishRequest();
}

void TIdCustomHTTP::FinishRequest() {
    redirectCount_ = 0;
    if (!response_.KeepConnection()) CloseNow();
}

TIdCustomHTTP::Step TIdCustomHTTP::Exchange() {
    ++redirectCount_;
    PrepareRequest();
    SendRequestAndReadStatusLine(ConnectToHost());
    ReadResponse();
    return DecideStep();
}

void TIdCustomHTTP::SendRequestAndReadStatusLine(bool reusedConnection) {
    try {
        SendRequest();
        response_.StatusLine = ReadLine();
    } catch (const EIdException& failure) {
        if (!reusedConnection || !IsStaleConnectionFailure(failure)) throw;
        // The server closed the kept connection while this request was on its way, so it never answered it:
        // the request goes once more, on a new connection.
        CloseNow();
        OpenConnection(ReadTimeout);
        SendRequest();
        response_.StatusLine = ReadLine();
    }
}

// A close or reset before the first byte of an answer, not asked for by this side.
bool TIdCustomHTTP::IsStaleConnectionFailure(const EIdException& failure) {
    if (CloseRequested() || BufferedInput() > 0) return false;
    if (dynamic_cast<const EIdConnClosedGracefully*>(&failure)) return true;
    const auto* socketError = dynamic_cast<const EIdSocketError*>(&failure);
    return socketError && (socketError->SocketCode() == 10053 || socketError->SocketCode() == 10054 ||
                           socketError->SocketCode() == 10058);
}

void TIdCustomHTTP::PrepareRequest() {
    const TIdURI target(request_.Target);
    if (!target.AuthUser.empty()) {
        request_.Username = target.AuthUser;
        request_.Password = target.AuthPassword;
    }
    url_.AuthUser = request_.Username;
    url_.AuthPassword = request_.Password;
    url_.DirPath = MergePath(url_.DirPath, target.DirPath);
    url_.Leaf = target.Leaf;
    url_.Query = target.Query;
    url_.Fragment = target.Fragment;
    if (!target.HostName.empty()) url_.HostName = target.HostName;
    url_.Scheme = target.Scheme.empty() ? "http" : target.Scheme;
    // A URL with a host of its own goes to its own port, or its scheme's; only a URL without a host keeps the
    // port of the previous request.
    const std::string& current = url_.PortText;
    if (!target.PortText.empty()) {
        url_.PortText = target.PortText;
    } else if (!target.HostName.empty() || current.empty() || current == "0" || current == "80" ||
               current == "443") {
        url_.PortText = DefaultPortText(url_.Scheme);
    }
    request_.Target = url_.DirPath + url_.Leaf + url_.Query;
    if (request_.Verb == hmOptions && url_.Leaf == "*") request_.Target = "*";
    const TIdHTTPMethod verb = request_.Verb;
    if (ProtocolVersion == pv1_0 && (verb == hmOptions || verb == hmTrace || verb == hmPut || verb == hmDelete))
        throw EIdException("This request method is supported in HTTP 1.1");
    request_.ContentLength = -1;  // no uploads: a GET never states a length
    request_.Host = url_.HostName + (url_.PortText == "80" ? "" : ":" + url_.PortText);
}

void TIdCustomHTTP::ChooseRoute() {
    const bool tls = SameText(url_.Scheme, "https");
    const bool proxy = !proxyParams_.ProxyServer().empty();
    const std::string host = proxy ? proxyParams_.ProxyServer() : url_.HostName;
    const int port = proxy ? proxyParams_.ProxyPort() : PortNumber(url_.PortText);
    // The component's Host is blanked before every package download: an open connection is judged by where it
    // leads, so it serves a whole run of downloads from one server, and never a request meant for another.
    if (IOHandler() && !OpenedTo(host, port)) CloseNow();
    host_ = host;
    port_ = port;
    // No TLS layer exists in this client, neither direct nor through a proxy tunnel.
    if (tls) throw EIdIOHandlerPropInvalid();
    request_.ConnectionType = proxy ? ctProxy : ctNormal;
    if (proxy) request_.Target = url_.ProxyRequestText();
    if (ProtocolVersion == pv1_0) {
        std::string& keepAlive = proxy ? request_.ProxyConnection : request_.Connection;
        if (keepAlive.empty()) keepAlive = "keep-alive";
    }
}

bool TIdCustomHTTP::ConnectToHost() {
    ChooseRoute();
    if (!response_.KeepConnection()) CloseNow();
    // A kept connection the server has closed in the meantime shows that now, before the request goes out.
    FillInput(false, 1, false);
    if (IsOpen()) return true;
    OpenConnection(ReadTimeout);
    return false;
}

TIdHeaderList TIdCustomHTTP::RequestHeaders() {
    const TIdHTTPRequest& r = request_;
    TIdHeaderList h;
    h.SetValue("Connection", r.Connection);
    h.SetValue("Content-Version", r.ContentVersion);
    h.SetValue("Content-Encoding", r.ContentEncoding);
    h.SetValue("Content-Language", r.ContentLanguage);
    h.SetValue("Content-Type", r.ContentType);
    if (r.ContentLength >= 0) h.SetValue("Content-Length", std::to_string(r.ContentLength));
    h.SetValue("Cache-control", r.CacheControl);
    if (r.Date != 0) h.SetValue("Date", InternetDate(r.Date));
    if (r.Expires != 0) h.SetValue("Expires", InternetDate(r.Expires));
    h.SetValue("Pragma", r.Pragma);
    for (const std::string& line : r.CustomHeaders.Lines()) h.AddLine(line);
    h.SetValue("Proxy-Connection", r.ProxyConnection);
    h.SetValue("Host", r.Host);
    h.SetValue("Accept", r.Accept);
    h.SetValue("Accept-Charset", r.AcceptCharSet);
    h.SetValue("Accept-Encoding", r.AcceptEncoding);
    h.SetValue("Accept-Language", r.AcceptLanguage);
    h.SetValue("From", r.From);
    h.SetValue("Referer", r.Referer);
    h.SetValue("User-Agent", r.UserAgent);
    if (r.LastModified != 0) h.SetValue("If-Modified-Since", InternetDate(r.LastModified));
    const std::string range = RangeValue(r.ContentRangeStart, r.ContentRangeEnd);
    h.SetValue("Range", range);
    if (!range.empty()) h.SetValue("If-Range", r.IfRange);
    h.SetValue("Authorization",
               AuthorizationValue(request_.Authentication, r.BasicAuthentication, r.Username, r.Password));
    proxyParams_.AddProxyAuthorization(h);
    if (CookieManager != nullptr)
        h.SetValue("Cookie", CookieManager->CookieLine(url_.HostName, url_.DirPath, r.ConnectionType == ctSSL ||
                                                                                   r.ConnectionType == ctSSLProxy));
    return h;
}

void TIdCustomHTTP::SendRequest() {
    const TIdHeaderList headers = RequestHeaders();
    StartWriteBatch(-1);
    try {
        SendLine(MethodWord(request_.Verb) + request_.Target + " HTTP/" + (ProtocolVersion == pv1_0 ? "1.0" : "1.1"));
        for (const std::string& line : headers.FoldedLines())
            if (!line.empty()) SendLine(line);
        SendLine("");
    } catch (...) {
        EndWriteBatch();
        throw;
    }
    EndWriteBatch();
}

// The status line has been read; a "100 Continue" block is followed by the real answer.
void TIdCustomHTTP::ReadResponse() {
    for (;;) {
        ReadHeaders();
        UpdateCookies();
        if (response_.StatusCode() != 100) return;
        response_.StatusLine = ReadLine();
    }
}

void TIdCustomHTTP::ReadHeaders() {
    response_.RawHeaders.Clear();
    size_t bytes = 0;
    try {
        for (std::string line = ReadLine(); !line.empty(); line = ReadLine()) {
            bytes += line.size();
            if (response_.RawHeaders.Count() >= MaxHeaderLines || bytes > MaxHeaderBytes) throw EIdHTTPHeaderTooLarge();
            response_.RawHeaders.AddLine(line);
        }
    } catch (const EIdConnClosedGracefully&) {
        CloseNow();  // what arrived before the close counts as the whole header block
    }
    response_.ProcessHeaders();
}

void TIdCustomHTTP::UpdateCookies() {
    if (CookieManager == nullptr && AllowCookies) {
        ownCookieManager_ = std::make_unique<TIdCookieManager>();
        CookieManager = ownCookieManager_.get();
    }
    if (CookieManager == nullptr) return;
    for (const std::string& value : response_.RawHeaders.Extract("Set-cookie"))
        CookieManager->AddCookie(value, url_.HostName);
    for (const std::string& value : response_.RawHeaders.Extract("Set-cookie2"))
        CookieManager->AddCookie2(value, url_.HostName);
}

TIdCustomHTTP::Step TIdCustomHTTP::DecideStep() {
    const int code = response_.StatusCode();
    if ((code / 100 == 3 && code != 304) || !response_.Location.empty()) return HandleRedirect();
    if (code / 100 == 2) {
        if (!IsOpen()) return Step::Undecided;
        if (resume_) TakeResumedAnswer(code);
        if (code == 200) bodyIdentity_ = IdentityOf(response_);
        if (code != 204) ReadBody();
        return Step::Done;
    }
    if (code == 401) return HandleChallenge(false);
    if (code == 407) return HandleChallenge(true);
    RaiseProtocolError();
}

TIdCustomHTTP::Step TIdCustomHTTP::HandleRedirect() {
    std::string location = response_.Location;
    TIdHTTPMethod method = request_.Verb;
    const bool follow = HandleRedirects && redirectCount_ < RedirectMaximum;
    bool handled = follow || HandleRedirects;
    if (OnRedirect) OnRedirect(this, location, redirectCount_, handled, method);
    if (!handled) RaiseProtocolError();
    DiscardBody(DiscardReadTimeout);
    if (!follow) {
        response_.Location = location;
        return Step::Done;
    }
    request_.Target = location;
    request_.Verb = method;
    return Step::Retry;
}

TIdAuthorizationHandlers TIdCustomHTTP::Handlers(bool proxy) {
    TIdAuthorizationHandlers handlers;
    const TIdSelectAuthorizationEvent& select = proxy ? OnSelectProxyAuthorization : OnSelectAuthorization;
    const TIdAuthorizationEvent& authorize = proxy ? OnProxyAuthorization : OnAuthorization;
    if (select)
        handlers.OnSelectAuthorization = [this, &select](const TIdAuthenticationClass*& schemeClass,
                                                         const std::vector<std::string>& authInfo) {
            select(this, schemeClass, authInfo);
        };
    if (authorize)
        handlers.OnAuthorization = [this, &authorize](TIdAuthentication& authentication) {
            bool handled = false;
            authorize(this, authentication, handled);
            return handled;
        };
    return handlers;
}

TIdCustomHTTP::Step TIdCustomHTTP::HandleChallenge(bool proxy) {
    int& attempts = proxy ? proxyAuthRetryCount_ : authRetryCount_;
    ++attempts;
    const bool answered =
        attempts < AuthRetries &&
        (proxy ? proxyParams_.AnswerProxyChallenge(response_.ProxyAuthenticate, Handlers(true))
               : AnswerChallenge(request_.Authentication, request_.Username, request_.Password,
                                 response_.WWWAuthenticate, Handlers(false)));
    if (!answered) {
        if (proxy) proxyParams_.ResetAuthentication();
        else if (request_.Authentication) request_.Authentication->Reset();
        RaiseProtocolError();
    }
    if (!IsOpen()) return Step::Retry;
    if (HTTPOptions & hoInProcessAuth) {
        DiscardBody(DiscardReadTimeout);
        return Step::AuthRetry;
    }
    ReadBody();
    return Step::Done;
}

void TIdCustomHTTP::RaiseProtocolError() {
    TCappedStream errorBody(MaxErrorBodyBytes);
    {
        TemporaryValue<int> timeout(ReadTimeout, ProtocolErrorReadTimeout);
        TemporaryValue<TStream*> destination(response_.BodyStream, &errorBody);
        ReadBody();
    }
    throw EIdHTTPProtocolException(response_.StatusCode(), response_.StatusLine, errorBody.Kept());
}

void TIdCustomHTTP::DiscardBody(int timeout) {
    if (!IsOpen()) return;
    TCappedStream discarded(0);
    TemporaryValue<int> limit(ReadTimeout, timeout);
    TemporaryValue<TStream*> destination(response_.BodyStream, &discarded);
    try {
        ReadBody();
    } catch (const EIdException&) {
        // A redirect's or challenge's body is of no use, but its unread rest must not pass for the next answer.
        if (IOHandler()) CloseNow();
    }
}

void TIdCustomHTTP::ReadBody() {
    TStream* stream = response_.BodyStream;
    if (stream == nullptr) return;
    if (response_.ContentLength > 0) {
        ReadIntoStream(*stream, response_.ContentLength, false);
    } else if (response_.TransferEncoding.find("chunked") != std::string::npos) {
        ReadChunkedBody(*stream);
    } else if (!response_.HasContentLength()) {
        ReadIntoStream(*stream, -1, true);
    }
}

void TIdCustomHTTP::ReadChunkedBody(TStream& stream) {
    ReportStatus(hsStatusText, "Chunk Started");
    for (int64_t size = ChunkSize(ReadLine()); size > 0; size = ChunkSize(ReadLine())) {
        ReadIntoStream(stream, size, false);
        ReadLine();
    }
    // Trailer lines up to the empty line belong to this body, not to the next response.
    while (!ReadLine().empty()) {
    }
}
