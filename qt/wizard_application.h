#pragma once
// The update wizard as the program's mode: a Qt application whose main window is the wizard.
#include <string>
#include <vector>

// True when Qt can open windows here. Without a display server named in the environment this is known at once;
// otherwise the platform is tried in a child process, because Qt ends a process whose platform fails to start.
bool GraphicalDisplayUsable();

// Runs the wizard until its window closes and returns the exit status: 0, or 1 with one line on standard error
// when there is no usable display. arguments are the program's, element 0 the program itself.
int RunWizardApplication(const std::vector<std::string>& arguments);
