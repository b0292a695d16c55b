// The PE version reader over arbitrary bytes: hostile images give an empty text, never a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/version_resource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::FileVersionFromImage(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
