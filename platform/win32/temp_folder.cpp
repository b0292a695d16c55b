#include "platform/temp_folder.h"

#include "platform/win32/system.h"

#include "platform/exception.h"
#include "platform/win32/text.h"

namespace platform {

// Windows gives every user a temporary folder of their own already; it ends with '\'.
std::string PrivateTempFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) throw Exception("No temporary folder can be had");
    return win32::Utf8(std::wstring_view(folder, length));
}

// The user's own temporary folder needs no private fallback, so this process never makes one to remove.
void RemoveTempFallbackFolders() {}

}  // namespace platform
