#include "platform/registry.h"

#include <cstdlib>

#include "platform/exception.h"
#include "platform/files.h"
#include "platform/posix/registry_file.h"
#include "platform/common/text_util.h"

namespace platform {

struct RegistryKey::Values {
    RegistryValues byName;
};

namespace {

std::string NormalizedKeyPath(std::string_view path) {
    while (path.starts_with('\\')) path.remove_prefix(1);
    while (path.ends_with('\\')) path.remove_suffix(1);
    return text::LowerCase(path);
}

}  // namespace

std::string RegistryFilePath() {
    const char* path = std::getenv("ORVANE_HKLM");
    return path != nullptr && *path != '\0' ? path : "/etc/quelmar/hklm.reg";
}

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;

bool RegistryKey::OpenReadOnly(const std::string& keyPath) { return OpenReadOnly(keyPath, RegistryFilePath()); }

bool RegistryKey::OpenReadOnly(const std::string& keyPath, const std::string& registryFile) {
    Close();
    std::string content;
    if (!ReadWholeFile(registryFile, content)) return false;
    RegistryKeys keys = ParseRegistryFile(content);
    const auto key = keys.find(NormalizedKeyPath(keyPath));
    if (key == keys.end()) return false;
    values_ = std::make_unique<Values>(Values{std::move(key->second)});
    return true;
}

bool RegistryKey::IsOpen() const { return values_ != nullptr; }

void RegistryKey::Close() { values_.reset(); }

bool RegistryKey::ValueExists(const std::string& name) const {
    return values_ != nullptr && values_->byName.contains(text::LowerCase(name));
}

const RegistryValue& RegistryKey::Find(const std::string& name) const {
    if (values_ != nullptr) {
        const auto value = values_->byName.find(text::LowerCase(name));
        if (value != values_->byName.end()) return value->second;
    }
    throw Exception("Failed to get data for '" + name + "'");
}

std::uint32_t RegistryKey::ReadDword(const std::string& name) const {
    const RegistryValue& value = Find(name);
    if (value.type != RegistryType::Dword) throw Exception("Invalid data type for '" + name + "'");
    return value.dword;
}

std::string RegistryKey::ReadString(const std::string& name) const {
    const RegistryValue& value = Find(name);
    if (value.type != RegistryType::String && value.type != RegistryType::ExpandString) {
        throw Exception("Invalid data type for '" + name + "'");
    }
    return value.text;
}

}  // namespace platform
