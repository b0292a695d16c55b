#pragma once
// The update wizard as the program's mode, implemented by the toolkit the program is built with (qt/ on Linux,
// win32ui/ on Windows) or by a stand-in that says the wizard is missing.
#include <string>
#include <vector>

// Runs the wizard until its window closes and returns the exit status: 0, or 1 with one line on standard error
// when no window can be opened. arguments are the program's, element 0 the program itself.
int RunWizardApplication(const std::vector<std::string>& arguments);
