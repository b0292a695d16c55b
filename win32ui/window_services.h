#pragma once
// What the wizard's window does for the form beyond its controls, in Win32: queued work is announced to the
// window by a posted message, so the window's thread runs it at its next message processing.
#include <functional>
#include <string>

#include "UnitOrvane/window_services.h"
#include "win32ui/windows_api.h"

namespace win32ui {

// The message that announces queued work to the window.
constexpr UINT WM_RUNQUEUED = WM_APP + 1;

class TWin32WindowServices : public TQueuedWindowServices {
public:
    TWin32WindowServices(HWND window, std::function<bool(MSG&)> preTranslate);

    // With ORVANE_SCREENSHOT naming a PNG file, the window's last page is saved there before it closes.
    void Close() override;
    void ProcessMessages() override;

protected:
    void Announce() override { PostMessageW(window_, WM_RUNQUEUED, 0, 0); }
    bool OnWindowThread() const override { return GetCurrentThreadId() == thread_; }
    // Owned by the window once it is shown, its buttons labelled as the language file says.
    int ShowBox(const std::string& text, const std::string& caption, unsigned flags) override;
    void OpenDocument(const std::string& file) override;

private:
    HWND window_;
    DWORD thread_;
    std::function<bool(MSG&)> preTranslate_;
};

// Handles one message as the window's message loops do: the window's own keys first, then dialog keys (Tab).
void DispatchWindowMessage(HWND window, MSG& message, const std::function<bool(MSG&)>& preTranslate);

}  // namespace win32ui
