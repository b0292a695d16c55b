#include "platform/posix/registry_file.h"

#include <optional>
#include <vector>

#include "platform/common/text_util.h"

namespace platform {

namespace {

constexpr std::string_view kUtf16Bom = "\xFF\xFE";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kHeaderVersion5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeaderVersion4 = "REGEDIT4";
constexpr std::string_view kHive = "HKEY_LOCAL_MACHINE";

// Raw type numbers of "hex(n):" data.
constexpr unsigned kTypeString = 1;
constexpr unsigned kTypeExpandString = 2;
constexpr unsigned kTypeBinary = 3;
constexpr unsigned kTypeDword = 4;

struct ParsedLine {
    std::string name;
    std::optional<RegistryValue> value;  // empty for a deletion
};

std::string DecodeFile(std::string_view content) {
    if (content.starts_with(kUtf16Bom)) return text::Utf16LeToUtf8(content.substr(kUtf16Bom.size()));
    if (content.starts_with(kUtf8Bom)) content.remove_prefix(kUtf8Bom.size());
    return std::string(content);
}

// The physical lines joined where a line ends with a backslash (long hex data).
std::vector<std::string> LogicalLines(std::string_view content) {
    std::vector<std::string> lines;
    std::string pending;
    bool continues = false;
    std::string_view line;
    while (text::NextLine(content, line)) {
        std::string_view trimmed = text::Trim(line);
        if (!continues) pending.clear();
        continues = trimmed.ends_with('\\');
        if (continues) trimmed.remove_suffix(1);
        pending += trimmed;
        if (!continues) lines.push_back(pending);
    }
    if (continues) lines.push_back(pending);
    return lines;
}

// A quoted text with \\ and \" escapes at the start of `line`; `line` is advanced past the closing quote.
std::optional<std::string> QuotedText(std::string_view& line) {
    if (!line.starts_with('"')) return std::nullopt;
    std::string result;
    for (std::size_t position = 1; position < line.size(); ++position) {
        const char c = line[position];
        if (c == '"') {
            line.remove_prefix(position + 1);
            return result;
        }
        if (c == '\\' && position + 1 < line.size() && (line[position + 1] == '\\' || line[position + 1] == '"')) {
            ++position;
        }
        result += line[position];
    }
    return std::nullopt;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::uint32_t> HexNumber(std::string_view digits, std::size_t maxDigits) {
    if (digits.empty() || digits.size() > maxDigits) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

// "aa,bb,cc" (blanks allowed around each byte, a trailing comma tolerated).
std::optional<std::string> HexBytes(std::string_view list) {
    std::string bytes;
    while (!text::Trim(list).empty()) {
        const std::size_t comma = list.find(',');
        const auto byte = HexNumber(text::Trim(list.substr(0, comma)), 2);
        if (!byte) return std::nullopt;
        bytes += static_cast<char>(*byte);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return bytes;
}

// Text stored as bytes: UTF-16LE in version 5 files, 8-bit in REGEDIT4 files; ends at the first zero.
std::string StoredText(const std::string& bytes, bool wideText) {
    std::string decoded = wideText ? text::Utf16LeToUtf8(bytes) : bytes;
    const std::size_t zero = decoded.find('\0');
    if (zero != std::string::npos) decoded.resize(zero);
    return decoded;
}

std::optional<RegistryValue> TypedHexValue(unsigned type, std::string bytes, bool wideText) {
    RegistryValue value;
    if (type == kTypeString || type == kTypeExpandString) {
        value.type = type == kTypeString ? RegistryType::String : RegistryType::ExpandString;
        value.text = StoredText(bytes, wideText);
    } else if (type == kTypeDword) {
        if (bytes.size() != 4) return std::nullopt;
        value.type = RegistryType::Dword;
        for (auto byte = bytes.rbegin(); byte != bytes.rend(); ++byte) {
            value.dword = value.dword << 8 | static_cast<unsigned char>(*byte);
        }
    } else {
        value.type = type == kTypeBinary ? RegistryType::Binary : RegistryType::Other;
        value.bytes = std::move(bytes);
    }
    return value;
}

// "hex:..." or "hex(n):..." data.
std::optional<RegistryValue> HexValue(std::string_view data, bool wideText) {
    data.remove_prefix(3);
    unsigned type = kTypeBinary;
    if (data.starts_with('(')) {
        const std::size_t close = data.find(')');
        if (close == std::string_view::npos) return std::nullopt;
        const auto number = HexNumber(data.substr(1, close - 1), 8);
        if (!number) return std::nullopt;
        type = *number;
        data.remove_prefix(close + 1);
    }
    if (!data.starts_with(':')) return std::nullopt;
    auto bytes = HexBytes(data.substr(1));
    if (!bytes) return std::nullopt;
    return TypedHexValue(type, std::move(*bytes), wideText);
}

std::optional<RegistryValue> ValueData(std::string_view data, bool wideText) {
    if (data.starts_with('"')) {
        auto textValue = QuotedText(data);
        if (!textValue || !text::Trim(data).empty()) return std::nullopt;
        return RegistryValue{RegistryType::String, std::move(*textValue), 0, {}};
    }
    if (text::LowerCase(data.substr(0, 6)) == "dword:") {
        const auto number = HexNumber(text::Trim(data.substr(6)), 8);
        if (!number) return std::nullopt;
        return RegistryValue{RegistryType::Dword, {}, *number, {}};
    }
    if (text::LowerCase(data.substr(0, 3)) == "hex") return HexValue(data, wideText);
    return std::nullopt;
}

// A value line; nothing when the line is not understood.
std::optional<ParsedLine> ValueLine(std::string_view line, bool wideText) {
    ParsedLine parsed;
    if (line.starts_with('@')) {
        line.remove_prefix(1);
    } else {
        auto name = QuotedText(line);
        if (!name) return std::nullopt;
        parsed.name = std::move(*name);
    }
    line = text::Trim(line);
    if (!line.starts_with('=')) return std::nullopt;
    line = text::Trim(line.substr(1));
    if (line == "-") return parsed;
    parsed.value = ValueData(line, wideText);
    if (!parsed.value) return std::nullopt;
    return parsed;
}

// The key of a section line under HKEY_LOCAL_MACHINE, lower case; nothing for other hives and deletions.
std::optional<std::string> SectionKey(std::string_view line) {
    std::string_view path = text::Trim(line.substr(1, line.size() - 2));
    const std::size_t slash = path.find('\\');
    if (!text::EqualsIgnoreCase(path.substr(0, slash), kHive)) return std::nullopt;
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    while (path.ends_with('\\')) path.remove_suffix(1);
    return text::LowerCase(path);
}

}  // namespace

RegistryKeys ParseRegistryFile(std::string_view content) {
    RegistryKeys keys;
    const std::vector<std::string> lines = LogicalLines(DecodeFile(content));
    std::size_t index = 0;
    while (index < lines.size() && lines[index].empty()) ++index;
    if (index == lines.size()) return keys;
    const bool wideText = lines[index] == kHeaderVersion5;
    if (!wideText && lines[index] != kHeaderVersion4) return keys;
    RegistryValues* current = nullptr;
    for (++index; index < lines.size(); ++index) {
        const std::string_view line = lines[index];
        if (line.empty() || line.starts_with(';')) continue;
        if (line.starts_with('[') && line.ends_with(']')) {
            const auto key = SectionKey(line);
            current = key ? &keys[*key] : nullptr;
        } else if (current != nullptr) {
            if (auto parsed = ValueLine(line, wideText)) {
                const std::string name = text::LowerCase(parsed->name);
                if (parsed->value) {
                    (*current)[name] = std::move(*parsed->value);
                } else {
                    current->erase(name);
                }
            }
        }
    }
    return keys;
}

}  // namespace platform
