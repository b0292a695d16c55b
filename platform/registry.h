#pragma once
// The read-only machine registry: HKEY_LOCAL_MACHINE kept as a registry-editor export file.
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

struct RegistryValue;

// Path of the registry file: the environment variable ORVANE_HKLM, else /etc/quelmar/hklm.reg.
std::string RegistryFilePath();

// One key under HKEY_LOCAL_MACHINE, opened for reading only.
class RegistryKey {
public:
    RegistryKey();
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Opens the key (for example "SOFTWARE\Quelmar\Orvane", letter case ignored) from RegistryFilePath().
    // False, without error, when the file or the key is missing.
    bool OpenReadOnly(const std::string& keyPath);
    // The same from the given registry file.
    bool OpenReadOnly(const std::string& keyPath, const std::string& registryFile);
    bool IsOpen() const;
    void Close();

    // Value names ignore letter case; "" is the key's default value.
    bool ValueExists(const std::string& name) const;
    // A REG_DWORD value. Raises Exception "Invalid data type for 'NAME'" for another type, and
    // "Failed to get data for 'NAME'" when the value or the key is missing.
    std::uint32_t ReadDword(const std::string& name) const;
    // A REG_SZ or REG_EXPAND_SZ value, as stored (not expanded). Same failures as ReadDword.
    std::string ReadString(const std::string& name) const;

private:
    const RegistryValue& Find(const std::string& name) const;
    struct Values;
    std::unique_ptr<Values> values_;
};

}  // namespace platform
