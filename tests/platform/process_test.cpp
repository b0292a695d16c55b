#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/files.h"
#include "tests/support/other_user.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using Arguments = std::vector<std::string>;

void WriteScript(const std::string& path, const std::string& body) {
    WriteFile(path, "#!/bin/sh\n" + body);
    ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

std::optional<platform::ProcessEntry> FindProcess(platform::ProcessId pid, const std::string& name) {
    for (auto& entry : platform::ProcessSnapshot(name)) {
        if (entry.pid == pid) return std::move(entry);
    }
    return std::nullopt;
}

// Gives a freshly started process time to run execve, after which its name is the program's.
std::optional<platform::ProcessEntry> WaitForName(platform::ProcessId pid, const std::string& name) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (auto entry = FindProcess(pid, name)) return entry;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

std::string CopyProgram(const std::string& program, const std::string& copy) {
    EXPECT_TRUE(platform::ReplaceFileWithCopy(program, copy));
    EXPECT_EQ(::chmod(copy.c_str(), 0755), 0);
    return copy;
}

TEST(CommandLine, SplitsOnBlanksAndControlCharactersOutsideQuotes) {
    EXPECT_EQ(platform::SplitCommandLine(""), Arguments{});
    EXPECT_EQ(platform::SplitCommandLine(" \t\r\n "), Arguments{});
    EXPECT_EQ(platform::SplitCommandLine("/R"), Arguments{"/R"});
    EXPECT_EQ(platform::SplitCommandLine("  a\tb\x01" "c\n d  "), (Arguments{"a", "b", "c", "d"}));
    EXPECT_EQ(platform::SplitCommandLine("MAINEXE=\"my app.exe\" /ENTS"),
              (Arguments{"MAINEXE=my app.exe", "/ENTS"}));
    EXPECT_EQ(platform::SplitCommandLine("\"a b\"c\" d\""), Arguments{"a bc d"});
    EXPECT_EQ(platform::SplitCommandLine("x \"\" y"), (Arguments{"x", "", "y"}));
    EXPECT_EQ(platform::SplitCommandLine("a\"\"b"), Arguments{"ab"});
    EXPECT_EQ(platform::SplitCommandLine("\"tab\there\" \"open to the end"),
              (Arguments{"tab\there", "open to the end"}));
}

TEST(Process, StartsAScriptWithArgumentsAndWaitsForIt) {
    TempDir dir;
    const std::string script = dir / "args.sh";
    WriteScript(script, "for a in \"$@\"; do echo \"[$a]\"; done > \"$1\"\nsleep 0.2\nexit 7\n");
    const auto pid = platform::StartProcess(script, "\"" + (dir / "out") + "\" \"two words\" \"\" x");
    ASSERT_TRUE(pid.has_value());
    EXPECT_EQ(platform::WaitForProcess(*pid), 7);
    EXPECT_EQ(ReadFile(dir / "out"), "[" + (dir / "out") + "]\n[two words]\n[]\n[x]\n");
    EXPECT_EQ(platform::WaitForProcess(*pid), -1);  // already reaped
}

TEST(Process, StartFailsForMissingFilesFoldersAndUnopenableDocuments) {
    TempDir dir;
    EXPECT_FALSE(platform::StartProcess(dir / "missing.sh", "").has_value());
    EXPECT_FALSE(platform::StartProcess(dir.path(), "").has_value());

    WriteFile(dir / "readme.txt", "a document");
    const char* savedPath = std::getenv("PATH");
    const std::string path = savedPath != nullptr ? savedPath : "";
    ::setenv("PATH", dir.path().c_str(), 1);  // no xdg-open to hand the document to
    const auto pid = platform::StartProcess(dir / "readme.txt", "");
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_FALSE(pid.has_value());
}

TEST(Process, DocumentsGoToTheDesktopOpener) {
    TempDir dir;
    WriteScript(dir / "xdg-open", "echo \"$@\" > \"$(dirname \"$0\")/opened\"\n");
    WriteFile(dir / "readme.txt", "a document");
    const char* savedPath = std::getenv("PATH");
    const std::string path = savedPath != nullptr ? savedPath : "";
    ::setenv("PATH", (dir.path() + ":" + path).c_str(), 1);
    const auto pid = platform::StartProcess(dir / "readme.txt", "ignored");
    ::setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(pid.has_value());
    EXPECT_EQ(platform::WaitForProcess(*pid), 0);
    EXPECT_EQ(ReadFile(dir / "opened"), dir / "readme.txt\n");
}

TEST(Process, WaitingTakesOnlyTheProcessAskedFor) {
    TempDir dir;
    WriteScript(dir / "quick.sh", "exit 3\n");
    const auto pid = platform::StartProcess(dir / "quick.sh", "");
    ASSERT_TRUE(pid.has_value());
    // 0 and -1 stand for groups of processes; the child is not reaped through them.
    EXPECT_EQ(platform::WaitForProcess(0), -1);
    EXPECT_EQ(platform::WaitForProcess(-1), -1);
    EXPECT_EQ(platform::WaitForProcess(*pid + (platform::ProcessId{1} << 32)), -1);
    EXPECT_EQ(platform::WaitForProcess(*pid), 3);
}

TEST(Process, SnapshotNamesLongProgramsInFullAndTerminationKills) {
    TempDir dir;
    // Longer than the kernel's 15 bytes.
    const std::string binary = CopyProgram("/bin/sleep", dir / "orvane-long-named-sleeper");
    WriteScript(dir / "short.sh", "sleep 30 >/dev/null 2>&1\n");

    const auto sleeper = platform::StartProcess(binary, "30");
    const auto scripted = platform::StartProcess(dir / "short.sh", "");
    ASSERT_TRUE(sleeper && scripted);
    auto sleeperEntry = WaitForName(*sleeper, "orvane-long-named-sleeper");
    auto scriptedEntry = WaitForName(*scripted, "short.sh");
    ASSERT_TRUE(sleeperEntry && scriptedEntry);
    EXPECT_EQ(sleeperEntry->executablePath, binary);
    EXPECT_FALSE(FindProcess(*sleeper, "orvane-long-na").has_value());
    // Letter case counts unless the caller says otherwise.
    EXPECT_TRUE(platform::ProcessSnapshot("ORVANE-Long-Named-Sleeper").empty());
    EXPECT_EQ(platform::ProcessSnapshot("ORVANE-Long-Named-Sleeper", platform::LetterCase::Ignored).size(), 1u);

    EXPECT_TRUE(platform::TerminateProcess(sleeperEntry->process));
    EXPECT_TRUE(platform::TerminateProcess(scriptedEntry->process));
    // Ended but not yet waited for: no longer listed.
    while (!platform::ProcessHasEnded(sleeperEntry->process)) std::this_thread::yield();
    EXPECT_FALSE(FindProcess(*sleeper, "orvane-long-named-sleeper").has_value());
    EXPECT_EQ(platform::WaitForProcess(*sleeper), 128 + SIGKILL);
    EXPECT_EQ(platform::WaitForProcess(*scripted), 128 + SIGKILL);
    EXPECT_FALSE(platform::TerminateProcess(sleeperEntry->process));
    EXPECT_FALSE(platform::TerminateProcess(platform::ProcessHandle()));
    EXPECT_TRUE(platform::ProcessHasEnded(platform::ProcessHandle()));
}

// A copy of tail whose name is exactly as long as the kernel keeps, with a first argument that continues it.
// Returned once the new program's arguments are in place, the last step of its start.
std::optional<platform::ProcessId> StartFifteenByteProgram(const TempDir& dir) {
    const std::string program = CopyProgram("/usr/bin/tail", dir / "abcdefghijklmno");
    WriteFile(dir / "abcdefghijklmno.log", "");
    const auto pid = platform::StartProcess(program, "\"" + (dir / "abcdefghijklmno.log") + "\" -f");
    std::string arguments;
    for (int attempt = 0; pid && attempt < 500; ++attempt) {
        if (platform::ReadWholeFile("/proc/" + std::to_string(*pid) + "/cmdline", arguments) && !arguments.empty()) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pid;
}

// Kills and reaps a child of this test (whose id cannot change hands before it is reaped).
void StopChild(platform::ProcessId pid) {
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    platform::WaitForProcess(pid);
}

TEST(Process, AFifteenByteProgramNameWinsOverArgumentsThatContinueIt) {
    TempDir dir;
    const auto pid = StartFifteenByteProgram(dir);
    ASSERT_TRUE(pid.has_value());
    EXPECT_TRUE(WaitForName(*pid, "abcdefghijklmno").has_value());
    EXPECT_FALSE(FindProcess(*pid, "abcdefghijklmno.log").has_value());
    StopChild(*pid);
}

TEST(Process, WithoutItsExecutableAProcessIsNamedByItsFirstArgument) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to look on as another user";
    TempDir dir;
    const auto pid = StartFifteenByteProgram(dir);
    ASSERT_TRUE(pid.has_value());
    // Another user may not read the executable of this process.
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(testsupport::kNobody) != 0 || ::setuid(testsupport::kNobody) != 0) ::_exit(2);
        const bool named = FindProcess(*pid, "abcdefghijklmno").has_value();
        ::_exit(named && !FindProcess(*pid, "abcdefghijklmno.log") ? 0 : 1);
    }
    int status = 0;
    EXPECT_TRUE(child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << status;
    StopChild(*pid);
}

