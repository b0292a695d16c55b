// Downloads a 256 MiB file from a local nginx with the HTTP client and with curl, alternating, and prints the
// median wall-time and CPU-time ratios (ours / curl). Both run as child processes measured with wait4, so
// start-up, the transfer and writing the file count the same way for each.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/common/measure.h"
#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace {

using benchsupport::FileSize;
using benchsupport::Median;

constexpr long long kFileSize = 256LL * 1024 * 1024;
constexpr int kRounds = 5;

struct Sample {
    double wallSeconds = 0;
    double cpuSeconds = 0;
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

// Runs the program to its end; false when it could not start or did not exit with 0.
bool Measure(const std::vector<std::string>& command, Sample& sample) {
    std::vector<char*> argv;
    for (const std::string& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const auto started = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return false;
    sample.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    sample.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool SameContent(const std::string& a, const std::string& b) {
    std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
    std::vector<char> x(1 << 20), y(1 << 20);
    while (first && second) {
        first.read(x.data(), static_cast<std::streamsize>(x.size()));
        second.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (first.gcount() != second.gcount() || !std::equal(x.begin(), x.begin() + first.gcount(), y.begin()))
            return false;
    }
    return !first && !second;
}

}  // namespace

int main() {
    testsupport::NginxServer nginx;
    if (!nginx.running()) return 1;
    nginx.AddLargeFile("big.bin", kFileSize);
    testsupport::TempDir out;
    const std::string url = nginx.Url("big.bin");
    const std::vector<std::string> ours{ORVANE_GET_ONCE, url, out / "ours.bin"};
    const std::vector<std::string> curl{"/usr/bin/curl", "-s", "-o", out / "curl.bin", url};

    std::vector<double> wallRatios, cpuRatios;
    for (int round = 0; round < kRounds; ++round) {
        Sample mine, theirs;
        // Alternate which one goes first, so neither always finds a warmer cache.
        const bool oursFirst = round % 2 == 0;
        const bool ok = oursFirst ? Measure(ours, mine) && Measure(curl, theirs)
                                  : Measure(curl, theirs) && Measure(ours, mine);
        if (!ok || FileSize(out / "ours.bin") != kFileSize || FileSize(out / "curl.bin") != kFileSize) {
            std::fprintf(stderr, "round %d: a download failed or is incomplete\n", round + 1);
            return 1;
        }
        std::printf("round %d: ours %.3f s wall %.3f s cpu, curl %.3f s wall %.3f s cpu\n", round + 1,
                    mine.wallSeconds, mine.cpuSeconds, theirs.wallSeconds, theirs.cpuSeconds);
        wallRatios.push_back(mine.wallSeconds / theirs.wallSeconds);
        cpuRatios.push_back(mine.cpuSeconds / std::max(theirs.cpuSeconds, 1e-6));
    }
    if (!SameContent(out / "ours.bin", out / "curl.bin")) {
        std::fprintf(stderr, "the two downloads differ\n");
        return 1;
    }
    const double wall = Median(wallRatios), cpu = Median(cpuRatios);
    std::printf("median wall-time ratio (ours/curl): %.3f\n", wall);
    std::printf("median CPU-time ratio (ours/curl):  %.3f\n", cpu);
    std::printf("target <= 1.00: %s\n", wall <= 1.0 && cpu <= 1.0 ? "met" : "NOT met");
    benchsupport::PrintResultRow("download 256 MiB: HTTP client / curl, wall", wall, "<= 1.00", wall <= 1.0);
    benchsupport::PrintResultRow("download 256 MiB: HTTP client / curl, CPU", cpu, "<= 1.00", cpu <= 1.0);
    return 0;
}
