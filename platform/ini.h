#pragma once
// INI profile strings.
#include <string>
#include <string_view>

namespace platform {

// The value of `key` in `section` of the INI file, or `defaultValue` when the file, section or key is missing.
// Section and key names ignore letter case; the value is trimmed and one pair of surrounding double or single
// quotes is removed; lines starting with ';' are comments; the first matching section and key win.
std::string ReadProfileString(const std::string& fileName, std::string_view section, std::string_view key,
                              const std::string& defaultValue);
// The same over INI text held in memory.
std::string ProfileStringFromText(std::string_view text, std::string_view section, std::string_view key,
                                  const std::string& defaultValue);

}  // namespace platform
