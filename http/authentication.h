#pragma once
// Authorization schemes (Basic is the only one registered), the process-wide registry of scheme names, base64,
// the proxy parameters of a component, and the answer to a 401/407 challenge.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "http/header_list.h"

// What a scheme object needs before its value can be sent.
enum class TIdAuthNextStep { Ready, Failed, NeedsInput };

class TIdAuthentication {
public:
    virtual ~TIdAuthentication() = default;

    // "Username", "Password" and the parameters read from a challenge (realm, ...).
    TIdHeaderList& Params() { return params_; }
    const TIdHeaderList& Params() const { return params_; }
    std::string Username() const { return params_.Value("Username"); }
    std::string Password() const { return params_.Value("Password"); }
    void SetUsername(const std::string& value) { params_.SetValue("Username", value); }
    void SetPassword(const std::string& value) { params_.SetValue("Password", value); }

    // The challenge values ("Basic realm=...") this object was created for.
    std::vector<std::string>& Challenges() { return challenges_; }

    int Steps() const { return steps_; }
    // Back to the first step; the parameters stay.
    virtual void Reset() { steps_ = 0; }

    // The header value to send ("Basic ..."); counts a step.
    virtual std::string Authentication() = 0;
    // Reads the challenge and says whether the value can be sent, cannot, or needs credentials first.
    virtual TIdAuthNextStep Next() = 0;

protected:
    int steps_ = 0;

private:
    TIdHeaderList params_;
    std::vector<std::string> challenges_;
};

// Basic never completes its steps: a server-side object stays attached for the component's life.
class TIdBasicAuthentication : public TIdAuthentication {
public:
    std::string Authentication() override;
    // Copies the challenge's parameters (name=value pairs separated by ", ") into Params; ready when a user
    // name is present, needs input otherwise.
    TIdAuthNextStep Next() override;
};

// A registered scheme: its class name (for messages) and how to make one.
struct TIdAuthenticationClass {
    std::string ClassName;
    std::function<std::unique_ptr<TIdAuthentication>()> Create;
};

// The registered class for a scheme name (letter case ignored), nullptr when none. "Basic" is registered
// before first use.
const TIdAuthenticationClass* FindScheme(const std::string& name);
// EIdAlreadyRegisteredAuthenticationMethod when the name is taken.
void RegisterScheme(const std::string& name, TIdAuthenticationClass schemeClass);

// RFC 2045 base64 of the bytes, on one line.
std::string Base64Encode(const std::string& bytes);
// "Basic " + base64 of user ":" password.
std::string BasicCredentials(const std::string& user, const std::string& password);

// The value to send for one side (server: "Authorization", proxy: "Proxy-Authorization"), empty for none. An
// existing scheme object gives its value; otherwise, with the basic flag, a Basic object is made from the user
// name and password and kept in the slot.
std::string AuthorizationValue(std::unique_ptr<TIdAuthentication>& scheme, bool basicAuthentication,
                               const std::string& username, const std::string& password);

// Optional hooks of a component; unassigned ones mean "no credentials can be supplied".
struct TIdAuthorizationHandlers {
    // May replace the scheme class picked from the challenge values (authInfo).
    std::function<void(const TIdAuthenticationClass*& schemeClass, const std::vector<std::string>& authInfo)>
        OnSelectAuthorization;
    // Puts credentials into the object; false refuses.
    std::function<bool(TIdAuthentication& authentication)> OnAuthorization;
};

// Answers a 401 (server side): picks and attaches a scheme object from the "WWW-Authenticate" values when none
// is attached, then asks the handler for credentials. Returns whether the request can be retried with
// credentials; the user name and password the handler supplied are copied back.
bool AnswerChallenge(std::unique_ptr<TIdAuthentication>& scheme, std::string& username, std::string& password,
                     const std::vector<std::string>& challenges, const TIdAuthorizationHandlers& handlers);

// The proxy parameters of a component. The proxy scheme object is made at the first request that needs it and
// discarded when the server (letter case ignored) or the port changes.
class TIdProxyConnectionInfo {
public:
    const std::string& ProxyServer() const { return proxyServer_; }
    void SetProxyServer(const std::string& value);
    int ProxyPort() const { return proxyPort_; }
    void SetProxyPort(int value);
    const std::string& ProxyUsername() const { return proxyUsername_; }
    void SetProxyUsername(const std::string& value) { proxyUsername_ = value; }
    const std::string& ProxyPassword() const { return proxyPassword_; }
    void SetProxyPassword(const std::string& value) { proxyPassword_ = value; }
    bool BasicAuthentication() const { return basicAuthentication_; }
    void SetBasicAuthentication(bool value) { basicAuthentication_ = value; }

    // The stored proxy scheme object, nullptr when none.
    TIdAuthentication* Authentication() const { return authentication_.get(); }
    // Back to the first step, on every disconnect; the object stays.
    void ResetAuthentication();

    // Adds "Proxy-Authorization" to the request's lines when a value applies (whatever the route).
    void AddProxyAuthorization(TIdHeaderList& headers);
    // Answers a 407 from the "Proxy-Authenticate" values: attaches a scheme object when none is attached,
    // empties ProxyPassword, resets the object and asks the handler. Returns whether to retry.
    bool AnswerProxyChallenge(const std::vector<std::string>& challenges, const TIdAuthorizationHandlers& handlers);

private:
    std::string proxyServer_;
    int proxyPort_ = 0;
    std::string proxyUsername_;
    std::string proxyPassword_;
    bool basicAuthentication_ = false;
    std::unique_ptr<TIdAuthentication> authentication_;
};
