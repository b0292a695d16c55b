#include "bench/dEM/delay_forwarder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <stdexcept>
#include <string>

#include "tests/support/loopback_address.h"

namespace windowless_bench {

namespace {

using Clock = std::chrono::steady_clock;

int LoopbackSocket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("the forwarder has no socket");
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// The bytes read from one side, each chunk due on the other side a delay after it arrived; an empty chunk is
// the end of that direction.
class DelayedPipe {
public:
    void Push(std::string bytes, Clock::time_point due) {
        std::lock_guard guard(lock_);
        chunks_.push_back({std::move(bytes), due});
        ready_.notify_one();
    }
    bool Pop(std::string& bytes) {
        std::unique_lock lock(lock_);
        ready_.wait(lock, [&] { return !chunks_.empty(); });
        const Chunk chunk = std::move(chunks_.front());
        chunks_.pop_front();
        lock.unlock();
        std::this_thread::sleep_until(chunk.due);
        bytes = chunk.bytes;
        return !bytes.empty();
    }

private:
    struct Chunk {
        std::string bytes;
        Clock::time_point due;
    };
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<Chunk> chunks_;
};

void ReadInto(int from, DelayedPipe& pipe, std::chrono::milliseconds delay) {
    std::string buffer(1 << 16, '\0');
    for (;;) {
        const ssize_t got = ::recv(from, buffer.data(), buffer.size(), 0);
        if (got <= 0) break;
        pipe.Push(buffer.substr(0, static_cast<size_t>(got)), Clock::now() + delay);
    }
    pipe.Push("", Clock::now() + delay);
}

}  // namespace

// A line of limited bandwidth that the connections take turns on: each chunk leaves once the line has carried
// the chunks before it.
class DelayForwarder::Line {
public:
    explicit Line(std::int64_t bytesPerSecond) : bytesPerSecond_(bytesPerSecond) {}
    void Carry(std::size_t bytes) {
        if (bytesPerSecond_ <= 0) return;
        Clock::time_point due;
        {
            std::lock_guard guard(lock_);
            due = std::max(Clock::now(), free_);
            free_ = due + std::chrono::nanoseconds(static_cast<std::int64_t>(bytes) * 1'000'000'000 / bytesPerSecond_);
        }
        std::this_thread::sleep_until(due);
    }

private:
    const std::int64_t bytesPerSecond_;
    std::mutex lock_;
    Clock::time_point free_{};
};

namespace {

void WriteFrom(DelayedPipe& pipe, int to, DelayForwarder::Line* line = nullptr) {
    std::string bytes;
    while (pipe.Pop(bytes)) {
        if (line) line->Carry(bytes.size());
        for (size_t sent = 0; sent < bytes.size();) {
            const ssize_t put = ::send(to, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (put <= 0) return;
            sent += static_cast<size_t>(put);
        }
    }
    ::shutdown(to, SHUT_WR);
}

}  // namespace

// Both sockets of one forwarded connection, closed when the forwarder goes.
struct DelayForwarder::Link {
    int client = -1;
    int server = -1;
    DelayedPipe up;
    DelayedPipe down;
    ~Link() {
        ::close(client);
        ::close(server);
    }
};

DelayForwarder::DelayForwarder(int targetPort, std::chrono::milliseconds oneWayDelay, std::int64_t bytesPerSecond)
    : targetPort_(targetPort),
      delay_(oneWayDelay),
      downLine_(std::make_shared<Line>(bytesPerSecond)),
      listener_(LoopbackSocket()) {
    sockaddr_in address = testsupport::LoopbackAddress(0);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 64) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("the forwarder cannot listen");
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

DelayForwarder::~DelayForwarder() {
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    ::close(listener_);
    {
        std::lock_guard guard(lock_);
        for (const auto& link : links_) {
            ::shutdown(link->client, SHUT_RDWR);
            ::shutdown(link->server, SHUT_RDWR);
        }
    }
    for (std::thread& thread : threads_) thread.join();
}

void DelayForwarder::AcceptLoop() {
    for (;;) {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        Forward(client);
    }
}

void DelayForwarder::Forward(int client) {
    auto link = std::make_shared<Link>();
    link->client = client;
    link->server = LoopbackSocket();
    const sockaddr_in target = testsupport::LoopbackAddress(targetPort_);
    if (::connect(link->server, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) return;
    std::lock_guard guard(lock_);
    links_.push_back(link);
    Link& l = *link;
    threads_.emplace_back([&l, this] { ReadInto(l.client, l.up, delay_); });
    threads_.emplace_back([&l] { WriteFrom(l.up, l.server); });
    threads_.emplace_back([&l, this] { ReadInto(l.server, l.down, delay_); });
    threads_.emplace_back([&l, this] { WriteFrom(l.down, l.client, downLine_.get()); });
}

}  // namespace windowless_bench
