#pragma once
// Zip archives written by hand for tests: local headers only, which is all the program's reader walks.
#include <cstdint>
#include <string>

namespace testsupport {

// One local header followed by the member's data exactly as given (stored, deflated or deliberately wrong).
std::string LocalHeader(const std::string& name, uint16_t method, uint32_t crc, const std::string& data,
                        uint32_t uncompressedSize);
// The text deflated without a zlib wrapper, as zip members carry it.
std::string RawDeflate(const std::string& text);
// A correct deflated member holding the text.
std::string DeflatedMember(const std::string& name, const std::string& text);

}  // namespace testsupport
