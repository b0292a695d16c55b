// The wizard's window lives in a program of its own beside this one, so that the windowless modes neither load
// the window toolkit nor need it installed: a wizard launch hands this process over to it, arguments unchanged.
#include <cstdio>

#include "OVCommon/OVCommon.h"
#include "platform/process_exit.h"
#include "UnitOrvane/wizard_mode.h"

int RunWizardApplication(const std::vector<std::string>& arguments) {
    const std::string wizard = ProgramFolder + "orvane-wizard";
    std::vector<std::string> handedOver = arguments;
    if (handedOver.empty()) handedOver.emplace_back();
    handedOver[0] = wizard;
    platform::ReplaceProcess(wizard, handedOver);
    std::fprintf(stderr, "orvane: the update wizard %s cannot be started\n", wizard.c_str());
    return 1;
}
