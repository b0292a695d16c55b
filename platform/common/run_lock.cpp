#include "platform/run_lock.h"

#include <algorithm>
#include <thread>

namespace platform {

namespace {

// Often enough that a waiting run starts soon after the holder ends, seldom enough to cost nothing.
constexpr std::chrono::milliseconds kRetryInterval{100};

}  // namespace

RunLock::RunLock(const std::string& path, std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while ((state_ = TryLock(path)) == RunLockState::Busy) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= left.zero()) return;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kRetryInterval, left));
    }
}

}  // namespace platform
