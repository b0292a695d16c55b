// The wizard's stand-in where its window is not built: the windowless modes work, the wizard does not.
#include <cstdio>

#include "qt/wizard_application.h"

int RunWizardApplication(const std::vector<std::string>& /*arguments*/) {
    std::fputs("orvane: the update wizard's window is not built for Windows yet; "
               "only the windowless modes (/ENTS, /ENTC) run there\n",
               stderr);
    return 1;
}
