#pragma once
// Small text helpers shared by the readers of the platform layer.
#include <string>
#include <string_view>

namespace platform::text {

// Without leading and trailing blanks and control characters.
std::string_view Trim(std::string_view text);
// ASCII letters compared without regard to case.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// ASCII letters in lower case.
std::string LowerCase(std::string_view text);
// The next line of `text` (without its LF or CRLF), advancing `text` past it. False when nothing is left.
bool NextLine(std::string_view& text, std::string_view& line);
// UTF-16LE code units (an odd last byte is ignored) as UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(std::string_view bytes);

}  // namespace platform::text
