#pragma once
// A man in the middle for tests: a loopback HTTP server that forwards each request to the real server and hands
// the response body to a rewrite before it goes back, as a hostile proxy, hotel network or poisoned name would.
// One request per connection (it answers with Connection: close), one connection at a time.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace testsupport {

class TamperingProxy {
public:
    // The body to send for the request target ("/path?query"), given the real one.
    using Rewrite = std::function<std::string(const std::string& target, std::string body)>;
    explicit TamperingProxy(int upstreamPort);
    ~TamperingProxy();
    TamperingProxy(const TamperingProxy&) = delete;
    TamperingProxy& operator=(const TamperingProxy&) = delete;

    // 0 when no port could be had.
    int port() const { return port_; }
    // Applies from the next request on; an empty rewrite forwards bodies as they are.
    void SetRewrite(Rewrite rewrite);

private:
    void Serve();
    void Relay(int client);

    int upstreamPort_;
    int port_ = 0;
    int listener_ = -1;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    Rewrite rewrite_;
    std::thread thread_;
};

}  // namespace testsupport
