// Runs a program as its own child and writes what wait4 says of it into a report file, one line:
// "<wait status> <wall seconds> <CPU seconds> <max RSS KiB> <peak anonymous RSS KiB>".
// The benchmark starts every measured program through this small process because Linux carries the peak
// memory of the process a child was forked from over into the child's max RSS: started straight from the
// benchmark, which holds whole packages in memory while it builds them, every program would look as big.
// The max RSS counts the pages of mapped files too, which the kernel writes back and drops as it needs; the
// memory it cannot drop is the anonymous part, which the meter samples every few milliseconds.
// usage: windowless_child_meter REPORT-FILE PROGRAM [ARGUMENTS...]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

// The process's resident anonymous memory now ("RssAnon" of its status), 0 when it cannot be read.
long AnonymousKiB(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    std::FILE* status = std::fopen(path, "r");
    if (!status) return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "RssAnon: %ld", &kib) == 1) break;
    std::fclose(status);
    return kib;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s REPORT-FILE PROGRAM [ARGUMENTS...]\n", argv[0]);
        return 2;
    }
    const auto started = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[2], nullptr, nullptr, argv + 2, environ) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    int status = 0;
    rusage usage{};
    // Sampled beside the wait, so the wait still ends the moment the program does.
    std::atomic<bool> ended{false};
    std::atomic<long> peakAnonymous{0};
    std::thread sampler([&] {
        for (; !ended; std::this_thread::sleep_for(std::chrono::milliseconds(2)))
            peakAnonymous = std::max(peakAnonymous.load(), AnonymousKiB(pid));
    });
    const pid_t waited = wait4(pid, &status, 0, &usage);
    ended = true;
    sampler.join();
    if (waited != pid) return 1;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::FILE* report = std::fopen(argv[1], "w");
    if (!report) return 1;
    std::fprintf(report, "%d %.6f %.6f %ld %ld\n", status, wall, Seconds(usage.ru_utime) + Seconds(usage.ru_stime),
                 usage.ru_maxrss, peakAnonymous.load());
    return std::fclose(report) == 0 ? 0 : 1;
}
