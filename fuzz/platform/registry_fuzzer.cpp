// The registry-file parser over arbitrary bytes: it must skip what it does not understand, never crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/posix/registry_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::ParseRegistryFile(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
