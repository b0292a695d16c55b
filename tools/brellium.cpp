// A stand-in for the product's main program, enough for the updater to run every mode against it:
//   /R  writes the query text into the shared block and exits;
//   /U  asks every running instance started from this same file to close, waits for them, and exits;
//   /H  starts a normal instance in the background and exits;
//   no argument: runs until asked to close (SIGTERM, SIGINT or SIGHUP).
// The query text comes from BRELLIUM_QUERY_TEXT, else from brellium-query.txt beside the program.
// When BRELLIUM_LOG names a file, every invocation appends one line to it holding its first argument, or
// "(none)", so tests can count how often the updater starts the program.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <strings.h>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/shared_memory.h"

namespace {

// Where the file-name part of a path starts.
std::size_t NameStart(const std::string& path) { return path.find_last_of('/') + 1; }

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
    const platform::ProcessId own = getpid();
    for (platform::ProcessEntry& entry : platform::ProcessSnapshot(self.substr(NameStart(self)))) {
        if (entry.pid != own && entry.executablePath == self) instances.push_back(std::move(entry));
    }
    return instances;
}

int CloseOtherInstances(const std::string& self) {
    const std::vector<platform::ProcessEntry> instances = OtherInstances(self);
    for (const platform::ProcessEntry& instance : instances) platform::AskProcessToClose(instance.process);
    for (const platform::ProcessEntry& instance : instances) {
        while (!platform::ProcessHasEnded(instance.process)) usleep(10000);
    }
    return 0;
}

int StartInBackground(const std::string& self) {
    const pid_t child = fork();
    if (child < 0) return 1;
    if (child == 0) {
        setsid();
        const int devNull = open("/dev/null", O_RDWR);
        for (int fd = 0; fd <= 2; ++fd) dup2(devNull, fd);
        // Nothing of the starter stays open in the background, so a starter reading our output sees its end.
        close_range(3, ~0U, 0);
        execl(self.c_str(), self.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return 0;
}

int RunUntilAskedToClose() {
    sigset_t closing;
    sigemptyset(&closing);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&closing, signal);
    sigprocmask(SIG_BLOCK, &closing, nullptr);
    int received = 0;
    sigwait(&closing, &received);
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
    if (strcasecmp(argv[1], "/R") == 0) return WriteQueryText(self);
    if (strcasecmp(argv[1], "/U") == 0) return CloseOtherInstances(self);
    if (strcasecmp(argv[1], "/H") == 0) return StartInBackground(self);
    return 0;
}
