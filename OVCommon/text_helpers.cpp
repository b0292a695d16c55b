#include <cctype>
#include <optional>
#include <string_view>

#include "OVCommon/OVCommon.h"
#include "platform/files.h"
#include "platform/message_box.h"

namespace {

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

uint32_t HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
    return static_cast<uint32_t>(c - 'A' + 10);
}

// Up to 8 hexadecimal digits taken as a 32-bit pattern.
std::optional<uint32_t> ParseHex(std::string_view digits) {
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    uint32_t value = 0;
    for (char c : digits) {
        if (!IsHexDigit(c)) return std::nullopt;
        value = value << 4 | HexDigitValue(c);
    }
    return value;
}

// Decimal digits whose magnitude fits the signed range of the given sign.
std::optional<int64_t> ParseDecimal(std::string_view digits, bool negative) {
    if (digits.empty()) return std::nullopt;
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > limit) return std::nullopt;
    }
    return negative ? -value : value;
}

// The length of a hexadecimal prefix at the position, 0 when there is none.
size_t HexPrefixLength(std::string_view text, size_t pos) {
    if (pos < text.size() && (text[pos] == '$' || text[pos] == 'x' || text[pos] == 'X')) return 1;
    if (text.substr(pos, 2) == "0x" || text.substr(pos, 2) == "0X") return 2;
    return 0;
}

}  // namespace

std::string AddBackslash(const std::string& folder) {
    if (folder.empty() || IsPathSeparator(folder.back())) return folder;
    return folder + platform::kPathDelimiter;
}

std::string TrimChar(const std::string& text, char character) {
    const size_t first = text.find_first_not_of(character);
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(character);
    return text.substr(first, last - first + 1);
}

std::optional<int32_t> TryTextToInt(const std::string& text) {
    // Only spaces lead in: a tab or line break before the number makes the text invalid.
    size_t pos = text.find_first_not_of(' ');
    if (pos == std::string::npos) return std::nullopt;
    const bool negative = text[pos] == '-';
    if (text[pos] == '-' || text[pos] == '+') ++pos;
    if (const size_t prefix = HexPrefixLength(text, pos)) {
        const auto pattern = ParseHex(std::string_view(text).substr(pos + prefix));
        if (!pattern) return std::nullopt;
        return static_cast<int32_t>(negative ? 0u - *pattern : *pattern);
    }
    const auto value = ParseDecimal(std::string_view(text).substr(pos), negative);
    if (!value) return std::nullopt;
    return static_cast<int32_t>(*value);
}

int32_t TextToInt(const std::string& text, int32_t defaultValue) { return TryTextToInt(text).value_or(defaultValue); }

AppMessageBoxHandler AppMessageBoxFunction = platform::ShowMessageBox;

int AppMessageBox(const std::string& text, unsigned style) { return AppMessageBoxFunction(text, style); }

namespace {

// One "%[-][width][.precision]type" directive; type is d or s (either case).
struct FormatDirective {
    bool leftAligned = false;
    size_t width = 0;
    std::optional<size_t> precision;
    char type = 0;
};

size_t ReadCount(const std::string& text, size_t& pos) {
    size_t value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && value < 100000)
        value = value * 10 + static_cast<size_t>(text[pos++] - '0');
    return value;
}

std::optional<FormatDirective> ReadDirective(const std::string& text, size_t& pos) {
    FormatDirective directive;
    if (pos < text.size() && text[pos] == '-') {
        directive.leftAligned = true;
        ++pos;
    }
    directive.width = ReadCount(text, pos);
    if (pos < text.size() && text[pos] == '.') directive.precision = ReadCount(text, ++pos);
    if (pos >= text.size()) return std::nullopt;
    directive.type = static_cast<char>(std::tolower(static_cast<unsigned char>(text[pos++])));
    return directive;
}

// A number with at least the given count of digits, zeros filled in after its sign.
std::string NumberText(int64_t value, size_t minimumDigits) {
    std::string text = std::to_string(value);
    const size_t sign = value < 0 ? 1 : 0;
    if (text.size() - sign < minimumDigits) text.insert(sign, minimumDigits - (text.size() - sign), '0');
    return text;
}

// The argument as the directive writes it; nothing when the two do not fit together. A precision is the least
// count of digits of a number and the most characters of a text.
std::optional<std::string> Converted(const FormatDirective& directive, const TFormatArg& argument) {
    const bool isNumber = std::holds_alternative<int64_t>(argument);
    if (directive.type != (isNumber ? 'd' : 's')) return std::nullopt;
    std::string text = isNumber ? NumberText(std::get<int64_t>(argument), directive.precision.value_or(0))
                                : std::get<std::string>(argument);
    if (!isNumber && directive.precision && text.size() > *directive.precision) text.resize(*directive.precision);
    if (text.size() < directive.width) {
        const std::string padding(directive.width - text.size(), ' ');
        text = directive.leftAligned ? text + padding : padding + text;
    }
    return text;
}

}  // namespace

std::string FormatText(const std::string& format, const std::vector<TFormatArg>& arguments) {
    const auto invalid = [&format] {
        return EConvertError("Format '" + format + "' invalid or incompatible with argument");
    };
    std::string result;
    size_t next = 0;
    for (size_t pos = 0; pos < format.size();) {
        if (format[pos] != '%') {
            result += format[pos++];
            continue;
        }
        if (format.compare(pos, 2, "%%") == 0) {
            result += '%';
            pos += 2;
            continue;
        }
        const auto directive = ReadDirective(format, ++pos);
        if (!directive || next >= arguments.size()) throw invalid();
        const auto converted = Converted(*directive, arguments[next++]);
        if (!converted) throw invalid();
        result += *converted;
    }
    return result;
}
