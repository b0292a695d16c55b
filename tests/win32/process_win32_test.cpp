#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/process.h"
#include "platform/win32/text.h"
#include "tests/support/eventually.h"
#include "tests/support/temp_dir.h"

namespace {

using Arguments = std::vector<std::string>;
using testsupport::TempDir;

// Arguments that a command line must carry whole, among them what the C runtime's escapes would break.
const Arguments kAwkward = {
    "plain", "", "two words", R"(C:\Brellium Share\)", R"(C:\a\\b c)", R"(\\server\share\\)", "tab\there", "ends \\",
    "\xd0\xbe\xd0\xb1\xd1\x89\xd0\xb8\xd0\xb9 \xd0\xba"};

TEST(Win32CommandLine, ProgramNameIsSkippedByTheSystemsRule) {
    const std::vector<std::pair<std::string, Arguments>> cases = {
        {R"("C:\Program Files\orvane.exe" SFLD="C:\Brellium Share\" PRODUCT=BR)",
         {R"(C:\Program Files\orvane.exe)", R"(SFLD=C:\Brellium Share\)", "PRODUCT=BR"}},
        {"orvane.exe\t/ENTS \"\"", {"orvane.exe", "/ENTS", ""}},
        {"", {""}},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(platform::SplitProgramCommandLine(line), expected) << line;
}

// A copy of the argument echo in a folder of its own, which writes what it was given into echo.txt there.
class Win32StartedProgram : public ::testing::Test {
protected:
    void SetUp() override {
        echo_ = testsupport::CopyExecutable(ARGUMENT_ECHO_EXE, folder_.path());
        _wputenv_s(L"ORVANE_ECHO_FILE", platform::win32::Wide(folder_ / "echo.txt").c_str());
    }
    void TearDown() override { _wputenv_s(L"ORVANE_ECHO_WAIT", L""); }

    // The echo's arguments under the C runtime's rules and under the program's own.
    std::pair<Arguments, Arguments> Echoed() const {
        std::pair<Arguments, Arguments> echoed;
        std::istringstream lines(testsupport::ReadFile(folder_ / "echo.txt"));
        for (std::string line; std::getline(lines, line);) {
            (line.starts_with("crt ") ? echoed.first : echoed.second).push_back(line.substr(4));
        }
        return echoed;
    }

    TempDir folder_;
    std::string echo_;
};

TEST_F(Win32StartedProgram, ReceivesExactlyTheArgumentsOfTheParameterText) {
    std::vector<std::pair<std::string, Arguments>> cases = {
        {R"(SFLD="C:\Brellium Share\" PRODUCT=BR)", {R"(SFLD=C:\Brellium Share\)", "PRODUCT=BR"}},
        {R"(/R "two words" "" x)", {"/R", "two words", "", "x"}},
    };
    // The program's own arguments handed on (as when it restarts itself) come back whole under both rules.
    std::string awkward;
    for (const std::string& argument : kAwkward) awkward += platform::QuoteArgument(argument) + " ";
    cases.emplace_back(awkward, kAwkward);
    for (const auto& [parameters, expected] : cases) {
        const auto started = platform::StartProcess(echo_, parameters);
        ASSERT_TRUE(started) << parameters;
        EXPECT_EQ(platform::WaitForProcess(*started), 0);
        EXPECT_EQ(Echoed(), std::make_pair(expected, expected)) << parameters;
    }
}

// Starts the program with a command line written by hand, optionally under a security descriptor that limits
// what other handles may do with its process.
PROCESS_INFORMATION StartRaw(const std::string& program, const std::string& arguments,
                             const wchar_t* descriptor = nullptr) {
    PSECURITY_DESCRIPTOR security = nullptr;
    if (descriptor != nullptr) {
        EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptor, SDDL_REVISION_1, &security, nullptr));
    }
    SECURITY_ATTRIBUTES attributes{static_cast<DWORD>(sizeof attributes), security, FALSE};
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    std::wstring commandLine = platform::win32::Wide(platform::QuoteArgument(program) + " " + arguments);
    EXPECT_TRUE(CreateProcessW(platform::win32::Wide(program).c_str(), commandLine.data(), &attributes, nullptr, FALSE,
                               0, nullptr, nullptr, &startup, &started));
    LocalFree(security);
    return started;
}

