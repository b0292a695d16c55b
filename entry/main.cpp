// The process entry: start-up checks, launch settings, and the choice of mode.
#include <string>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "dEM/dEM.h"
#include "platform/error_report.h"
#include "platform/process.h"
#include "platform/winsock.h"
#include "qt/wizard_application.h"

namespace {

constexpr unsigned IconErrorTopMost = 0x00040010;

[[noreturn]] void RunWindowlessMode() {
    if (Settings.SharedFolder.empty() || (Settings.MirrorMode && Settings.ClientMode)) StopProcess(ExitBadLaunch);
    TdmEM dmEM;
    Settings.SharedFolder = AddBackslash(Settings.SharedFolder);
    const auto observer = MakeConsoleObserver(Settings.MirrorMode ? "Mirror run" : "Client run");
    dmEM.Observer = observer.get();
    if (Settings.MirrorMode) {
        const bool codeAndVersion = !Settings.Code.empty() && !Settings.Version.empty();
        dmEM.QueryText =
            codeAndVersion ? BuildQueryText(Settings.Code, Settings.Version) : QueryTextFromMainProgram();
        dmEM.RunMirror(Settings.SharedFolder);
    } else {
        dmEM.RunClient(Settings.SharedFolder);
    }
    // Ends here, as a stopped run does, without taking the catalogue trees apart: freeing their hundreds of
    // thousands of nodes one by one on the way out costs a tenth of an up-to-date run.
    StopProcess(0);
}

int Run(const std::vector<std::string>& arguments) {
    StartOVCommon();
    if (!platform::WinSockAvailable()) {
        AppMessageBox("You must have WinSock2 installed. Please see the system requirements section in the program "
                      "manual.",
                      IconErrorTopMost);
        return 0;
    }
    LoadLaunchSettings(arguments);
    if (Settings.MirrorMode || Settings.ClientMode) RunWindowlessMode();
    return RunWizardApplication(arguments);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(platform::ProgramArguments(argc, argv));
    } catch (const std::exception& failure) {
        platform::ReportApplicationError(failure.what());
        return 1;
    }
}
