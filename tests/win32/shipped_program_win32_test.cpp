// The orvane.exe that users get: what its manifest declares, and where its reports go without a console window
// of its own (a redirected standard error is covered by scripts/test-windows.sh).
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/version_resource.h"
#include "platform/win32/text.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::win32::Wide;

std::string ManifestOf(const std::string& program) {
    const HMODULE module = LoadLibraryExW(Wide(program).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return "(cannot be loaded)";
    std::string text;
    // RT_MANIFEST, id 1: the one the loader reads for a program.
    if (const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
        const HGLOBAL loaded = LoadResource(module, found);
        const auto* bytes = static_cast<const char*>(LockResource(loaded));
        if (bytes != nullptr) text.assign(bytes, SizeofResource(module, found));
    }
    FreeLibrary(module);
    return text;
}

TEST(Win32ShippedProgram, ManifestRunsAsInvokerOnWindows7AndLaterAwareOfEachMonitorsDpiWithThemedControls) {
    const std::string manifest = ManifestOf(ORVANE_EXE);
    for (const char* expected : {
             R"(level="asInvoker")",
             "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
             "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // Windows 8
             "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // Windows 8.1
             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10 and 11
             ">true/pm</dpiAware>",
             ">PerMonitorV2,PerMonitor</dpiAwareness>",
             R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")",
         }) {
        EXPECT_NE(manifest.find(expected), std::string::npos) << expected << " is not in:\n" << manifest;
    }
    EXPECT_EQ(manifest.find("requireAdministrator"), std::string::npos);
}

std::string FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Explorer shows the program with the product's icon and the project's version. The debug information is not
// shipped inside it (most of its size) but in orvane.exe.debug beside it, which its debug link names.
TEST(Win32ShippedProgram, CarriesItsIconAndVersionAndKeepsItsDebugInformationBesideIt) {
    EXPECT_EQ(platform::FileVersionString(ORVANE_EXE), ORVANE_FILE_VERSION);
    const HMODULE module = LoadLibraryExW(Wide(ORVANE_EXE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14)), nullptr);  // RT_GROUP_ICON
    FreeLibrary(module);
    const std::string program = FileBytes(ORVANE_EXE);
    const std::string debug = FileBytes(std::string(ORVANE_EXE) + ".debug");
    EXPECT_EQ(program.find(".debug_info"), std::string::npos);
    EXPECT_NE(program.find("orvane.exe.debug"), std::string::npos);
    EXPECT_NE(debug.find(".debug_info"), std::string::npos);
    EXPECT_GT(debug.size(), program.size());
}

// orvane.exe in a folder of its own whose language file is a folder: it cannot be read, so the program fails at
// start, before any mode runs, with a report that names the folder.
std::string ProgramThatCannotStart(const std::string& folder) {
    EXPECT_TRUE(CreateDirectoryW(Wide(folder).c_str(), nullptr));
    EXPECT_TRUE(CreateDirectoryW(Wide(folder + "/OvLng").c_str(), nullptr));
    EXPECT_TRUE(CreateDirectoryW(Wide(folder + "/OvLng/english.lng").c_str(), nullptr));
    const std::string program = folder + "/orvane.exe";
    EXPECT_TRUE(CopyFileW(Wide(ORVANE_EXE).c_str(), Wide(program).c_str(), FALSE));
    return program;
}

// Starts the program with no console and no standard handles of its own, and waits for it. A box shown instead
// of a report would wait for a click that never comes: the run is then ended.
DWORD RunDetached(const std::string& program) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    std::wstring commandLine = L"orvane.exe /ENTS";
    if (!CreateProcessW(Wide(program).c_str(), commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                        nullptr, nullptr, &startup, &started)) {
        ADD_FAILURE() << "cannot start " << program;
        return 0;
    }
    const bool ended = WaitForSingleObject(started.hProcess, 60000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(started.hProcess, 99);
    DWORD status = 0;
    GetExitCodeProcess(started.hProcess, &status);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    EXPECT_TRUE(ended) << "orvane.exe did not end: its report found no console";
    return status;
}

// Everything on the console's screen, as UTF-8.
std::string ConsoleText() {
    const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info)) return "(no console)";
    std::wstring text(static_cast<size_t>(info.dwSize.X) * info.dwSize.Y, L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(console, text.data(), static_cast<DWORD>(text.size()), COORD{0, 0}, &read);
    CloseHandle(console);
    text.resize(read);
    return platform::win32::Utf8(text);
}

// Started from a console without redirection, the GUI program attaches to that console and writes its report
// there, readable in any language: the console takes its UTF-8 as such.
TEST(Win32ShippedProgram, TopLevelFailureGoesToTheConsoleItWasStartedFrom) {
    testsupport::TempDir folder;
    const std::string cyrillic = "\xd0\xbe\xd0\xb1\xd1\x89\xd0\xb8\xd0\xb9";
    const std::string program = ProgramThatCannotStart(folder / cyrillic);
    // A console of this test's own, whose screen can be read back; the test's output is a file meanwhile.
    FreeConsole();
    ASSERT_TRUE(AllocConsole());
    const DWORD status = RunDetached(program);
    const std::string screen = ConsoleText();
    FreeConsole();
    EXPECT_EQ(status, 1u);
    EXPECT_NE(screen.find("Application Error: "), std::string::npos) << screen;
    EXPECT_NE(screen.find(cyrillic), std::string::npos) << screen;
}

}  // namespace
