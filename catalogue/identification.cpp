// Whether an installed file is the one the catalogue describes, and the version text of an executable.
#include "OVCommon/OVCommon.h"
#include "catalogue/catalogue.h"
#include "platform/files.h"
#include "platform/version_resource.h"

bool NeedsUpdate(const std::string& path, int32_t size, int32_t crc) { return NeedsUpdate(path, size, crc, std::nullopt); }

bool NeedsUpdate(const std::string& path, int32_t size, int32_t crc, const std::optional<std::string>& sha256) {
    if (size == 0) return platform::FileExists(path);
    // One open serves the existence, size and CRC tests; a missing or unreadable file always needs work.
    platform::File file;
    std::int64_t fileSize = -1;
    if (!file.OpenRead(path, fileSize) || fileSize != size) return true;
    if (!sha256) return FileCrc(file) != static_cast<uint32_t>(crc);
    const TFileDigest digest = ReadFileDigest(file);
    return digest.Crc != static_cast<uint32_t>(crc) || sha256->empty() || digest.Sha256 != *sha256;
}

std::string FileVersionString(const std::string& fileName) {
    if (!platform::FileExists(fileName)) return {};
    return StripBlanks(platform::FileVersionString(fileName));
}

std::string StripBlanks(const std::string& text) {
    std::string result;
    for (char c : text)
        if (static_cast<unsigned char>(c) > 32) result += c;
    return result;
}
