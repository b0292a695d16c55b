#pragma once
// The windowless report of a failure that no mode handled.
#include <string>

namespace platform {

// Writes "Application Error: <message>" and a newline to standard error.
void ReportApplicationError(const std::string& message);

}  // namespace platform
