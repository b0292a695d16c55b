#include "tests/support/crc_forgery.h"

#include <array>
#include <cstdint>

namespace testsupport {

std::string ForgedSameCrc(std::string content) {
    std::array<uint32_t, 256> table{};
    std::array<uint8_t, 256> byTopByte{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
        byTopByte[c >> 24] = static_cast<uint8_t>(i);
    }
    const auto forward = [&](uint32_t reg, const std::string& bytes) {
        for (const char b : bytes) reg = (reg >> 8) ^ table[(reg ^ static_cast<uint8_t>(b)) & 0xFF];
        return reg;
    };
    const uint32_t target = forward(0, content);
    content[0] = static_cast<char>(content[0] ^ 0x20);
    uint32_t wanted = target;
    for (int step = 0; step < 4; ++step) {
        const uint8_t index = byTopByte[wanted >> 24];
        wanted = ((wanted ^ table[index]) << 8) | index;
    }
    const uint32_t fix = wanted ^ forward(0, content.substr(0, content.size() - 4));
    for (int i = 0; i < 4; ++i) content[content.size() - 4 + i] = static_cast<char>((fix >> (8 * i)) & 0xFF);
    return content;
}

}  // namespace testsupport
