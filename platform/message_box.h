#pragma once
// The system's message box, for the few messages that come before any window of the program's own.
#include <string>

namespace platform {

// Shows the text in a box captioned "Orvane", with the buttons and icon that the Windows message box style
// flags ask for, and returns the number of the button pressed (1 = OK). A system without such boxes writes the
// text and a newline to standard error and returns 1.
int ShowMessageBox(const std::string& text, unsigned style);

}  // namespace platform
