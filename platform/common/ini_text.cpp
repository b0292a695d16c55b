#include "platform/ini.h"

#include "platform/common/text_util.h"

namespace platform {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The section name of a "[name]" line, or nothing when the line is not a section header.
bool SectionName(std::string_view line, std::string_view& name) {
    if (line.empty() || line.front() != '[') return false;
    const std::size_t close = line.find(']');
    name = text::Trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    return true;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace

std::string ProfileStringFromText(std::string_view text, std::string_view section, std::string_view key,
                                  const std::string& defaultValue) {
    if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
    bool inSection = false;
    bool sectionSeen = false;
    std::string_view line;
    while (text::NextLine(text, line)) {
        line = text::Trim(line);
        if (line.empty() || line.front() == ';') continue;
        std::string_view name;
        if (SectionName(line, name)) {
            // Only the first section of that name is searched.
            if (sectionSeen) return defaultValue;
            inSection = sectionSeen = text::EqualsIgnoreCase(name, text::Trim(section));
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos) continue;
        if (text::EqualsIgnoreCase(text::Trim(line.substr(0, equals)), text::Trim(key))) {
            return std::string(Unquote(text::Trim(line.substr(equals + 1))));
        }
    }
    return defaultValue;
}

}  // namespace platform
