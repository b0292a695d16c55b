#include "platform/error_report.h"

#include <cstdio>

namespace platform {

void ReportApplicationError(const std::string& message) {
    std::fprintf(stderr, "Application Error: %s\n", message.c_str());
    std::fflush(stderr);
}

}  // namespace platform
