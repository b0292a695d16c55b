#include "platform/version_resource.h"

#include "platform/win32/system.h"

#include <cwchar>
#include <vector>

#include "platform/win32/text.h"

namespace platform {

namespace {

// The first translation of the resource as the name of its string table, "040904b0" say.
std::wstring FirstTranslation(std::vector<char>& info) {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4) return {};
    const auto* words = static_cast<const WORD*>(value);
    wchar_t name[9] = {};
    std::swprintf(name, 9, L"%04x%04x", words[0], words[1]);
    return name;
}

}  // namespace

std::string FileVersionString(const std::string& path) {
    const std::wstring file = win32::Wide(path);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<char> info(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, info.data())) return {};
    const std::wstring table = FirstTranslation(info);
    if (table.empty()) return {};
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = L"\\StringFileInfo\\" + table + L"\\FileVersion";
    if (!VerQueryValueW(info.data(), query.c_str(), &value, &length) || length == 0) return {};
    const std::wstring_view text(static_cast<const wchar_t*>(value), length);
    return win32::Utf8(text.substr(0, text.find(L'\0')));
}

}  // namespace platform
