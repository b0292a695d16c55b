// The process entry: start-up checks, launch settings, and the choice of mode.
#include <algorithm>
#include <chrono>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "dEM/dEM.h"
#include "platform/console.h"
#include "platform/error_report.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/run_lock.h"
#include "platform/winsock.h"
#include "UnitOrvane/wizard_mode.h"

namespace {

constexpr unsigned IconErrorTopMost = 0x00040010;
constexpr int DefaultLockWaitSeconds = 600;

// One run at a time per folder a run writes: overlapping runs (cron jobs, say) would store into each other's
// files. A second run waits for the first for a while ("LockWait" seconds in common.ini), then gives up. Where
// the lock cannot be made (a folder its user may not write) the run goes on without it: an up-to-date run writes
// nothing there, and one that must write fails naming the file it could not write, the real reason.
std::unique_ptr<platform::RunLock> LockFolderForRun(const std::string& folder) {
    const int seconds = std::max(0, TryTextToInt(ReadCommonIni("LockWait")).value_or(DefaultLockWaitSeconds));
    const std::string path = folder + RunLockFileName;
    auto lock = std::make_unique<platform::RunLock>(path, std::chrono::seconds(seconds));
    if (lock->State() == platform::RunLockState::Busy)
        throw Exception("Cannot start: another run holds \"" + path + "\"; gave up after waiting " +
                        std::to_string(seconds) + " s.");
    if (lock->State() == platform::RunLockState::Unavailable) return nullptr;
    return lock;
}

[[noreturn]] void RunWindowlessMode() {
    if (Settings.SharedFolder.empty() || (Settings.MirrorMode && Settings.ClientMode)) StopProcess(ExitBadLaunch);
    // "latest.xml" names the shared copies by their full paths, which must hold from any folder a run starts in.
    Settings.SharedFolder = AbsoluteFolder(Settings.SharedFolder);
    // A first run into a folder that is not there yet makes it, so that its catalogue can be written.
    if (Settings.MirrorMode && !platform::ForceDirectories(Settings.SharedFolder))
        throw Exception("Cannot create the shared folder \"" + Settings.SharedFolder + "\".");
    // A share out of reach (its server down, its name mistyped, not mounted) is a failure, not a share whose
    // mirror has not run yet: the machine would go on unprotected while its runs report success.
    if (Settings.ClientMode && !platform::DirectoryExists(Settings.SharedFolder))
        throw Exception("Cannot open the shared folder \"" + Settings.SharedFolder + "\".");
    const auto lock = LockFolderForRun(Settings.MirrorMode ? Settings.SharedFolder : ProgramFolder);
    TdmEM dmEM;
    const auto observer = MakeConsoleObserver(Settings.MirrorMode ? "Mirror run" : "Client run");
    dmEM.Observer = observer.get();
    dmEM.OwnsShare = Settings.MirrorMode && lock && lock->State() == platform::RunLockState::Held;
    if (Settings.MirrorMode) {
        const bool codeAndVersion = !Settings.Code.empty() && !Settings.Version.empty();
        dmEM.QueryText = codeAndVersion ? BuildQueryText(Settings.Code, Settings.Version) : MainProgramQueryText();
        if (dmEM.QueryText.empty()) dmEM.Stop(ExitNoQueryText, "the main program left no query text");
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
    platform::ConnectStandardError();
    try {
        return Run(platform::ProgramArguments(argc, argv));
    } catch (const std::bad_alloc&) {
        platform::ReportApplicationError("Not enough memory.");
        return 1;
    } catch (const std::exception& failure) {
        platform::ReportApplicationError(failure.what());
        return 1;
    }
}
