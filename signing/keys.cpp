// Key text and the trusted keys of an installation.
#include <algorithm>

#include "platform/files.h"
#include "signing/signing.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

std::string HexText(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += {kHex[byte >> 4], kHex[byte & 15]};
    }
    return text;
}

std::string BytesFromHex(std::string_view text, std::size_t size, const std::string& what) {
    text = Trimmed(text);
    std::string bytes;
    for (std::size_t i = 0; i + 1 < text.size() && bytes.size() <= size; i += 2) {
        const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) break;
        bytes += static_cast<char>(high * 16 + low);
    }
    if (bytes.size() != size || text.size() != 2 * size)
        throw ESignatureError(what + " is not " + std::to_string(size) + " bytes of hex text");
    return bytes;
}

// Sorted by file name, so that a run reads them in the same order wherever it runs. A verifying installation never
// quietly trusts fewer keys, or none, than it was given: whatever stands in the way of reading them all raises.
std::vector<std::string> LoadTrustedKeys(const std::string& programFolder) {
    const std::string folder = programFolder + "OvKeys/";
    const std::string place = programFolder + "OvKeys";
    if (!platform::FileExists(place) && !platform::DirectoryExists(place)) return {};
    std::vector<platform::FolderEntry> entries;
    if (!platform::DirectoryExists(place)) throw ESignatureError("the key folder " + place + " is not a folder");
    if (!platform::ListFolder(folder, entries)) throw ESignatureError("the key folder " + place + " cannot be listed");
    std::vector<std::string> names;
    for (const platform::FolderEntry& entry : entries)
        if (!entry.isFolder && entry.name.size() > 4 && entry.name.ends_with(".pub")) names.push_back(entry.name);
    if (names.empty()) throw ESignatureError("the key folder " + place + " holds no *.pub key");
    std::sort(names.begin(), names.end());
    std::vector<std::string> keys;
    for (const std::string& name : names) {
        std::string text;
        if (!platform::ReadWholeFile(folder + name, text)) throw ESignatureError("cannot read the key " + folder + name);
        keys.push_back(BytesFromHex(text, 32, "the key " + folder + name));
    }
    return keys;
}
