#pragma once
// What the wizard's window does for the form beyond its controls, as far as no toolkit is involved. Work and
// boxes asked for from another thread wait in a queue of the window's; the toolkit announces them to its window's
// thread, which runs them at its next message processing (RunQueued). Once the window is going away (Detach),
// queued work is dropped and a caller waiting for a box gets the box's Esc answer instead of waiting forever.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "UnitOrvane/controls.h"

// What a box answers when it cannot be shown: the button that Esc would press.
int EscapeAnswer(unsigned flags);
// The language file's label for a box's button (IDOK, IDYES, IDNO), with its first letter as the key that presses
// it (Y and N, Д and Н); empty when the language file has none, so the toolkit's own label stays.
std::string BoxButtonLabel(int answer);

class TQueuedWindowServices : public TWindowServices {
public:
    TQueuedWindowServices() = default;
    ~TQueuedWindowServices() override { Detach(); }
    TQueuedWindowServices(const TQueuedWindowServices&) = delete;
    TQueuedWindowServices& operator=(const TQueuedWindowServices&) = delete;

    void TerminateBeforeShowing() override { terminateBeforeShowing_ = true; }
    bool TerminatesBeforeShowing() const { return terminateBeforeShowing_; }
    void RunOnWindowThread(std::function<void()> work) override;
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        return ShowBox(text, caption, flags);
    }
    // Titled as every box the program shows itself, whatever the language of the window.
    void ShowException(const std::string& message) override;
    // Without a viewer for the file nothing opens, and nothing is reported.
    void OpenHelp(const std::string& document) override;
    void Sleep(int milliseconds) override;

    // The program's message box (AppMessageBox) while the window exists, from any thread.
    int AppMessageBox(const std::string& text, unsigned style);
    // Runs the oldest queued work; the window's thread calls it once for each Announce.
    void RunQueued();
    // From now on no work reaches the window's thread; queued work is dropped. Called on that thread.
    void Detach();

protected:
    // Has the window's thread call RunQueued at its next message processing; from any thread.
    virtual void Announce() = 0;
    virtual bool OnWindowThread() const = 0;
    // A modal box owned by the window while it is shown; returns IDOK, IDYES or IDNO.
    virtual int ShowBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
    virtual void OpenDocument(const std::string& file) = 0;

private:
    struct TAnswer {
        bool given = false;
        int button = 0;
    };
    // Runs ask on the window's thread and waits for its answer; fallback when the window goes away first.
    int AskOnWindowThread(const std::function<int()>& ask, int fallback);

    bool terminateBeforeShowing_ = false;
    std::mutex mutex_;
    std::condition_variable answered_;
    bool attached_ = true;
    std::deque<std::function<void()>> queued_;
};
