#include "platform/ini.h"

#include "platform/win32/system.h"

#include "platform/win32/text.h"

namespace platform {

std::string ReadProfileString(const std::string& fileName, std::string_view section, std::string_view key,
                              const std::string& defaultValue) {
    const std::wstring file = win32::Wide(fileName);
    const std::wstring sectionName = win32::Wide(section);
    const std::wstring keyName = win32::Wide(key);
    const std::wstring fallback = win32::Wide(defaultValue);
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD length = GetPrivateProfileStringW(sectionName.c_str(), keyName.c_str(), fallback.c_str(),
                                                      value.data(), static_cast<DWORD>(value.size()), file.c_str());
        // A value that fills the buffer to its last character may have been cut: try again with more room.
        if (length + 1 < value.size()) {
            value.resize(length);
            return win32::Utf8(value);
        }
        value.resize(value.size() * 2);
    }
}

}  // namespace platform
