#include "http/header_list.h"

#include <algorithm>
#include <cctype>

namespace httptext {

std::string Trim(const std::string& text) {
    auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    const auto first = std::find_if_not(text.begin(), text.end(), isSpace);
    const auto last = std::find_if_not(text.rbegin(), std::string::const_reverse_iterator(first), isSpace).base();
    return std::string(first, last);
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string LowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace httptext

namespace {

bool IsContinuation(const std::string& line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

bool HasName(const std::string& line, const std::string& name) {
    const auto colon = line.find(':');
    return colon != std::string::npos && httptext::SameText(line.substr(0, colon), name);
}

// Splits a line longer than FoldLength at the last blank within the limit (or the first one beyond it); the
// pieces after the first keep their blank in front, which makes them continuation lines.
void AppendFolded(const std::string& line, std::vector<std::string>& out) {
    std::string rest = line;
    while (rest.size() > TIdHeaderList::FoldLength) {
        // Never at the line's first blank: that would leave the name (or a lone blank) on a line of its own.
        const auto firstBlank = rest.find(' ');
        if (firstBlank == std::string::npos) break;
        auto cut = rest.rfind(' ', TIdHeaderList::FoldLength);
        if (cut <= firstBlank) cut = rest.find(' ', std::max(TIdHeaderList::FoldLength, firstBlank) + 1);
        if (cut == std::string::npos) break;
        out.push_back(rest.substr(0, cut));
        rest.erase(0, cut);
    }
    out.push_back(rest);
}

}  // namespace

void TIdHeaderList::Add(const std::string& name, const std::string& value) { lines_.push_back(name + ": " + value); }

int TIdHeaderList::IndexOfName(const std::string& name) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (!IsContinuation(lines_[i]) && HasName(lines_[i], name)) return static_cast<int>(i);
    }
    return -1;
}

std::size_t TIdHeaderList::ContinuationEnd(std::size_t index) const {
    std::size_t end = index + 1;
    while (end < lines_.size() && IsContinuation(lines_[end])) ++end;
    return end;
}

std::string TIdHeaderList::ValueAt(std::size_t index) const {
    const std::string& line = lines_[index];
    std::string value = httptext::Trim(line.substr(line.find(':') + 1));
    // A value may start on a continuation line ("Name:" alone, then " value").
    for (std::size_t i = index + 1; i < ContinuationEnd(index); ++i) {
        if (!value.empty()) value += ' ';
        value += httptext::Trim(lines_[i]);
    }
    return value;
}

std::string TIdHeaderList::Value(const std::string& name) const {
    const int index = IndexOfName(name);
    return index < 0 ? std::string() : ValueAt(static_cast<std::size_t>(index));
}

void TIdHeaderList::SetValue(const std::string& name, const std::string& value) {
    const int found = IndexOfName(name);
    if (found < 0) {
        if (!value.empty()) Add(name, value);
        return;
    }
    const auto index = static_cast<std::size_t>(found);
    const auto first = lines_.begin() + static_cast<std::ptrdiff_t>(index);
    lines_.erase(first + (value.empty() ? 0 : 1), lines_.begin() + static_cast<std::ptrdiff_t>(ContinuationEnd(index)));
    if (!value.empty()) lines_[index] = name + ": " + value;
}

std::vector<std::string> TIdHeaderList::Extract(const std::string& name) const {
    std::vector<std::string> values;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (!IsContinuation(lines_[i]) && HasName(lines_[i], name)) values.push_back(ValueAt(i));
    }
    return values;
}

std::vector<std::string> TIdHeaderList::FoldedLines() const {
    std::vector<std::string> out;
    for (const std::string& line : lines_) AppendFolded(line, out);
    return out;
}
