#pragma once
// Waiting in tests for something another process or thread brings about.
#include <chrono>
#include <thread>

namespace testsupport {

// Polls until the condition holds or a generous limit passes.
template <typename Condition>
bool Eventually(Condition condition) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace testsupport
