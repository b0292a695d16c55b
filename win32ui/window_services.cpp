#include "win32ui/window_services.h"

#include <shellapi.h>

#include <memory>

#include "platform/win32/text.h"

namespace win32ui {

using platform::win32::Wide;

void DispatchWindowMessage(HWND window, MSG& message, const std::function<bool(MSG&)>& preTranslate) {
    if (preTranslate && preTranslate(message)) return;
    if (IsWindow(window) && IsDialogMessageW(window, &message)) return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

int EscapeAnswer(unsigned flags) { return (flags & 0x0F) == MB_YESNO ? IDNO : IDOK; }

TWin32WindowServices::TWin32WindowServices(HWND window, std::function<bool(MSG&)> preTranslate)
    : window_(window), thread_(GetCurrentThreadId()), preTranslate_(std::move(preTranslate)) {}

void TWin32WindowServices::Close() { ShowWindow(window_, SW_HIDE); }

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
    return MessageBoxW(BoxOwner(), Wide(text).c_str(), Wide(caption).c_str(), flags);
}

void TWin32WindowServices::ShowException(const std::string& message) {
    MessageBoxW(BoxOwner(), Wide(message).c_str(), Wide(BoxTitle).c_str(), MB_OK | MB_ICONERROR);
}

void TWin32WindowServices::OpenHelp(const std::string& document) {
    const std::string file = document.substr(0, document.find("::"));
    // Without a viewer for the file nothing opens, and nothing is reported.
    ShellExecuteW(window_, L"open", Wide(file).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
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
