#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "platform/files.h"
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

std::optional<platform::ProcessEntry> FindProcess(pid_t pid) {
    for (const auto& entry : platform::ProcessSnapshot()) {
        if (entry.pid == pid) return entry;
    }
    return std::nullopt;
}

// Gives a freshly started process time to run execve, after which its name is the program's.
bool WaitForName(pid_t pid, const std::string& name) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        const auto entry = FindProcess(pid);
        if (entry && entry->exeName == name) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
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

TEST(Process, SnapshotNamesLongProgramsInFullAndTerminationKills) {
    TempDir dir;
    const std::string binary = dir / "orvane-long-named-sleeper";  // longer than the kernel's 15 bytes
    ASSERT_TRUE(platform::ReplaceFileWithCopy("/bin/sleep", binary));
    ASSERT_EQ(::chmod(binary.c_str(), 0755), 0);
    WriteScript(dir / "short.sh", "sleep 30\n");

    const auto sleeper = platform::StartProcess(binary, "30");
    const auto scripted = platform::StartProcess(dir / "short.sh", "");
    ASSERT_TRUE(sleeper && scripted);
    EXPECT_TRUE(WaitForName(*sleeper, "orvane-long-named-sleeper"));
    EXPECT_TRUE(WaitForName(*scripted, "short.sh"));

    EXPECT_TRUE(platform::TerminateProcess(*sleeper));
    EXPECT_TRUE(platform::TerminateProcess(*scripted));
    EXPECT_EQ(platform::WaitForProcess(*sleeper), 128 + SIGKILL);
    EXPECT_EQ(platform::WaitForProcess(*scripted), 128 + SIGKILL);
    EXPECT_FALSE(FindProcess(*sleeper).has_value());
    EXPECT_FALSE(platform::TerminateProcess(*sleeper));
    EXPECT_FALSE(platform::TerminateProcess(0));
    EXPECT_FALSE(platform::TerminateProcess(-1));
}

TEST(Process, ScriptsWithLongNamesAreFoundByTheirOwnName) {
    TempDir dir;
    const std::string script = dir / "orvane-long-named-script.sh";
    WriteScript(script, "sleep 30\n");
    const auto pid = platform::StartProcess(script, "");
    ASSERT_TRUE(pid.has_value());
    EXPECT_TRUE(WaitForName(*pid, "orvane-long-named-script.sh"));
    platform::TerminateProcess(*pid);
    platform::WaitForProcess(*pid);
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