void Close(const PROCESS_INFORMATION& started) {
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
}

// A product launching the program writes a folder with its closing backslash inside the quotes.
TEST_F(Win32StartedProgram, OwnRulesReadAHandWrittenCommandLine) {
    const PROCESS_INFORMATION started = StartRaw(echo_, R"(SFLD="C:\Brellium Share\" PRODUCT=BR)");
    ASSERT_EQ(WaitForSingleObject(started.hProcess, 10000), WAIT_OBJECT_0);
    Close(started);
    EXPECT_EQ(Echoed().second, (Arguments{R"(SFLD=C:\Brellium Share\)", "PRODUCT=BR"}));
}

// The windowless modes' failures as a Windows caller sees them: the whole 32-bit status, not its low byte.
TEST_F(Win32StartedProgram, WindowlessStatusesReachTheCallerWhole) {
    const std::string orvane = testsupport::CopyExecutable(ORVANE_EXE, folder_.path());
    // Nothing listens on port 1 of loopback, so every request fails at once.
    _wputenv_s(L"ORVANE_UPDATE_SERVER", L"127.0.0.1:1");
    _wputenv_s(L"ORVANE_DEMO_SERVER", L"127.0.0.1:1");
    const std::string share = "\"SFLD=" + (folder_ / "share") + "\"";
    const std::vector<std::pair<std::string, DWORD>> cases = {
        {"/ENTS", 0xFFFFFFFF},
        {"/ENTS /ENTC " + share, 0xFFFFFFFF},
        {"/ENTS MAINEXE=missing.exe " + share, 0xFFFFFFF6},
        {"/ENTS CODE=1 VERSION=5.1 PRODUCT=BR " + share, 0xFFFFFFC4},
    };
    for (const auto& [parameters, expected] : cases) {
        const auto started = platform::StartProcess(orvane, parameters);
        ASSERT_TRUE(started) << parameters;
        EXPECT_EQ(static_cast<DWORD>(platform::WaitForProcess(*started)), expected) << parameters;
    }
}

// Waiting for a program must not depend on being allowed to end it: a process that only lets others wait is
// listed with a handle to wait on, one that lets nobody open it is listed by name.
TEST_F(Win32StartedProgram, SnapshotKeepsProcessesThatRefuseTerminateRights) {
    // Wine does not give the creator's own handle more than the descriptor grants, so the echo ends on a signal.
    const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"orvane-echo-release");
    _wputenv_s(L"ORVANE_ECHO_WAIT", L"orvane-echo-release");
    const std::vector<std::pair<const wchar_t*, bool>> cases = {
        {L"D:(A;;0x00101000;;;WD)", true},  // SYNCHRONIZE and PROCESS_QUERY_LIMITED_INFORMATION for everyone
        {L"D:", false},                     // an empty list: nobody may open it
    };
    for (const auto& [descriptor, held] : cases) {
        const std::string name = "guarded-" + std::to_string(held) + ".exe";
        const std::string program = folder_ / name;
        ASSERT_TRUE(CopyFileW(platform::win32::Wide(echo_).c_str(), platform::win32::Wide(program).c_str(), FALSE));
        const PROCESS_INFORMATION started = StartRaw(program, "", descriptor);
        const auto listed = platform::ProcessSnapshot(name);
        ASSERT_EQ(listed.size(), 1u) << name;
        EXPECT_EQ(listed[0].pid, static_cast<platform::ProcessId>(started.dwProcessId));
        EXPECT_EQ(listed[0].process.IsEmpty(), !held);
        EXPECT_EQ(platform::ProcessHasEnded(listed[0].process), !held);  // an empty handle counts as ended
        EXPECT_FALSE(platform::TerminateProcess(listed[0].process));     // terminate rights are refused
        SetEvent(release);
        Close(started);
        EXPECT_TRUE(testsupport::Eventually([&] { return platform::ProcessSnapshot(name).empty(); })) << name;
        ResetEvent(release);
    }
    CloseHandle(release);
}

}  // namespace
