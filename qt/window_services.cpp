#include "qt/window_services.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QThread>
#include <QUrl>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "qt/message_box.h"

TQtWindowServices::TQtWindowServices(QWidget* window) : window_(window), receiver_(std::make_unique<QObject>()) {}

TQtWindowServices::~TQtWindowServices() { Detach(); }

void TQtWindowServices::Close() {
    const char* screenshot = std::getenv("ORVANE_SCREENSHOT");
    if (screenshot && *screenshot && window_->isVisible())
        window_->grab().save(QString::fromLocal8Bit(screenshot), "PNG");
    window_->close();
}

void TQtWindowServices::ProcessMessages() { QCoreApplication::processEvents(); }

void TQtWindowServices::RunOnWindowThread(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    if (receiver_) QMetaObject::invokeMethod(receiver_.get(), std::move(work), Qt::QueuedConnection);
}

int TQtWindowServices::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    return ShowMessageBox(window_, window_->font(), text, caption, flags);
}

void TQtWindowServices::ShowException(const std::string& message) {
    ShowMessageBox(window_, window_->font(), message, BoxTitle, MB_ICONERROR);
}

void TQtWindowServices::OpenHelp(const std::string& document) {
    const std::string file = document.substr(0, document.find("::"));
    // Without a viewer for the file nothing opens, and nothing is reported.
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file)));
}

void TQtWindowServices::Sleep(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

int TQtWindowServices::AppMessageBox(const std::string& text, unsigned style) {
    return AskOnWindowThread(
        [this, text, style] { return ShowMessageBox(BoxOwner(), window_->font(), text, BoxTitle, style); },
        EscapeAnswer(style));
}

QWidget* TQtWindowServices::BoxOwner() const { return window_->isVisible() ? window_ : nullptr; }

int TQtWindowServices::AskOnWindowThread(const std::function<int()>& ask, int fallback) {
    if (QThread::currentThread() == window_->thread()) return ask();
    auto answer = std::make_shared<TAnswer>();
    std::unique_lock lock(mutex_);
    if (!receiver_) return fallback;
    QMetaObject::invokeMethod(
        receiver_.get(),
        [this, ask, answer] {
            const int button = ask();
            std::lock_guard given(mutex_);
            *answer = TAnswer{true, button};
            answered_.notify_all();
        },
        Qt::QueuedConnection);
    answered_.wait(lock, [&] { return answer->given || !receiver_; });
    return answer->given ? answer->button : fallback;
}

void TQtWindowServices::Detach() {
    std::lock_guard lock(mutex_);
    receiver_.reset();
    answered_.notify_all();
}
