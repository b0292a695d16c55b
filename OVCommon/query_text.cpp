#include "OVCommon/OVCommon.h"
#include "platform/local_time.h"
#include "platform/shared_memory.h"

namespace {

constexpr const char* QueryBlockName = "/BRELLIUMMAPPING19";
constexpr size_t QueryBlockSize = 260;

}  // namespace

std::string MainProgramQueryText() {
    // A block nobody holds would be gone on the product's home platform; one left behind here by an earlier run
    // must not hand over its old text, and one that another user put there is not trusted at all.
    platform::SharedMemoryBlock block(QueryBlockName, QueryBlockSize,
                                      platform::SharedMemoryBlock::Opening::CreateFresh);
    if (!block.IsOpen()) return {};
    RunProgram(ProgramFolder + Settings.MainExe, "/R", true);
    const std::string text = block.ReadText();
    // The block goes with its last user, so the next run starts from an empty one.
    block.Remove();
    return text;
}

std::string BuildQueryText(const std::string& code, const std::string& version) {
    return BuildQueryText(code, version, platform::LocalTime(std::time(nullptr)));
}

std::string BuildQueryText(const std::string& code, const std::string& version, const std::tm& localTime) {
    // Each number is written without padding and followed by the literal "2.2"; the server expects exactly that.
    const int stampParts[] = {localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_year + 1900 - 2000,
                              localTime.tm_hour,    localTime.tm_min,  localTime.tm_sec};
    std::string text = "&code=" + code + "&version=" + version + "&timestamp=";
    for (int part : stampParts) text += std::to_string(part) + "2.2";
    return text;
}
