#pragma once
// Builds small Windows PE images with a version resource, for tests and fuzz seeds.
#include <cstdint>
#include <string>
#include <vector>

namespace pe {

// One node of the version information tree.
struct Node {
    std::u16string key;
    std::string value;  // raw bytes
    bool text = false;  // value is UTF-16 text (its length then counts UTF-16 units)
    std::vector<Node> children;
};

Node TextNode(const std::u16string& key, const std::u16string& text);
// VS_VERSION_INFO with a FileVersion string in a table named `table` and, unless empty, a translation.
Node VersionInfo(const std::u16string& table, const std::u16string& fileVersion,
                 const std::vector<std::uint32_t>& translations);
// The serialized tree (lengths and 4-byte alignment as the resource compiler writes them).
std::string Serialize(const Node& node);
// A PE image (PE32, or PE32+ when `wide`) with one .rsrc section holding `versionResource` as RT_VERSION.
std::string Image(const std::string& versionResource, bool wide = false);

}  // namespace pe
