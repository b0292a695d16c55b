#include "OVCommon/OVCommon.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/process_exit.h"
#include "platform/temp_folder.h"

void StopProcess(int exitCode) {
    // Exit handlers do not run on this way out, so the fallback folder is removed here.
    platform::RemoveTempFallbackFolders();
    platform::EndProcessNow(exitCode & 0xFF);
}

bool RunProgram(const std::string& fileName, const std::string& parameters, bool wait) {
    if (!platform::FileExists(fileName)) return false;
    const auto reaping = wait ? platform::Reaping::ByCaller : platform::Reaping::Automatically;
    const auto pid = platform::StartProcess(fileName, parameters, reaping);
    if (!pid) return false;
    if (wait) platform::WaitForProcess(*pid);
    return true;
}
