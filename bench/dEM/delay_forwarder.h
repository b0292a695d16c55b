#pragma once
// A loopback TCP forwarder that holds every byte for a fixed delay in each direction before passing it on: a
// server "20 ms away" without root or kernel modules. Each accepted connection gets its own connection to the
// target; the delay is added per chunk as it arrives, so the line's bandwidth stays that of loopback unless a
// limit is given: then every connection's bytes towards the client share one line of that many bytes a second.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace windowless_bench {

class DelayForwarder {
public:
    DelayForwarder(int targetPort, std::chrono::milliseconds oneWayDelay, std::int64_t bytesPerSecond = 0);
    ~DelayForwarder();
    DelayForwarder(const DelayForwarder&) = delete;
    DelayForwarder& operator=(const DelayForwarder&) = delete;

    int Port() const { return port_; }

    class Line;  // the one line every connection's bytes towards the client share

private:
    struct Link;
    void AcceptLoop();
    void Forward(int client);

    int targetPort_;
    std::chrono::milliseconds delay_;
    std::shared_ptr<Line> downLine_;
    int listener_ = -1;
    int port_ = 0;
    std::mutex lock_;
    std::vector<std::shared_ptr<Link>> links_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

}  // namespace windowless_bench
