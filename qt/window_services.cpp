#include "qt/window_services.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QThread>
#include <QUrl>

#include <cstdlib>

#include "qt/message_box.h"

TQtWindowServices::TQtWindowServices(QWidget* window) : window_(window), receiver_(std::make_unique<QObject>()) {}

void TQtWindowServices::Close() {
    const char* screenshot = std::getenv("ORVANE_SCREENSHOT");
    if (screenshot && *screenshot && window_->isVisible())
        window_->grab().save(QString::fromLocal8Bit(screenshot), "PNG");
    window_->close();
}

void TQtWindowServices::ProcessMessages() { QCoreApplication::processEvents(); }

void TQtWindowServices::Announce() {
    QMetaObject::invokeMethod(receiver_.get(), [this] { RunQueued(); }, Qt::QueuedConnection);
}

bool TQtWindowServices::OnWindowThread() const { return QThread::currentThread() == window_->thread(); }

int TQtWindowServices::ShowBox(const std::string& text, const std::string& caption, unsigned flags) {
    return ShowMessageBox(window_->isVisible() ? window_ : nullptr, window_->font(), text, caption, flags);
}

void TQtWindowServices::OpenDocument(const std::string& file) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file)));
}
