#include "platform/registry.h"

#include "platform/win32/system.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "platform/exception.h"
#include "platform/win32/text.h"

namespace platform {

struct RegistryKey::Values {
    HKEY key = nullptr;
};

namespace {

// The value's type and bytes; false when the value cannot be read.
bool QueryValue(HKEY key, const std::string& name, DWORD& type, std::string& bytes) {
    const std::wstring wideName = win32::Wide(name);
    DWORD size = 0;
    if (RegQueryValueExW(key, wideName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    bytes.assign(size, '\0');
    const auto buffer = reinterpret_cast<BYTE*>(bytes.data());
    if (RegQueryValueExW(key, wideName.c_str(), nullptr, &type, buffer, &size) != ERROR_SUCCESS) return false;
    bytes.resize(size);
    return true;
}

// The bytes of a value of one of the accepted types, with the failures the callers report.
std::string ValueBytes(HKEY key, const std::string& name, std::initializer_list<DWORD> accepted) {
    DWORD type = REG_NONE;
    std::string bytes;
    if (key == nullptr || !QueryValue(key, name, type, bytes)) throw Exception("Failed to get data for '" + name + "'");
    if (std::find(accepted.begin(), accepted.end(), type) == accepted.end()) {
        throw Exception("Invalid data type for '" + name + "'");
    }
    return bytes;
}

}  // namespace

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() { Close(); }

bool RegistryKey::OpenReadOnly(const std::string& keyPath) {
    Close();
    HKEY key = nullptr;
    // The product is a 32-bit program: its installer writes the key in the 32-bit view, whatever this build is.
    constexpr REGSAM kAccess = KEY_READ | KEY_WOW64_32KEY;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, win32::Wide(keyPath).c_str(), 0, kAccess, &key) != ERROR_SUCCESS) {
        return false;
    }
    values_ = std::make_unique<Values>(Values{key});
    return true;
}

bool RegistryKey::IsOpen() const { return values_ != nullptr; }

void RegistryKey::Close() {
    if (values_ != nullptr) RegCloseKey(values_->key);
    values_.reset();
}

bool RegistryKey::ValueExists(const std::string& name) const {
    return values_ != nullptr &&
           RegQueryValueExW(values_->key, win32::Wide(name).c_str(), nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS;
}

std::uint32_t RegistryKey::ReadDword(const std::string& name) const {
    const std::string bytes = ValueBytes(values_ != nullptr ? values_->key : nullptr, name, {REG_DWORD});
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof value));
    return value;
}

std::string RegistryKey::ReadString(const std::string& name) const {
    const std::string bytes = ValueBytes(values_ != nullptr ? values_->key : nullptr, name, {REG_SZ, REG_EXPAND_SZ});
    std::wstring_view text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    return win32::Utf8(text.substr(0, text.find(L'\0')));  // up to the stored terminating zero, if any
}

}  // namespace platform
