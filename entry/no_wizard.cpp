// The wizard's stand-in for a build without a window toolkit: the windowless modes work, the wizard does not.
#include <cstdio>

#include "UnitOrvane/wizard_mode.h"

int RunWizardApplication(const std::vector<std::string>& /*arguments*/) {
    std::fputs("orvane: this build has no window for the update wizard; "
               "only the windowless modes (/ENTS, /ENTC) run\n",
               stderr);
    return 1;
}
