#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iostream>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "OVCommon/OVCommon.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::ReadFile;

// Runs `body` in a forked child whose standard output goes to `outputPath`. The child's exit status, or -1 when
// it did not exit normally (body must not return).
int ExitStatusOfChild(const std::string& outputPath, const std::function<void()>& body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int output = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (output < 0 || ::dup2(output, STDOUT_FILENO) < 0) ::_exit(101);
        body();
        ::_exit(102);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Would print when destroyed; the process must end without that.
struct NoisyOnDestruction {
    ~NoisyOnDestruction() { std::printf(", then a static object was destroyed"); }
};

TEST(StopProcess, EndsAtOnceKeepingWhatWasWrittenAndRemovingTheFallbackFolder) {
    testsupport::TempDir folder;
    testsupport::TempDir base;
    const std::string privateName = "orvane-" + std::to_string(::geteuid());
    // The private name is taken, so the temporary folder is a fallback made for this process alone.
    std::filesystem::create_directory_symlink(folder / "elsewhere", base / privateName);

    const int status = ExitStatusOfChild(folder / "output", [&] {
        setenv("TMPDIR", base.path().c_str(), 1);
        testsupport::WriteFile(TempFileName(), "temporary");
        // A running thread held by a static object: destroying it while it runs would abort the process.
        static std::thread worker([] {
            for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        static NoisyOnDestruction noisy;
        std::printf("written before");
        std::cout << " the stop";
        StopProcess(ExitNoQueryText);
    });
    EXPECT_EQ(status, 246);
    EXPECT_EQ(ReadFile(folder / "output"), "written before the stop");
    EXPECT_EQ(testsupport::NamesIn(base.path()), std::set<std::string>{privateName});
}

TEST(RunProgram, StartsExistingProgramsOnly) {
    testsupport::TempDir folder;
    EXPECT_FALSE(RunProgram(folder / "missing", "", true));
    const std::string marker = folder / "ran";
    EXPECT_TRUE(RunProgram("/bin/sh", "-c \"echo ran > '" + marker + "'\"", true));
    // With the wait flag the program has ended when the call returns.
    EXPECT_EQ(ReadFile(marker), "ran\n");
}

}  // namespace
