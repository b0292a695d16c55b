#include "platform/process.h"

namespace platform {

namespace {

bool IsSeparator(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view text) {
    std::vector<std::string> arguments;
    std::size_t position = 0;
    for (;;) {
        while (position < text.size() && IsSeparator(text[position])) ++position;
        if (position == text.size()) return arguments;
        std::string argument;
        bool quoted = false;
        for (; position < text.size() && (quoted || !IsSeparator(text[position])); ++position) {
            if (text[position] == '"') {
                quoted = !quoted;
            } else {
                argument += text[position];
            }
        }
        arguments.push_back(std::move(argument));
    }
}

}  // namespace platform
