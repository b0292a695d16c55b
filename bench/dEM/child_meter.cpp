// Runs a program as its own child and writes what wait4 says of it into a report file, one line:
// "<wait status> <wall seconds> <CPU seconds> <max RSS KiB>".
// The benchmark starts every measured program through this small process because Linux carries the peak
// memory of the process a child was forked from over into the child's max RSS: started straight from the
// benchmark, which holds whole packages in memory while it builds them, every program would look as big.
// usage: windowless_child_meter REPORT-FILE PROGRAM [ARGUMENTS...]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>

extern char** environ;

namespace {

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

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
    if (wait4(pid, &status, 0, &usage) != pid) return 1;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::FILE* report = std::fopen(argv[1], "w");
    if (!report) return 1;
    std::fprintf(report, "%d %.6f %.6f %ld\n", status, wall, Seconds(usage.ru_utime) + Seconds(usage.ru_stime),
                 usage.ru_maxrss);
    return std::fclose(report) == 0 ? 0 : 1;
}
