#include "platform/ini.h"

#include "platform/files.h"

namespace platform {

std::string ReadProfileString(const std::string& fileName, std::string_view section, std::string_view key,
                              const std::string& defaultValue) {
    std::string content;
    if (!ReadWholeFile(fileName, content)) return defaultValue;
    return ProfileStringFromText(content, section, key, defaultValue);
}

}  // namespace platform
