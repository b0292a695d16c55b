#pragma once
// Message boxes of the wizard in Qt: the flags and answers of UnitOrvane/controls.h over QMessageBox.
#include <string>

class QFont;
class QWidget;

// A modal box owned by parent (none: owned by the application) in the font given, its buttons labelled as the
// language file says; returns IDOK, IDYES or IDNO.
int ShowMessageBox(QWidget* parent, const QFont& font, const std::string& text, const std::string& caption,
                   unsigned flags);
