#pragma once
// The boundary between the program's UTF-8 texts and the wide-character Win32 API.
#include <string>
#include <string_view>

namespace platform::win32 {

std::wstring Wide(std::string_view text);
std::string Utf8(std::wstring_view text);
// The system's description of an error code, without the line break it ends with.
std::string SystemMessage(unsigned long error);

}  // namespace platform::win32
