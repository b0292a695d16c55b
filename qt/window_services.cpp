#include "qt/window_services.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QUrl>

#include <cstdlib>

namespace {

constexpr unsigned IconMask = 0xF0;
constexpr unsigned ButtonMask = 0x0F;

QMessageBox::Icon IconOf(unsigned flags) {
    switch (flags & IconMask) {
        case MB_ICONERROR:
            return QMessageBox::Critical;
        case MB_ICONWARNING:
            return QMessageBox::Warning;
        case MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

bool AsksYesOrNo(unsigned flags) { return (flags & ButtonMask) == MB_YESNO; }

void LabelButtons(QMessageBox& box) {
    for (const auto& [button, answer] : {std::pair{QMessageBox::Ok, IDOK}, {QMessageBox::Yes, IDYES},
                                         {QMessageBox::No, IDNO}}) {
        const std::string label = BoxButtonLabel(answer);
        if (QAbstractButton* shown = box.button(button); shown && !label.empty())
            shown->setText(QString::fromStdString(label));
    }
}

}  // namespace

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
    QWidget* owner = window_->isVisible() ? window_ : nullptr;
    const QMessageBox::StandardButtons buttons =
        AsksYesOrNo(flags) ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
    QMessageBox box(IconOf(flags), QString::fromStdString(caption), QString::fromStdString(text), buttons, owner);
    // A box is a window of its own and does not take its owner's font by itself.
    box.setFont(window_->font());
    LabelButtons(box);
    const int pressed = box.exec();
    if (pressed == QMessageBox::Yes) return IDYES;
    if (pressed == QMessageBox::No) return IDNO;
    return IDOK;
}

void TQtWindowServices::OpenDocument(const std::string& file) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file)));
}
