#pragma once
// What the wizard's window does for the form beyond its controls, in Qt. Work and boxes asked for from another
// thread reach the window's thread through a receiver object that lives there; once the window is going away
// (Detach), such work is dropped and a waiting caller gets the box's Esc answer instead of waiting forever.
#include <QObject>
#include <QWidget>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "UnitOrvane/controls.h"

class TQtWindowServices : public TWindowServices {
public:
    explicit TQtWindowServices(QWidget* window);
    ~TQtWindowServices() override;
    TQtWindowServices(const TQtWindowServices&) = delete;
    TQtWindowServices& operator=(const TQtWindowServices&) = delete;

    // With ORVANE_SCREENSHOT naming a PNG file, the window's last page is saved there before it closes, so an
    // unattended run leaves a picture of how it ended.
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
    // From now on no work reaches the window's thread; work still waiting is dropped. Called on that thread.
    void Detach();

private:
    struct TAnswer {
        bool given = false;
        int button = 0;
    };
    // Runs ask on the window's thread and waits for its answer; fallback when the window goes away first.
    int AskOnWindowThread(const std::function<int()>& ask, int fallback);
    QWidget* BoxOwner() const;

    QWidget* window_;
    bool terminateBeforeShowing_ = false;
    std::mutex mutex_;
    std::condition_variable answered_;
    std::unique_ptr<QObject> receiver_;
};
