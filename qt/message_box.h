#pragma once
// Message boxes of the wizard in Qt: the flags and answers of UnitOrvane/controls.h over QMessageBox.
#include <string>

class QFont;
class QWidget;

// The caption of every box the program shows itself, whatever the language of the window.
inline constexpr const char* BoxTitle = "Orvane";

// A modal box owned by parent (none: owned by the application) in the font given; returns IDOK, IDYES or IDNO.
int ShowMessageBox(QWidget* parent, const QFont& font, const std::string& text, const std::string& caption,
                   unsigned flags);
// What a box answers when it cannot be shown: the button that Esc would press.
int EscapeAnswer(unsigned flags);
