#include "UnitOrvane/window_services.h"

#include <chrono>
#include <memory>
#include <thread>

#include "OVCommon/OVCommon.h"
#include "UnitOrvane/window_design.h"

int EscapeAnswer(unsigned flags) { return (flags & 0x0F) == MB_YESNO ? IDNO : IDOK; }

std::string BoxButtonLabel(int answer) {
    const char* key = answer == IDYES ? "LanguageButtonYes" : answer == IDNO ? "LanguageButtonNo" : "LanguageButtonOK";
    return Localizer ? WithMnemonic(Localizer->Lookup(key)) : "";
}

void TQueuedWindowServices::RunOnWindowThread(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    if (!attached_) return;
    queued_.push_back(std::move(work));
    Announce();
}

void TQueuedWindowServices::ShowException(const std::string& message) {
    ShowBox(message, DesignedTitle, MB_OK | MB_ICONERROR);
}

void TQueuedWindowServices::OpenHelp(const std::string& document) {
    OpenDocument(document.substr(0, document.find("::")));
}

void TQueuedWindowServices::Sleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int TQueuedWindowServices::AppMessageBox(const std::string& text, unsigned style) {
    return AskOnWindowThread([this, text, style] { return ShowBox(text, DesignedTitle, style); }, EscapeAnswer(style));
}

void TQueuedWindowServices::RunQueued() {
    std::function<void()> work;
    {
        std::lock_guard lock(mutex_);
        if (queued_.empty()) return;
        work = std::move(queued_.front());
        queued_.pop_front();
    }
    work();
}

int TQueuedWindowServices::AskOnWindowThread(const std::function<int()>& ask, int fallback) {
    if (OnWindowThread()) return ask();
    auto answer = std::make_shared<TAnswer>();
    std::unique_lock lock(mutex_);
    if (!attached_) return fallback;
    queued_.push_back([this, ask, answer] {
        const int button = ask();
        std::lock_guard given(mutex_);
        *answer = TAnswer{true, button};
        answered_.notify_all();
    });
    Announce();
    answered_.wait(lock, [&] { return answer->given || !attached_; });
    return answer->given ? answer->button : fallback;
}

void TQueuedWindowServices::Detach() {
    std::deque<std::function<void()>> dropped;
    std::lock_guard lock(mutex_);
    attached_ = false;
    dropped.swap(queued_);
    answered_.notify_all();
}
