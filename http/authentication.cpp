#include "http/authentication.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>

#include "http/exceptions.h"

namespace {

class SchemeRegistry {
public:
    SchemeRegistry() {
        Register("Basic", {"TIdBasicAuthentication", [] { return std::make_unique<TIdBasicAuthentication>(); }});
    }

    const TIdAuthenticationClass* Find(const std::string& name) {
        std::lock_guard lock(mutex_);
        const auto found = classes_.find(httptext::LowerCase(name));
        return found == classes_.end() ? nullptr : &found->second;
    }

    void Register(const std::string& name, TIdAuthenticationClass schemeClass) {
        std::lock_guard lock(mutex_);
        const auto [at, added] = classes_.try_emplace(httptext::LowerCase(name), std::move(schemeClass));
        if (!added) {
            throw EIdAlreadyRegisteredAuthenticationMethod(
                "This authentication method is already registered with class name " + at->second.ClassName + ".");
        }
    }

private:
    std::mutex mutex_;
    std::map<std::string, TIdAuthenticationClass> classes_;  // std::map keeps the returned pointers valid
};

SchemeRegistry& Registry() {
    static SchemeRegistry registry;
    return registry;
}

std::string FirstWord(const std::string& text) {
    const std::string trimmed = httptext::Trim(text);
    return trimmed.substr(0, trimmed.find(' '));
}

// Reads "name=value, name=value" (values possibly quoted) into the list.
void ReadChallengeParams(const std::string& params, TIdHeaderList& into) {
    std::size_t start = 0;
    while (start < params.size()) {
        auto end = params.find(", ", start);
        if (end == std::string::npos) end = params.size();
        const std::string pair = params.substr(start, end - start);
        const auto equals = pair.find('=');
        if (equals != std::string::npos) {
            std::string value = httptext::Trim(pair.substr(equals + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
            into.SetValue(httptext::Trim(pair.substr(0, equals)), value);
        }
        start = end + 2;
    }
}

// Attaches a scheme object for the first challenge that names a registered scheme (the select hook may pick
// another); false when no scheme can be used.
bool AttachScheme(std::unique_ptr<TIdAuthentication>& scheme, const std::vector<std::string>& challenges,
                  const TIdAuthorizationHandlers& handlers) {
    if (!scheme) {
        const TIdAuthenticationClass* schemeClass = nullptr;
        for (const std::string& challenge : challenges) {
            schemeClass = FindScheme(FirstWord(challenge));
            if (schemeClass) break;
        }
        if (schemeClass && handlers.OnSelectAuthorization) handlers.OnSelectAuthorization(schemeClass, challenges);
        if (!schemeClass) return false;
        scheme = schemeClass->Create();
    }
    scheme->Challenges() = challenges;
    return true;
}

// Asks the scheme for its next step until it is ready or fails, letting the handler fill in credentials. A
// handler that accepts without changing the credentials would ask forever, so that ends with no as well.
bool AskForCredentials(TIdAuthentication& scheme, std::string& username, std::string& password,
                       const TIdAuthorizationHandlers& handlers) {
    if (!handlers.OnAuthorization) return false;
    for (;;) {
        switch (scheme.Next()) {
            case TIdAuthNextStep::Ready: return true;
            case TIdAuthNextStep::Failed: return false;
            case TIdAuthNextStep::NeedsInput: break;
        }
        scheme.SetUsername(username);
        scheme.SetPassword(password);
        if (!handlers.OnAuthorization(scheme)) return false;
        if (scheme.Username() == username && scheme.Password() == password) return false;
        username = scheme.Username();
        password = scheme.Password();
    }
}

}  // namespace

std::string TIdBasicAuthentication::Authentication() {
    ++steps_;
    return BasicCredentials(Username(), Password());
}

TIdAuthNextStep TIdBasicAuthentication::Next() {
    for (const std::string& challenge : Challenges()) {
        const std::string word = FirstWord(challenge);
        if (httptext::SameText(word, "Basic")) {
            ReadChallengeParams(httptext::Trim(httptext::Trim(challenge).substr(word.size())), Params());
            break;
        }
    }
    return Username().empty() ? TIdAuthNextStep::NeedsInput : TIdAuthNextStep::Ready;
}

const TIdAuthenticationClass* FindScheme(const std::string& name) { return Registry().Find(name); }

void RegisterScheme(const std::string& name, TIdAuthenticationClass schemeClass) {
    Registry().Register(name, std::move(schemeClass));
}

std::string Base64Encode(const std::string& bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            group = (group << 8) | (k < count ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= count ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return out;
}

std::string BasicCredentials(const std::string& user, const std::string& password) {
    return "Basic " + Base64Encode(user + ":" + password);
}

std::string AuthorizationValue(std::unique_ptr<TIdAuthentication>& scheme, bool basicAuthentication,
                               const std::string& username, const std::string& password) {
    if (!scheme) {
        if (!basicAuthentication) return {};
        scheme = std::make_unique<TIdBasicAuthentication>();
        scheme->SetUsername(username);
        scheme->SetPassword(password);
    }
    return scheme->Authentication();
}

bool AnswerChallenge(std::unique_ptr<TIdAuthentication>& scheme, std::string& username, std::string& password,
                     const std::vector<std::string>& challenges, const TIdAuthorizationHandlers& handlers) {
    return AttachScheme(scheme, challenges, handlers) && AskForCredentials(*scheme, username, password, handlers);
}

void TIdProxyConnectionInfo::SetProxyServer(const std::string& value) {
    if (!httptext::SameText(value, proxyServer_)) authentication_.reset();
    proxyServer_ = value;
}

void TIdProxyConnectionInfo::SetProxyPort(int value) {
    if (value != proxyPort_) authentication_.reset();
    proxyPort_ = value;
}

void TIdProxyConnectionInfo::ResetAuthentication() {
    if (authentication_) authentication_->Reset();
}

void TIdProxyConnectionInfo::AddProxyAuthorization(TIdHeaderList& headers) {
    const std::string value =
        AuthorizationValue(authentication_, basicAuthentication_, proxyUsername_, proxyPassword_);
    if (!value.empty()) headers.SetValue("Proxy-Authorization", value);
}

bool TIdProxyConnectionInfo::AnswerProxyChallenge(const std::vector<std::string>& challenges,
                                                  const TIdAuthorizationHandlers& handlers) {
    if (!AttachScheme(authentication_, challenges, handlers)) return false;
    // The proxy refused what was sent, so the stored password is not to be offered again.
    proxyPassword_.clear();
    authentication_->Reset();
    return AskForCredentials(*authentication_, proxyUsername_, proxyPassword_, handlers);
}
