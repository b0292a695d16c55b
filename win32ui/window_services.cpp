#include "win32ui/window_services.h"


#include <algorithm>

#include "platform/win32/shell.h"
#include "platform/win32/text.h"
#include "win32ui/window_picture.h"

namespace win32ui {

using platform::win32::Wide;

void DispatchWindowMessage(HWND window, MSG& message, const std::function<bool(MSG&)>& preTranslate) {
    if (preTranslate && preTranslate(message)) return;
    if (IsWindow(window) && IsDialogMessageW(window, &message)) return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

namespace {

// Windows labels a box's buttons in its own language; the language file may give its words for them, which the
// box gets as it opens.
LRESULT CALLBACK LabelButtonsOfOpeningBox(int code, WPARAM wParam, LPARAM lParam) {
    HWND box = reinterpret_cast<HWND>(wParam);
    wchar_t kind[8] = {};
    if (code == HCBT_ACTIVATE && GetClassNameW(box, kind, 8) && std::wstring(kind) == L"#32770") {
        for (const int answer : {IDOK, IDYES, IDNO}) {
            const std::string label = BoxButtonLabel(answer);
            if (!label.empty() && GetDlgItem(box, answer)) SetDlgItemTextW(box, answer, Wide(label).c_str());
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

TWin32WindowServices::TWin32WindowServices(HWND window, std::function<bool(MSG&)> preTranslate)
    : window_(window), thread_(GetCurrentThreadId()), preTranslate_(std::move(preTranslate)) {}

void TWin32WindowServices::Close() {
    wchar_t screenshot[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"ORVANE_SCREENSHOT", screenshot, MAX_PATH);
    if (length > 0 && length < MAX_PATH && IsWindowVisible(window_)) SaveWindowPicture(window_, screenshot);
    ShowWindow(window_, SW_HIDE);
}

void TWin32WindowServices::ProcessMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The loop that asked to end must still see it.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        DispatchWindowMessage(window_, message, preTranslate_);
    }
}

int TWin32WindowServices::ShowBox(const std::string& text, const std::string& caption, unsigned flags) {
    HHOOK hook = SetWindowsHookExW(WH_CBT, LabelButtonsOfOpeningBox, nullptr, GetCurrentThreadId());
    HWND owner = IsWindowVisible(window_) ? window_ : nullptr;
    const int answer = MessageBoxW(owner, Wide(text).c_str(), Wide(caption).c_str(), flags);
    if (hook) UnhookWindowsHookEx(hook);
    return answer;
}

void TWin32WindowServices::OpenDocument(const std::string& document) {
    std::string file = document;
    // The language files name the document with '/', which not every handler of the shell takes in a path.
    std::replace(file.begin(), file.end(), '/', '\\');
    // Without a viewer for the file nothing opens, and nothing is reported.
    platform::win32::OpenWithShell(file);
}

}  // namespace win32ui
