#include "OVCommon/OVCommon.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/process_exit.h"
#include "platform/temp_folder.h"
#include "platform/temporary_paths.h"

void StopProcess(int exitCode) {
    // Neither exit handlers nor destructors run on this way out, so temporaries are removed here.
    platform::RemoveTemporaryPaths();
    platform::RemoveTempFallbackFolders();
    // The status goes out whole: a Windows caller sees -1 as 0xFFFFFFFF, while POSIX keeps its low 8 bits.
    platform::EndProcessNow(exitCode);
}

bool RunProgram(const std::string& fileName, const std::string& parameters, bool wait) {
    if (!platform::FileExists(fileName)) return false;
    const auto reaping = wait ? platform::Reaping::ByCaller : platform::Reaping::Automatically;
    const auto pid = platform::StartProcess(fileName, parameters, reaping);
    if (!pid) return false;
    if (wait) platform::WaitForProcess(*pid);
    return true;
}
