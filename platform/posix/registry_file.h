#pragma once
// The registry-editor export format, parsed into keys and values.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace platform {

enum class RegistryType { String, ExpandString, Dword, Binary, Other };

struct RegistryValue {
    RegistryType type = RegistryType::Other;
    std::string text;         // String, ExpandString: UTF-8, without terminating zero
    std::uint32_t dword = 0;  // Dword
    std::string bytes;        // Binary and Other: the raw data
};

// Values by lower-case name ("" is the default value).
using RegistryValues = std::map<std::string, RegistryValue>;
// Keys under HKEY_LOCAL_MACHINE by lower-case path without the hive ("software\quelmar\orvane").
using RegistryKeys = std::map<std::string, RegistryValues>;

// Parses a whole export file: UTF-16LE with BOM or 8-bit/UTF-8, LF or CRLF. A file without the editor's header
// line has no keys. Lines that cannot be understood are skipped; keys of other hives and key deletions
// ("[-KEY]") are ignored together with the values under them. As an import would, a value given twice keeps
// the later one, and a value deletion ("NAME"=-) removes the value given before it.
RegistryKeys ParseRegistryFile(std::string_view content);

}  // namespace platform
