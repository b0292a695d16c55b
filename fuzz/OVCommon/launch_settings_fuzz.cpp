// Any command line: the settings load without crashing, and the number conversion stays within its rules.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "OVCommon/OVCommon.h"
#include "platform/process.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Keep the machine's registry out of the runs.
    setenv("ORVANE_HKLM", "/nonexistent/orvane-fuzz.reg", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> arguments = platform::SplitCommandLine(text);
    arguments.insert(arguments.begin(), "orvane");
    LoadLaunchSettings(arguments);
    // Short plain decimal texts always convert, to their own value.
    const bool plainDecimal =
        !text.empty() && text.size() <= 9 && text.find_first_not_of("0123456789") == std::string::npos;
    if (plainDecimal && TextToInt(text, -1) != std::stoi(text)) std::abort();
    return 0;
}
