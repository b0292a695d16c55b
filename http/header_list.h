#pragma once
// An ordered list of header lines "Name: value", used for request and response headers and as the parameter
// list of authorization schemes. Names are compared without regard to letter case; a line that begins with a
// blank or a tab continues the line before it.
#include <cstddef>
#include <string>
#include <vector>

// The text rules of header lines, shared by the rest of the HTTP client.
namespace httptext {
// Without leading and trailing characters up to the blank (blanks, tabs, CR, LF, controls).
std::string Trim(const std::string& text);
// Equal without regard to ASCII letter case.
bool SameText(const std::string& a, const std::string& b);
std::string LowerCase(std::string text);
}  // namespace httptext

class TIdHeaderList {
public:
    // Lines longer than this are folded at a blank when the list is written out.
    static constexpr std::size_t FoldLength = 1024;

    int Count() const { return static_cast<int>(lines_.size()); }
    const std::vector<std::string>& Lines() const { return lines_; }
    void Clear() { lines_.clear(); }

    // Appends a line exactly as given (a received header line, or a continuation line).
    void AddLine(const std::string& line) { lines_.push_back(line); }
    // Appends "name: value" even when the name is already present.
    void Add(const std::string& name, const std::string& value);

    // Index of the first line whose text before its first colon equals the name, -1 when none.
    int IndexOfName(const std::string& name) const;
    bool Contains(const std::string& name) const { return IndexOfName(name) >= 0; }
    // The value of the first line with the name: trimmed, with its continuation lines trimmed and joined by
    // one blank. Empty when the name is absent.
    std::string Value(const std::string& name) const;
    // Replaces the first line with the name in place (dropping its continuation lines) or appends a new one;
    // an empty value removes that line instead.
    void SetValue(const std::string& name, const std::string& value);
    // The values of every line with the name, in order.
    std::vector<std::string> Extract(const std::string& name) const;

    // The lines as they go on the wire: each longer than FoldLength split at blanks into continuation lines
    // that begin with a blank.
    std::vector<std::string> FoldedLines() const;

private:
    std::size_t ContinuationEnd(std::size_t index) const;
    std::string ValueAt(std::size_t index) const;

    std::vector<std::string> lines_;
};
