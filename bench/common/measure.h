#pragma once
// Small pieces shared by the download benchmarks.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace benchsupport {

// The middle value: the figure a noisy, shared machine reports most fairly.
inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// -1 when the file is not there.
inline long long FileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// CPU seconds (user and system) that this process has used so far, all its threads together.
inline double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Wall seconds of one call of the work, whose result is kept from being optimised away.
template <typename Work>
double Seconds(Work work) {
    const auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(work());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One row of the table scripts/bench.sh prints after all benchmarks: a tab-separated line behind "@result", the
// ratio measured (a median of several rounds), how it is formed, and its target.
inline void PrintResultRow(const std::string& measure, double ratio, const std::string& target, bool met) {
    std::printf("@result\t%s\t%.2f\t%s\t%s\n", measure.c_str(), ratio, target.c_str(), met ? "yes" : "NO");
}

}  // namespace benchsupport
