#pragma once
// A loopback TCP forwarder that holds every byte for a fixed delay in each direction before passing it on: a
// server "20 ms away" without root or kernel modules. Each accepted connection gets its own connection to the
// target; the delay is added per chunk as it arrives, so the line's bandwidth stays that of loopback.
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace windowless_bench {

class DelayForwarder {
public:
    DelayForwarder(int targetPort, std::chrono::milliseconds oneWayDelay);
    ~DelayForwarder();
    DelayForwarder(const DelayForwarder&) = delete;
    DelayForwarder& operator=(const DelayForwarder&) = delete;

    int Port() const { return port_; }

private:
    struct Link;
    void AcceptLoop();
    void Forward(int client);

    int targetPort_;
    std::chrono::milliseconds delay_;
    int listener_ = -1;
    int port_ = 0;
    std::mutex lock_;
    std::vector<std::shared_ptr<Link>> links_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

}  // namespace windowless_bench
