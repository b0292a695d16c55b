#pragma once
// What each system's mapped files share.
#include <cstdint>
#include <string>

namespace platform {

// True when a file of that size can be mapped whole here; else false with `why` naming the file.
bool FitsAddressSpace(std::uint64_t size, const std::string& path, std::string& why);

}  // namespace platform
