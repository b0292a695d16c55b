#include "bench/dEM/child_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace windowless_bench {

namespace {

std::string FileText(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

std::string NameOf(const std::string& assignment) { return assignment.substr(0, assignment.find('=')); }

// This process's environment with the command's own settings replacing any of the same name.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string assignment = *entry;
        bool replaced = false;
        for (const std::string& o : overrides) replaced = replaced || NameOf(o) == NameOf(assignment);
        if (!replaced) result.push_back(assignment);
    }
    result.insert(result.end(), overrides.begin(), overrides.end());
    return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Starts the meter, which runs the command; returns the meter's wait status.
int RunMeter(std::vector<std::string> arguments, const Command& command, const std::string& errorFile) {
    std::vector<std::string> environment = ChildEnvironment(command.environment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, command.folder.c_str());
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, arguments[0].c_str(), &actions, nullptr, Pointers(arguments).data(),
                                   Pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed) throw std::runtime_error("cannot start " + arguments[0] + ": " + std::strerror(failed));
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) throw std::runtime_error("waitpid failed");
    return status;
}

}  // namespace

Usage RunMeasured(const Command& command, const std::string& scratchFolder) {
    const std::string report = scratchFolder + "meter-report.txt";
    const std::string errors = scratchFolder + "errors.txt";
    std::vector<std::string> meter{ORVANE_CHILD_METER, report};
    meter.insert(meter.end(), command.arguments.begin(), command.arguments.end());
    std::remove(report.c_str());
    const int meterStatus = RunMeter(meter, command, errors);
    std::istringstream line(FileText(report));
    int status = -1;
    Usage usage;
    line >> status >> usage.wallSeconds >> usage.cpuSeconds >> usage.maxRssKiB >> usage.peakAnonymousKiB;
    if (meterStatus != 0 || !line || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(command.arguments[0] + " failed: " + FileText(errors));
    return usage;
}

int RunReportingFailure(const char* benchmark, int (*run)()) {
    try {
        return run();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s benchmark: %s\n", benchmark, failure.what());
        return 1;
    }
}

}  // namespace windowless_bench
