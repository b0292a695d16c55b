#include "platform/version_resource.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "platform/common/text_util.h"

namespace platform {

namespace {

constexpr std::uint32_t kResourceTypeVersion = 16;
constexpr std::size_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kBlockHeaderSize = 6;

// Little-endian reads that fail instead of reading past the end.
class Bytes {
public:
    explicit Bytes(std::string_view data) : data_(data) {}
    std::optional<std::uint32_t> U16(std::size_t offset) const { return Number(offset, 2); }
    std::optional<std::uint32_t> U32(std::size_t offset) const { return Number(offset, 4); }
    bool Contains(std::size_t offset, std::size_t length) const {
        return offset <= data_.size() && length <= data_.size() - offset;
    }
    std::string_view Slice(std::size_t offset, std::size_t length) const { return data_.substr(offset, length); }

private:
    std::optional<std::uint32_t> Number(std::size_t offset, std::size_t width) const {
        if (!Contains(offset, width)) return std::nullopt;
        std::uint32_t value = 0;
        for (std::size_t index = width; index-- > 0;) {
            value = value << 8 | static_cast<unsigned char>(data_[offset + index]);
        }
        return value;
    }
    std::string_view data_;
};

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
};

// The parts of the PE headers the resource lookup needs.
struct Image {
    std::uint32_t resourceRva = 0;
    std::vector<Section> sections;
};

std::optional<std::uint32_t> ResourceDirectoryRva(const Bytes& file, std::size_t optionalHeader) {
    const auto magic = file.U16(optionalHeader);
    if (!magic || (*magic != kPe32Magic && *magic != kPe32PlusMagic)) return std::nullopt;
    const std::size_t countOffset = optionalHeader + (*magic == kPe32Magic ? 92 : 108);
    const auto count = file.U32(countOffset);
    if (!count || *count <= kResourceDirectoryIndex) return std::nullopt;
    return file.U32(countOffset + 4 + 8 * kResourceDirectoryIndex);
}

std::optional<Image> ReadHeaders(const Bytes& file) {
    const auto mz = file.U16(0);
    const auto peOffset = file.U32(0x3C);
    if (!mz || *mz != 0x5A4D || !peOffset) return std::nullopt;
    const auto signature = file.U32(*peOffset);
    const auto sectionCount = file.U16(std::size_t{*peOffset} + 6);
    const auto optionalSize = file.U16(std::size_t{*peOffset} + 20);
    if (!signature || *signature != 0x00004550 || !sectionCount || !optionalSize) return std::nullopt;
    const std::size_t optionalHeader = std::size_t{*peOffset} + 24;
    Image image;
    const auto resourceRva = ResourceDirectoryRva(file, optionalHeader);
    if (!resourceRva || *resourceRva == 0) return std::nullopt;
    image.resourceRva = *resourceRva;
    const std::size_t table = optionalHeader + *optionalSize;
    if (!file.Contains(table, kSectionHeaderSize * *sectionCount)) return std::nullopt;
    for (std::size_t index = 0; index < *sectionCount; ++index) {
        const std::size_t header = table + index * kSectionHeaderSize;
        image.sections.push_back({*file.U32(header + 12), *file.U32(header + 8), *file.U32(header + 16),
                                  *file.U32(header + 20)});
    }
    return image;
}

// The file offset of `length` bytes at a relative virtual address, when they lie in one section's raw data.
std::optional<std::size_t> FileOffset(const Image& image, std::uint32_t rva, std::size_t length) {
    for (const Section& section : image.sections) {
        if (rva < section.virtualAddress) continue;
        const std::size_t intoSection = rva - section.virtualAddress;
        if (intoSection >= std::max(section.virtualSize, section.rawSize)) continue;
        if (intoSection > section.rawSize || length > section.rawSize - intoSection) return std::nullopt;
        return std::size_t{section.rawOffset} + intoSection;
    }
    return std::nullopt;
}

// The target of the first directory entry (or of the entry with `id`) of the resource directory at `offset`.
std::optional<std::uint32_t> DirectoryEntry(const Bytes& file, std::size_t offset, std::optional<std::uint32_t> id) {
    const auto named = file.U16(offset + 12);
    const auto ids = file.U16(offset + 14);
    if (!named || !ids) return std::nullopt;
    for (std::size_t index = 0; index < std::size_t{*named} + *ids; ++index) {
        const std::size_t entry = offset + 16 + 8 * index;
        const auto name = file.U32(entry);
        const auto target = file.U32(entry + 4);
        if (!name || !target) return std::nullopt;
        if (!id || (index >= *named && *name == *id)) return target;
    }
    return std::nullopt;
}

// The bytes of the first version resource.
std::optional<std::string_view> VersionResource(const Bytes& file, const Image& image) {
    const auto root = FileOffset(image, image.resourceRva, 16);
    if (!root) return std::nullopt;
    std::size_t directory = *root;
    std::optional<std::uint32_t> wanted = kResourceTypeVersion;
    for (int level = 0; level < 3; ++level) {
        const auto target = DirectoryEntry(file, directory, wanted);
        if (!target || (level < 2) != ((*target & kSubdirectoryFlag) != 0)) return std::nullopt;
        directory = *root + (*target & ~kSubdirectoryFlag);
        wanted.reset();
    }
    const auto dataRva = file.U32(directory);
    const auto dataSize = file.U32(directory + 4);
    if (!dataRva || !dataSize) return std::nullopt;
    const auto data = FileOffset(image, *dataRva, *dataSize);
    if (!data || !file.Contains(*data, *dataSize)) return std::nullopt;
    return file.Slice(*data, *dataSize);
}

// One node of the version information tree: a length, a value length, a type, a UTF-16 key, the value and the
// child nodes, each part aligned to 4 bytes from the start of the resource.
struct Block {
    std::string key;
    std::size_t valueStart = 0;
    std::size_t valueLength = 0;  // in bytes, taken from the header (text values count UTF-16 units)
    std::size_t childrenStart = 0;
    std::size_t end = 0;
};

std::size_t Align4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

std::optional<Block> ReadBlock(const Bytes& resource, std::size_t offset, std::size_t limit) {
    const auto length = resource.U16(offset);
    const auto valueLength = resource.U16(offset + 2);
    const auto type = resource.U16(offset + 4);
    if (!length || !valueLength || !type || *length < kBlockHeaderSize || *length > limit - offset) {
        return std::nullopt;
    }
    Block block;
    block.end = offset + *length;
    std::size_t keyEnd = offset + kBlockHeaderSize;
    while (keyEnd + 2 <= block.end && *resource.U16(keyEnd) != 0) keyEnd += 2;
    if (keyEnd + 2 > block.end) return std::nullopt;
    block.key = text::Utf16LeToUtf8(resource.Slice(offset + kBlockHeaderSize, keyEnd - offset - kBlockHeaderSize));
    block.valueStart = std::min(Align4(keyEnd + 2), block.end);
    block.valueLength = std::min<std::size_t>(*valueLength * (*type == 1 ? 2 : 1), block.end - block.valueStart);
    block.childrenStart = std::min(Align4(block.valueStart + block.valueLength), block.end);
    return block;
}

// The first child whose key equals `key` (letter case ignored), or the first child at all for an empty key.
std::optional<Block> Child(const Bytes& resource, const Block& parent, std::string_view key) {
    for (std::size_t offset = parent.childrenStart; offset + kBlockHeaderSize <= parent.end;) {
        const auto child = ReadBlock(resource, offset, parent.end);
        if (!child) return std::nullopt;
        if (key.empty() || text::EqualsIgnoreCase(child->key, key)) return child;
        offset = Align4(child->end);
    }
    return std::nullopt;
}

// "\VarFileInfo\Translation": the first language and code page as the name of their string table.
std::optional<std::string> TranslationTableName(const Bytes& resource, const Block& root) {
    const auto varFileInfo = Child(resource, root, "VarFileInfo");
    const auto translation = varFileInfo ? Child(resource, *varFileInfo, "Translation") : std::nullopt;
    if (!translation || translation->valueLength < 4) return std::nullopt;
    char name[16];
    std::snprintf(name, sizeof name, "%04x%04x", *resource.U16(translation->valueStart),
                  *resource.U16(translation->valueStart + 2));
    return std::string(name);
}

std::string TextValue(const Bytes& resource, const Block& block) {
    std::string text = text::Utf16LeToUtf8(resource.Slice(block.valueStart, block.valueLength));
    const std::size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
}

std::string FileVersionOfResource(std::string_view data) {
    const Bytes resource(data);
    const auto root = ReadBlock(resource, 0, data.size());
    if (!root) return {};
    const auto stringFileInfo = Child(resource, *root, "StringFileInfo");
    if (!stringFileInfo) return {};
    // Only the first translation's table counts; other tables are never tried.
    const auto tableName = TranslationTableName(resource, *root);
    const auto table = tableName ? Child(resource, *stringFileInfo, *tableName) : std::nullopt;
    const auto fileVersion = table ? Child(resource, *table, "FileVersion") : std::nullopt;
    return fileVersion ? TextValue(resource, *fileVersion) : std::string();
}

}  // namespace

std::string FileVersionFromImage(std::string_view image) {
    const Bytes file(image);
    const auto headers = ReadHeaders(file);
    if (!headers) return {};
    const auto resource = VersionResource(file, *headers);
    return resource ? FileVersionOfResource(*resource) : std::string();
}

}  // namespace platform
