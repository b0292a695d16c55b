#include "platform/error_report.h"

#include <cstdio>

#include "platform/win32/console_handles.h"
#include "platform/win32/text.h"

namespace platform {

// A program started from a console or with its standard error redirected reports there, as on POSIX; one started
// by the product or the Task Scheduler has only the box.
void ReportApplicationError(const std::string& message) {
    if (win32::GoesSomewhere(GetStdHandle(STD_ERROR_HANDLE))) {
        std::fprintf(stderr, "Application Error: %s\n", message.c_str());
        std::fflush(stderr);
        return;
    }
    MessageBoxW(nullptr, win32::Wide(message).c_str(), L"Application Error", MB_OK | MB_ICONERROR | MB_TOPMOST);
}

}  // namespace platform
