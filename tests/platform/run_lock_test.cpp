#include "platform/run_lock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "tests/platform/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using platform::RunLock;
using platform::RunLockState;
using platformtest::ChildSucceeded;
using testsupport::TempDir;
using Clock = std::chrono::steady_clock;

// A child process that takes the lock, says so, and keeps it for `hold`; -1 when it could not take it.
pid_t StartHolder(const std::string& path, std::chrono::milliseconds hold) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t child = platformtest::StartChild([&] {
        const RunLock lock(path, 0ms);
        const bool held = lock.State() == RunLockState::Held && ::write(ready[1], "1", 1) == 1;
        std::this_thread::sleep_for(hold);
        return held;
    });
    ::close(ready[1]);
    char byte = 0;
    const bool holding = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    return holding ? child : -1;
}

TEST(RunLock, ASecondRunWaitsForTheFirstOrGivesUpAndAKilledRunLeavesNoLock) {
    TempDir dir;
    const std::string path = dir / "run.lock";
    const pid_t holder = StartHolder(path, 600ms);
    ASSERT_GT(holder, 0);
    const auto start = Clock::now();
    const std::clock_t processorTime = std::clock();
    EXPECT_EQ(RunLock(path, 200ms).State(), RunLockState::Busy);
    EXPECT_GE(Clock::now() - start, 200ms);
    EXPECT_LT(std::clock() - processorTime, CLOCKS_PER_SEC / 20);  // waits without spinning
    EXPECT_EQ(RunLock(path, 10s).State(), RunLockState::Held);
    EXPECT_GE(Clock::now() - start, 500ms);  // once the holder let go
    EXPECT_TRUE(ChildSucceeded(holder));

    const pid_t killed = StartHolder(path, 60s);
    ASSERT_GT(killed, 0);
    EXPECT_EQ(RunLock(path, 0ms).State(), RunLockState::Busy);
    ASSERT_EQ(::kill(killed, SIGKILL), 0);
    EXPECT_FALSE(ChildSucceeded(killed));
    EXPECT_EQ(RunLock(path, 0ms).State(), RunLockState::Held);
}

TEST(RunLock, IsHeldUntilItsOwnerGoesAndTellsAFileItCannotHaveFromABusyOne) {
    TempDir dir;
    const std::string path = dir / "run.lock";
    {
        const RunLock first(path, 0ms);
        EXPECT_EQ(first.State(), RunLockState::Held);
        EXPECT_EQ(RunLock(path, 0ms).State(), RunLockState::Busy);
    }
    EXPECT_EQ(RunLock(path, 0ms).State(), RunLockState::Held);
    EXPECT_TRUE(testsupport::FileExists(path));  // a waiter may have it open: never removed

    const auto start = Clock::now();
    EXPECT_EQ(RunLock(dir / "missing/run.lock", 10s).State(), RunLockState::Unavailable);
    EXPECT_LT(Clock::now() - start, 5s);  // nothing to wait for
    // A link in a shared folder could lead anywhere: it is not followed.
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "link.lock").c_str()), 0);
    EXPECT_EQ(RunLock(dir / "link.lock", 0ms).State(), RunLockState::Unavailable);
    EXPECT_FALSE(testsupport::FileExists(dir / "elsewhere"));
}

// Runs of several users share a folder: a lock file another user made serves, a folder one may not write in
// cannot hold one.
TEST(RunLock, AnotherUsersLockFileServesAndAClosedFolderIsNoPlaceForOne) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const mode_t savedMask = ::umask(022);
    { const RunLock made(dir / "run.lock", 0ms); }
    ::umask(savedMask);
    EXPECT_TRUE(platformtest::RunAsNobody([&] {
        return RunLock(dir / "run.lock", 0ms).State() == RunLockState::Held &&
               RunLock(dir / "own.lock", 0ms).State() == RunLockState::Unavailable;
    }));
}

}  // namespace
