#pragma once
// Running one program to its end as a measured child: wall time, CPU time and peak memory from wait4, taken by
// a small meter process (ORVANE_CHILD_METER) that starts the program, so every program of a comparison is
// measured the same way, start-up included.
#include <string>
#include <vector>

namespace windowless_bench {

struct Command {
    std::vector<std::string> arguments;    // the program's full path first
    std::string folder;                    // working folder of the child
    std::vector<std::string> environment;  // NAME=value pairs set on top of this process's environment
};

struct Usage {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long maxRssKiB = 0;
    // Sampled every few milliseconds: the memory the kernel cannot drop, unlike the pages of mapped files.
    long peakAnonymousKiB = 0;
};

// Runs the command with standard input and output on /dev/null and standard error into a file (not a
// terminal, so no program draws progress); scratchFolder holds that file and the meter's report. Throws
// std::runtime_error, with what the program wrote to standard error, when it cannot start or does not exit
// with 0.
Usage RunMeasured(const Command& command, const std::string& scratchFolder);

// A benchmark's main: runs it and turns an exception into a line naming the benchmark and status 1.
int RunReportingFailure(const char* benchmark, int (*run)());

}  // namespace windowless_bench
