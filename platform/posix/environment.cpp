#include "platform/environment.h"

#include <cstdlib>

namespace platform {

std::string ExpandEnvironmentStrings(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t open = text.find('%', position);
        const std::size_t close = open == std::string_view::npos ? open : text.find('%', open + 1);
        if (close == std::string_view::npos) break;
        result.append(text.substr(position, open - position));
        const std::string name(text.substr(open + 1, close - open - 1));
        const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
        if (value != nullptr) {
            result += value;
        } else {
            result.append(text.substr(open, close - open + 1));
        }
        position = close + 1;
    }
    result.append(text.substr(position));
    return result;
}

}  // namespace platform
