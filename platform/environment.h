#pragma once
// Environment variable references in texts.
#include <string>
#include <string_view>

namespace platform {

// Replaces every %NAME% by the variable's value. A name that is not set stays as written (%NAME%), and a '%'
// without a partner stays as it is.
std::string ExpandEnvironmentStrings(std::string_view text);

}  // namespace platform