TEST(Process, ScriptsWithLongNamesAreFoundByTheirOwnName) {
    TempDir dir;
    const std::string script = dir / "orvane-long-named-script.sh";
    WriteScript(script, "sleep 30 >/dev/null 2>&1\n");
    const auto pid = platform::StartProcess(script, "");
    ASSERT_TRUE(pid.has_value());
    const auto entry = WaitForName(*pid, "orvane-long-named-script.sh");
    ASSERT_TRUE(entry.has_value());
    platform::TerminateProcess(entry->process);
    platform::WaitForProcess(*pid);
}

// Sets the id the kernel counts up from for the next process; false when this process may not.
bool SetLastProcessId(platform::ProcessId pid) {
    std::ofstream counter("/proc/sys/kernel/ns_last_pid");
    counter << pid;
    counter.flush();
    return static_cast<bool>(counter);
}

TEST(Process, AHeldProcessIsNeverMistakenForALaterOneWithItsId) {
    TempDir dir;
    const std::string first = CopyProgram("/bin/sleep", dir / "orvane-first");
    const std::string second = CopyProgram("/bin/sleep", dir / "orvane-second");
    const auto firstPid = platform::StartProcess(first, "30");
    ASSERT_TRUE(firstPid.has_value());
    const auto listed = WaitForName(*firstPid, "orvane-first");
    ASSERT_TRUE(listed.has_value());
    ASSERT_TRUE(platform::TerminateProcess(listed->process));
    ASSERT_EQ(platform::WaitForProcess(*firstPid), 128 + SIGKILL);

    // The next process gets the same id, when this test may steer the kernel and nobody else is faster.
    if (!SetLastProcessId(*firstPid - 1)) GTEST_SKIP() << "the next process id cannot be chosen here";
    const auto secondPid = platform::StartProcess(second, "30");
    ASSERT_TRUE(secondPid.has_value());
    const bool sameId = *secondPid == *firstPid;
    if (sameId) {
        EXPECT_TRUE(platform::ProcessHasEnded(listed->process));
        EXPECT_FALSE(platform::TerminateProcess(listed->process));
        EXPECT_FALSE(platform::AskProcessToClose(listed->process));
    }
    const auto secondEntry = WaitForName(*secondPid, "orvane-second");
    EXPECT_TRUE(secondEntry.has_value()) << "the later process was hit";
    if (secondEntry) platform::TerminateProcess(secondEntry->process);
    platform::WaitForProcess(*secondPid);
    if (!sameId) GTEST_SKIP() << "another process took the id first";
}

TEST(Process, UnwaitedProcessesLeaveNoZombie) {
    TempDir dir;
    WriteScript(dir / "quick.sh", "exit 0\n");
    const auto pid = platform::StartProcess(dir / "quick.sh", "", platform::Reaping::Automatically);
    ASSERT_TRUE(pid.has_value());
    const std::string procEntry = "/proc/" + std::to_string(*pid);
    for (int attempt = 0; attempt < 500 && platform::DirectoryExists(procEntry); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(platform::DirectoryExists(procEntry)) << "still there (a zombie?)";
}

TEST(Process, ExecutablePathIsThisProgram) {
    const std::string path = platform::ExecutablePath();
    EXPECT_EQ(path.front(), '/');
    EXPECT_TRUE(path.ends_with("/platform_test")) << path;
}

}  // namespace
