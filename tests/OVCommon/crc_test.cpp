#include <gtest/gtest.h>

#include "OVCommon/OVCommon.h"
#include "tests/support/temp_dir.h"

namespace {

// The register updated one bit at a time, straight from the reflected polynomial.
uint32_t BitwiseCrc(uint32_t crc, const std::string& bytes) {
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

std::string PatternBytes(size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 7919 + i / 251) & 0xFF);
    return bytes;
}

TEST(CrcUpdate, IsThePlainRegisterAndChainsLikeOnePass) {
    EXPECT_EQ(CrcUpdate(0, "abc", 3), 0xCA6598D0u);
    EXPECT_EQ(CrcUpdate(0x12345678, "abc", 0), 0x12345678u);
    EXPECT_EQ(CrcUpdate(0x12345678, nullptr, 5), 0x12345678u);

    const std::string bytes = PatternBytes(1000);
    for (uint32_t start : {0u, 0xFFFFFFFFu, 0xDEADBEEFu}) {
        const uint32_t chained = CrcUpdate(CrcUpdate(start, bytes.data(), 333), bytes.data() + 333, 667);
        EXPECT_EQ(chained, CrcUpdate(start, bytes.data(), bytes.size()));
        EXPECT_EQ(chained, BitwiseCrc(start, bytes));
    }
}

// Long buffers take a folding path and leave a tail shorter than 16 bytes: every length and alignment around
// those boundaries gives the same register.
TEST(CrcUpdate, MatchesTheBitwiseRegisterForEveryLengthAndAlignment) {
    const std::string bytes = PatternBytes(600);
    for (size_t offset = 0; offset < 4; ++offset) {
        for (size_t length = 0; offset + length <= bytes.size(); ++length) {
            for (uint32_t start : {0u, 0xFFFFFFFFu, 0x5A5AC3C3u}) {
                const uint32_t expected = BitwiseCrc(start, bytes.substr(offset, length));
                ASSERT_EQ(CrcUpdate(start, bytes.data() + offset, length), expected)
                    << "offset " << offset << ", length " << length << ", start " << start;
            }
        }
    }
}

TEST(FileCrc, ReadsWholeFilesAndGivesZeroWhenUnreadable) {
    testsupport::TempDir folder;
    testsupport::WriteFile(folder / "abc", "abc");
    EXPECT_EQ(FileCrc(folder / "abc"), 0xCA6598D0u);
    testsupport::WriteFile(folder / "empty", "");
    EXPECT_EQ(FileCrc(folder / "empty"), 0u);
    EXPECT_EQ(FileCrc(folder / "missing"), 0u);
    EXPECT_EQ(FileCrc(folder.path()), 0u);

    for (size_t length : {size_t{1024}, size_t{65536}, size_t{200001}}) {
        const std::string bytes = PatternBytes(length);
        testsupport::WriteFile(folder / "data", bytes);
        EXPECT_EQ(FileCrc(folder / "data"), BitwiseCrc(0, bytes)) << length;
    }
}

}  // namespace
