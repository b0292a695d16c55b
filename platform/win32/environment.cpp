#include "platform/environment.h"

#include "platform/win32/system.h"

#include "platform/win32/text.h"

namespace platform {

std::string ExpandEnvironmentStrings(std::string_view text) {
    const std::wstring wide = win32::Wide(text);
    std::wstring expanded(wide.size() + 1, L'\0');
    for (;;) {
        const DWORD needed = ExpandEnvironmentStringsW(wide.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
        if (needed == 0) return std::string(text);
        if (needed <= expanded.size()) {
            expanded.resize(needed - 1);  // the count includes the terminating zero
            return win32::Utf8(expanded);
        }
        expanded.resize(needed);
    }
}

}  // namespace platform
