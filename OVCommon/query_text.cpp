#include <cstdlib>

#include "OVCommon/OVCommon.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/shared_memory.h"

namespace {

constexpr const char* QueryBlockName = "/BRELLIUMMAPPING19";
constexpr size_t QueryBlockSize = 260;

}  // namespace

std::string MainProgramQueryText() {
    // A block nobody holds would be gone on the product's home platform; one left behind here by an earlier run
    // must not hand over its old text.
    platform::SharedMemoryBlock(QueryBlockName, QueryBlockSize).Remove();
    platform::SharedMemoryBlock block(QueryBlockName, QueryBlockSize);
    if (!block.IsOpen()) return {};
    RunProgram(ProgramFolder + Settings.MainExe, "/R", true);
    const std::string text = block.ReadText();
    // The block goes with its last user, so the next run starts from an empty one.
    block.Remove();
    return text;
}

void StopProcess(int exitCode) { std::exit(exitCode & 0xFF); }

bool RunProgram(const std::string& fileName, const std::string& parameters, bool wait) {
    if (!platform::FileExists(fileName)) return false;
    const auto reaping = wait ? platform::Reaping::ByCaller : platform::Reaping::Automatically;
    const auto pid = platform::StartProcess(fileName, parameters, reaping);
    if (!pid) return false;
    if (wait) platform::WaitForProcess(*pid);
    return true;
}

std::string QueryTextFromMainProgram() {
    const std::string text = MainProgramQueryText();
    if (text.empty()) StopProcess(ExitNoQueryText);
    return text;
}

std::string BuildQueryText(const std::string& code, const std::string& version) {
    const std::time_t now = std::time(nullptr);
    // Only the main thread asks for the time, so the shared result of localtime is safe here.
    return BuildQueryText(code, version, *std::localtime(&now));
}

std::string BuildQueryText(const std::string& code, const std::string& version, const std::tm& localTime) {
    // Each number is written without padding and followed by the literal "2.2"; the server expects exactly that.
    const int stampParts[] = {localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_year + 1900 - 2000,
                              localTime.tm_hour,    localTime.tm_min,  localTime.tm_sec};
    std::string text = "&code=" + code + "&version=" + version + "&timestamp=";
    for (int part : stampParts) text += std::to_string(part) + "2.2";
    return text;
}
