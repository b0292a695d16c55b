// The update wizard as the program's mode on Windows: the window is part of the program itself.
#include "win32ui/wizard_window.h"

#include <cstdio>
#include <exception>

#include "UnitOrvane/wizard_mode.h"

int RunWizardApplication(const std::vector<std::string>& arguments) {
    std::unique_ptr<win32ui::TWin32WizardWindow> wizard;
    try {
        wizard = std::make_unique<win32ui::TWin32WizardWindow>(arguments);
    } catch (const std::exception& error) {
        // No desktop to open a window on (a service's session, say): the wizard cannot run.
        std::fprintf(stderr, "orvane: the update wizard cannot open its window: %s\n", error.what());
        return 1;
    }
    return wizard->Exec();
}
