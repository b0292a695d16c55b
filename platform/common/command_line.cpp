#include "platform/process.h"

#include <algorithm>

namespace platform {

namespace {

bool IsSeparator(char c) { return static_cast<unsigned char>(c) <= ' '; }

// Only blanks and tabs end a program name; quotes in it group as in any argument.
bool EndsProgramName(char c) { return c == ' ' || c == '\t'; }

// The argument that starts at `position`, which is left after it: quotes toggle a stretch in which separators do
// not separate, and are removed.
template <typename Separator>
std::string TakeArgument(std::string_view text, std::size_t& position, Separator isSeparator) {
    std::string argument;
    bool quoted = false;
    for (; position < text.size() && (quoted || !isSeparator(text[position])); ++position) {
        if (text[position] == '"') {
            quoted = !quoted;
        } else {
            argument += text[position];
        }
    }
    return argument;
}

// Text for the Windows C runtime, which reads backslashes before a quote as escapes: such a run is doubled and
// the quote escaped. Other backslashes mean themselves.
void AppendEscaped(std::string& line, std::string_view text) {
    std::size_t backslashes = 0;
    for (const char c : text) {
        if (c == '"') {
            line.append(backslashes + 1, '\\');
            backslashes = 0;
        } else {
            backslashes = c == '\\' ? backslashes + 1 : 0;
        }
        line += c;
    }
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view text) {
    std::vector<std::string> arguments;
    std::size_t position = 0;
    for (;;) {
        while (position < text.size() && IsSeparator(text[position])) ++position;
        if (position == text.size()) return arguments;
        arguments.push_back(TakeArgument(text, position, IsSeparator));
    }
}

std::vector<std::string> SplitProgramCommandLine(std::string_view line) {
    std::size_t position = 0;
    std::string program = TakeArgument(line, position, EndsProgramName);
    std::vector<std::string> arguments = SplitCommandLine(line.substr(position));
    arguments.insert(arguments.begin(), std::move(program));
    return arguments;
}

std::string QuoteArgument(std::string_view argument) {
    const bool quoted = argument.empty() || std::any_of(argument.begin(), argument.end(), IsSeparator);
    // Trailing backslashes go after the closing quote: inside it the C runtime would take them for its escape.
    const std::size_t stem = argument.find_last_not_of('\\') + 1;
    std::string line = quoted ? "\"" : "";
    AppendEscaped(line, argument.substr(0, stem));
    if (quoted) line += '"';
    line += argument.substr(stem);
    return line;
}

}  // namespace platform
