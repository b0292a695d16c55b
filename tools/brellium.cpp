// A stand-in for the product's main program, enough for the updater to run every mode against it:
//   /R  writes the query text into the shared block and exits;
//   /U  asks every running instance started from this same file to close, waits for them, and exits;
//   /H  starts a normal instance in the background and exits;
//   no argument: runs until asked to close (on POSIX SIGTERM, SIGINT or SIGHUP; on Windows WM_CLOSE).
// The query text comes from BRELLIUM_QUERY_TEXT, else from brellium-query.txt beside the program.
// When BRELLIUM_LOG names a file, every invocation appends one line to it holding its first argument, or
// "(none)", so tests can count how often the updater starts the program.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/common/text_util.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "tools/brellium_system.h"

namespace {

// Where the file-name part of a path starts.
std::size_t NameStart(const std::string& path) { return path.find_last_of("/\\") + 1; }

std::string QueryText(const std::string& self) {
    if (const char* text = std::getenv("BRELLIUM_QUERY_TEXT")) return text;
    std::string text;
    platform::ReadWholeFile(self.substr(0, NameStart(self)) + "brellium-query.txt", text);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

int WriteQueryText(const std::string& self) {
    const std::string text = QueryText(self);
    if (text.empty()) return 0;
    platform::SharedMemoryBlock block("/BRELLIUMMAPPING19", 260, platform::SharedMemoryBlock::Opening::OpenExisting);
    if (!block.IsOpen()) {
        std::fprintf(stderr, "brellium: no shared block of this user to write the query text into\n");
        return 2;
    }
    if (block.WriteText(text)) return 0;
    std::fprintf(stderr, "brellium: the query text does not fit the shared block\n");
    return 2;
}

std::vector<platform::ProcessEntry> OtherInstances(const std::string& self) {
    std::vector<platform::ProcessEntry> instances;
    const platform::ProcessId own = OwnProcessId();
    for (platform::ProcessEntry& entry : platform::ProcessSnapshot(self.substr(NameStart(self)))) {
        if (entry.pid != own && entry.executablePath == self) instances.push_back(std::move(entry));
    }
    return instances;
}

int CloseOtherInstances(const std::string& self) {
    const std::vector<platform::ProcessEntry> instances = OtherInstances(self);
    for (const platform::ProcessEntry& instance : instances) platform::AskProcessToClose(instance.process);
    // An instance still starting may not hear the first request yet (on Windows it has no window to close
    // before then), so the request is repeated until each instance has ended.
    for (const platform::ProcessEntry& instance : instances) {
        for (int tick = 1; !platform::ProcessHasEnded(instance.process); ++tick) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (tick % 10 == 0) platform::AskProcessToClose(instance.process);
        }
    }
    return 0;
}

void RecordInvocation(int argc, char** argv) {
    const char* log = std::getenv("BRELLIUM_LOG");
    if (log == nullptr || *log == '\0') return;
    if (FILE* file = std::fopen(log, "a")) {
        std::fprintf(file, "%s\n", argc > 1 ? argv[1] : "(none)");
        std::fclose(file);
    }
}

}  // namespace

int main(int argc, char** argv) {
    RecordInvocation(argc, argv);
    const std::string self = platform::ExecutablePath();
    if (argc < 2) return RunUntilAskedToClose();
    if (platform::text::EqualsIgnoreCase(argv[1], "/R")) return WriteQueryText(self);
    if (platform::text::EqualsIgnoreCase(argv[1], "/U")) return CloseOtherInstances(self);
    if (platform::text::EqualsIgnoreCase(argv[1], "/H")) return StartInBackground(self);
    return 0;
}
