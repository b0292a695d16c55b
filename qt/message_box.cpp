#include "qt/message_box.h"

#include <QMessageBox>
#include <QPushButton>

#include "UnitOrvane/controls.h"
#include "UnitOrvane/window_services.h"

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

int ShowMessageBox(QWidget* parent, const QFont& font, const std::string& text, const std::string& caption,
                   unsigned flags) {
    const QMessageBox::StandardButtons buttons =
        AsksYesOrNo(flags) ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
    QMessageBox box(IconOf(flags), QString::fromStdString(caption), QString::fromStdString(text), buttons, parent);
    // A box is a window of its own and does not take its owner's font by itself.
    box.setFont(font);
    LabelButtons(box);
    const int pressed = box.exec();
    if (pressed == QMessageBox::Yes) return IDYES;
    if (pressed == QMessageBox::No) return IDNO;
    return IDOK;
}
