#pragma once
// The local calendar time of a moment, without the shared result buffer of the C library's conversion.
#include <ctime>

namespace platform {

std::tm LocalTime(std::time_t moment);

}  // namespace platform
