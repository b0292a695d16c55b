#pragma once
// What the wizard's window does for the form beyond its controls, in Win32. Work from other threads waits in a
// queue of the window's and is announced by a posted message, so the window's thread runs it at its next message
// processing; once the window is going away (Detach), queued work is dropped and a caller waiting for a box gets
// the box's Esc answer instead of waiting forever.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "win32ui/windows_api.h"

namespace win32ui {

// The message that announces queued work to the window.
constexpr UINT WM_RUNQUEUED = WM_APP + 1;
// The caption of every box the program shows itself, whatever the language of the window.
inline constexpr const char* BoxTitle = "Orvane";

class TWin32WindowServices : public TWindowServices {
public:
    TWin32WindowServices(HWND window, std::function<bool(MSG&)> preTranslate);
    ~TWin32WindowServices() override { Detach(); }
    TWin32WindowServices(const TWin32WindowServices&) = delete;
    TWin32WindowServices& operator=(const TWin32WindowServices&) = delete;

    // Hides the window; the program ends once the running handler has returned.
    void Close() override;
    void TerminateBeforeShowing() override { terminateBeforeShowing_ = true; }
    bool TerminatesBeforeShowing() const { return terminateBeforeShowing_; }
    void ProcessMessages() override;
    void RunOnWindowThread(std::function<void()> work) override;
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    void ShowException(const std::string& message) override;
    void OpenHelp(const std::string& document) override;
    void Sleep(int milliseconds) override;

    // The program's message box (AppMessageBox) while the window exists, from any thread: titled "Orvane" and
    // owned by the window once it is shown.
    int AppMessageBox(const std::string& text, unsigned style);
    // Runs the oldest queued work; the window calls it for each WM_RUNQUEUED.
    void RunQueued();
    // From now on no work reaches the window's thread; queued work is dropped. Called on that thread.
    void Detach();

private:
    struct TAnswer {
        bool given = false;
        int button = 0;
    };
    int AskOnWindowThread(const std::function<int()>& ask, int fallback);
    HWND BoxOwner() const;

    HWND window_;
    DWORD thread_;
    std::function<bool(MSG&)> preTranslate_;
    bool terminateBeforeShowing_ = false;
    std::mutex mutex_;
    std::condition_variable answered_;
    bool attached_ = true;
    std::deque<std::function<void()>> queued_;
};

// Handles one message as the window's message loops do: the window's own keys first, then dialog keys (Tab).
void DispatchWindowMessage(HWND window, MSG& message, const std::function<bool(MSG&)>& preTranslate);
// What a box answers when it cannot be shown: the button that Esc would press.
int EscapeAnswer(unsigned flags);

}  // namespace win32ui
