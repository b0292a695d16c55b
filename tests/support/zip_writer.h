#pragma once
// Zip archives written by hand for tests: bare local headers, which is all the program's reader walks, or whole
// archives as common zip writers make them.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// One local header followed by the member's data exactly as given (stored, deflated or deliberately wrong).
std::string LocalHeader(const std::string& name, uint16_t method, uint32_t crc, const std::string& data,
                        uint32_t uncompressedSize);
// The text deflated without a zlib wrapper, as zip members carry it.
std::string RawDeflate(const std::string& text);
// A correct deflated member holding the text.
std::string DeflatedMember(const std::string& name, const std::string& text);

struct ZipMember {
    std::string name;
    std::string content;
    bool deflated = true;  // else stored
};
// A whole archive: each member's local header and data, then the central directory and its end record.
std::string ZipArchive(const std::vector<ZipMember>& members);

}  // namespace testsupport
