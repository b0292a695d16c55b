#include <windows.h>

#include "tools/brellium_system.h"

platform::ProcessId OwnProcessId() { return GetCurrentProcessId(); }

int StartInBackground(const std::string& self) {
    return platform::StartProcess(self, "", platform::Reaping::Automatically) ? 0 : 1;
}

namespace {

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

// An invisible top-level window is what others ask to close, as they would the real program's main window.
int RunUntilAskedToClose() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"BrelliumStandIn";
    if (RegisterClassW(&windowClass) == 0) return 1;
    if (CreateWindowW(L"BrelliumStandIn", L"Brellium", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                      windowClass.hInstance, nullptr) == nullptr) {
        return 1;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}
