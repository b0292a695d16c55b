// Started by the process tests: writes the arguments it was given, as the C runtime splits its command line
// ("crt" lines) and as the program's own rules split it ("own" lines), one per line, into the file named by
// ORVANE_ECHO_FILE. With ORVANE_ECHO_WAIT naming an event it then stays until the event is set (a minute at
// most), since the test may not be allowed to end it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/win32/text.h"

int wmain(int argc, wchar_t** argv) {
    const wchar_t* path = _wgetenv(L"ORVANE_ECHO_FILE");
    if (path == nullptr) return 2;
    FILE* file = _wfopen(path, L"wb");
    if (file == nullptr) return 3;
    for (int index = 1; index < argc; ++index) {
        std::fprintf(file, "crt %s\n", platform::win32::Utf8(argv[index]).c_str());
    }
    const std::vector<std::string> own = platform::ProgramArguments(0, nullptr);
    for (std::size_t index = 1; index < own.size(); ++index) std::fprintf(file, "own %s\n", own[index].c_str());
    std::fclose(file);
    const wchar_t* event = _wgetenv(L"ORVANE_ECHO_WAIT");
    if (event == nullptr) return 0;
    const HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, event);
    if (release == nullptr) return 4;
    WaitForSingleObject(release, 60000);
    CloseHandle(release);
    return 0;
}
