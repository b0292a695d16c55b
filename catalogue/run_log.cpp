// The run log "OVLog.txt" beside the program.
#include <ctime>

#include "OVCommon/OVCommon.h"
#include "catalogue/catalogue.h"
#include "platform/files.h"
#include "platform/local_time.h"
#include "platform/stream.h"

namespace {

// The local date and time in the formats of the user's locale.
std::string LocalTimeStamp() {
    const std::tm local = platform::LocalTime(std::time(nullptr));
    char text[128];
    const size_t length = std::strftime(text, sizeof text, "%x %X", &local);
    return std::string(text, length);
}

}  // namespace

std::string RunLogPath() { return ProgramFolder + "OVLog.txt"; }

void AppendToRunLog(const std::string& text) {
    const std::string path = RunLogPath();
    const auto mode = platform::FileExists(path) ? TFileStream::Mode::OpenReadWrite : TFileStream::Mode::Create;
    TFileStream log(path, mode);
    log.Seek(0, TSeekOrigin::soEnd);
    log.WriteText(LocalTimeStamp() + " " + text + "\r\n");
    log.FlushBuffers();
}

void SaveRequestRecord(const std::vector<std::string>& urls) {
    std::string content;
    for (const std::string& url : urls) content += url + "\r\n";
    if (!platform::ReplaceFileWithBytes(RunLogPath(), content))
        throw EFOpenError("Cannot create file \"" + RunLogPath() + "\".");
}
