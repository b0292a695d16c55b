#include "win32ui/window_services.h"


#include <algorithm>
#include <memory>

#include "OVCommon/OVCommon.h"
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

int EscapeAnswer(unsigned flags) { return (flags & 0x0F) == MB_YESNO ? IDNO : IDOK; }

namespace {

// Windows labels a box's buttons in its own language; the language file may give its words for them, which the
// box gets as it opens.
struct TButtonLabel {
    int Id;
    const char* Key;
};
constexpr TButtonLabel ButtonLabels[] = {
    {IDOK, "LanguageButtonOK"}, {IDYES, "LanguageButtonYes"}, {IDNO, "LanguageButtonNo"}};

LRESULT CALLBACK LabelButtonsOfOpeningBox(int code, WPARAM wParam, LPARAM lParam) {
    HWND box = reinterpret_cast<HWND>(wParam);
    wchar_t kind[8] = {};
    if (code == HCBT_ACTIVATE && Localizer && GetClassNameW(box, kind, 8) && std::wstring(kind) == L"#32770") {
        for (const auto& [id, key] : ButtonLabels) {
            const std::string label = Localizer->Lookup(key);
            if (!label.empty() && GetDlgItem(box, id)) SetDlgItemTextW(box, id, Wide(label).c_str());
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

int LabelledMessageBox(HWND owner, const std::string& text, const std::string& caption, unsigned flags) {
    HHOOK hook = SetWindowsHookExW(WH_CBT, LabelButtonsOfOpeningBox, nullptr, GetCurrentThreadId());
    const int answer = MessageBoxW(owner, Wide(text).c_str(), Wide(caption).c_str(), flags);
    if (hook) UnhookWindowsHookEx(hook);
    return answer;
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

void TWin32WindowServices::RunOnWindowThread(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    if (!attached_) return;
    queued_.push_back(std::move(work));
    PostMessageW(window_, WM_RUNQUEUED, 0, 0);
}

void TWin32WindowServices::RunQueued() {
    std::function<void()> work;
    {
        std::lock_guard lock(mutex_);
        if (queued_.empty()) return;
        work = std::move(queued_.front());
        queued_.pop_front();
    }
    work();
}

int TWin32WindowServices::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    return LabelledMessageBox(BoxOwner(), text, caption, flags);
}

void TWin32WindowServices::ShowException(const std::string& message) {
    LabelledMessageBox(BoxOwner(), message, BoxTitle, MB_OK | MB_ICONERROR);
}

void TWin32WindowServices::OpenHelp(const std::string& document) {
    std::string file = document.substr(0, document.find("::"));
    // The language files name the document with '/', which not every handler of the shell takes in a path.
    std::replace(file.begin(), file.end(), '/', '\\');
    // Without a viewer for the file nothing opens, and nothing is reported.
    platform::win32::OpenWithShell(file);
}

void TWin32WindowServices::Sleep(int milliseconds) { ::Sleep(static_cast<DWORD>(milliseconds)); }

int TWin32WindowServices::AppMessageBox(const std::string& text, unsigned style) {
    return AskOnWindowThread([this, text, style] { return MessageBox(text, BoxTitle, style); }, EscapeAnswer(style));
}

HWND TWin32WindowServices::BoxOwner() const { return IsWindowVisible(window_) ? window_ : nullptr; }

int TWin32WindowServices::AskOnWindowThread(const std::function<int()>& ask, int fallback) {
    if (GetCurrentThreadId() == thread_) return ask();
    auto answer = std::make_shared<TAnswer>();
    std::unique_lock lock(mutex_);
    if (!attached_) return fallback;
    queued_.push_back([this, ask, answer] {
        const int button = ask();
        std::lock_guard given(mutex_);
        *answer = TAnswer{true, button};
        answered_.notify_all();
    });
    PostMessageW(window_, WM_RUNQUEUED, 0, 0);
    answered_.wait(lock, [&] { return answer->given || !attached_; });
    return answer->given ? answer->button : fallback;
}

void TWin32WindowServices::Detach() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        attached_ = false;
        dropped.swap(queued_);
        answered_.notify_all();
    }
}

}  // namespace win32ui
