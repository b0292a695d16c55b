#include "tests/support/pe_builder.h"

namespace pe {

namespace {

constexpr std::uint32_t kSectionRva = 0x1000;
constexpr std::size_t kSectionFileOffset = 0x200;

void Put16(std::string& out, std::size_t offset, std::uint32_t value) {
    if (out.size() < offset + 2) out.resize(offset + 2, '\0');
    out[offset] = static_cast<char>(value & 0xFF);
    out[offset + 1] = static_cast<char>(value >> 8 & 0xFF);
}

void Put32(std::string& out, std::size_t offset, std::uint32_t value) {
    Put16(out, offset, value & 0xFFFF);
    Put16(out, offset + 2, value >> 16);
}

void Append16(std::string& out, std::uint32_t value) { Put16(out, out.size(), value); }

void Pad4(std::string& out) { out.resize((out.size() + 3) & ~std::size_t{3}, '\0'); }

std::string Utf16(const std::u16string& text) {
    std::string bytes;
    for (const char16_t unit : text) Append16(bytes, unit);
    return bytes;
}

// A resource directory with one entry per id, each pointing at `targets[i]` (flag included).
std::string Directory(const std::vector<std::uint32_t>& ids, const std::vector<std::uint32_t>& targets) {
    std::string out(16, '\0');
    Put16(out, 14, static_cast<std::uint32_t>(ids.size()));
    for (std::size_t index = 0; index < ids.size(); ++index) {
        Put32(out, out.size(), ids[index]);
        Put32(out, out.size(), targets[index]);
    }
    return out;
}

}  // namespace

Node TextNode(const std::u16string& key, const std::u16string& text) {
    return Node{key, Utf16(text + u'\0'), true, {}};
}

Node VersionInfo(const std::u16string& table, const std::u16string& fileVersion,
                 const std::vector<std::uint32_t>& translations) {
    Node strings{table, "", true, {TextNode(u"CompanyName", u"Quelmar"), TextNode(u"FileVersion", fileVersion)}};
    Node root{u"VS_VERSION_INFO", std::string(52, '\x01'), false,
              {Node{u"StringFileInfo", "", true, {strings}}}};
    if (!translations.empty()) {
        std::string value;
        for (const std::uint32_t translation : translations) Put32(value, value.size(), translation);
        root.children.push_back(Node{u"VarFileInfo", "", true, {Node{u"Translation", value, false, {}}}});
    }
    return root;
}

std::string Serialize(const Node& node) {
    std::string out(6, '\0');
    out += Utf16(node.key + u'\0');
    Pad4(out);
    out += node.value;
    for (const Node& child : node.children) {
        Pad4(out);
        out += Serialize(child);
    }
    Put16(out, 0, static_cast<std::uint32_t>(out.size()));
    Put16(out, 2, static_cast<std::uint32_t>(node.text ? node.value.size() / 2 : node.value.size()));
    Put16(out, 4, node.text ? 1 : 0);
    return out;
}

std::string Image(const std::string& versionResource, bool wide) {
    // The resource tree: type (an icon entry first, then RT_VERSION) -> name 1 -> language 0x409 -> data.
    std::string section = Directory({3, 16}, {0x80000000u | 0x20, 0x80000000u | 0x20});
    section += Directory({1}, {0x80000000u | 0x38});
    section += Directory({0x409}, {0x50});
    Put32(section, section.size(), kSectionRva + 0x60);
    Put32(section, section.size(), static_cast<std::uint32_t>(versionResource.size()));
    section.resize(0x60, '\0');
    section += versionResource;
    Pad4(section);

    const std::size_t optionalSize = wide ? 240 : 224;
    const std::size_t optional = 0x40 + 24;
    std::string image = "MZ";
    Put32(image, 0x3C, 0x40);
    Put32(image, 0x40, 0x00004550);
    Put16(image, 0x44, wide ? 0x8664 : 0x14C);
    Put16(image, 0x46, 1);
    Put16(image, 0x54, static_cast<std::uint32_t>(optionalSize));
    Put16(image, optional, wide ? 0x20B : 0x10B);
    const std::size_t directories = optional + (wide ? 112 : 96);
    Put32(image, directories - 4, 16);
    Put32(image, directories + 2 * 8, kSectionRva);
    Put32(image, directories + 2 * 8 + 4, static_cast<std::uint32_t>(section.size()));
    const std::size_t header = optional + optionalSize;
    image.resize(header, '\0');
    image += ".rsrc";
    Put32(image, header + 8, static_cast<std::uint32_t>(section.size()));
    Put32(image, header + 12, kSectionRva);
    Put32(image, header + 16, static_cast<std::uint32_t>(section.size()));
    Put32(image, header + 20, kSectionFileOffset);
    image.resize(kSectionFileOffset, '\0');
    return image + section;
}

}  // namespace pe
