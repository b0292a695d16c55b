#pragma once
// Small pieces shared by the download benchmarks.
#include <sys/stat.h>

#include <algorithm>
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

}  // namespace benchsupport
