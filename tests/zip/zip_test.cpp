#include "zip/zip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "platform/stream.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zip_writer.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using testsupport::LocalHeader;
using testsupport::RawDeflate;
using testsupport::ZipArchive;

TZipFile Load(const std::string& path) {
    TZipFile zip;
    zip.LoadFromFile(path);
    return zip;
}

const std::string kTextA = "alpha alpha alpha alpha, the first member\n";
const std::string kTextB = "second member in a folder; second member in a folder\n";

}  // namespace

// Words in a pseudo-random order: text that deflates well, but not to almost nothing.
std::string WordSoup(int words) {
    const char* choices[] = {"update ", "package ", "member ", "folder\n"};
    std::string text;
    uint32_t state = 7;
    for (int i = 0; i < words; ++i) {
        state = state * 1103515245u + 12345u;
        text += choices[(state >> 16) % 4];
    }
    return text;
}

TEST(ZipFile, ListsAndExtractsMembersOfEveryKind) {
    TempDir dir;
    std::string big;
    for (int i = 0; i < 4000; ++i)
        for (int byte = 0; byte < 256; ++byte) big += static_cast<char>(byte);
    const std::string large = WordSoup(1500000);
    WriteFile(dir / "t.zip", ZipArchive({{"a.txt", kTextA},
                                         {"dir/b.txt", kTextB},
                                         {"empty.txt", ""},
                                         {"folder/", "", false},
                                         {"stored.bin", big, false},
                                         {"big.bin", big},
                                         {"large.txt", large}}));
    const TZipFile zip = Load(dir / "t.zip");
    ASSERT_EQ(zip.Count(), 7);
    EXPECT_EQ(zip.MemberName(0), "a.txt");
    EXPECT_EQ(zip.MemberName(1), "dir/b.txt");
    EXPECT_EQ(zip.MemberName(3), "folder/");
    EXPECT_EQ(zip.Extract(0), kTextA);
    EXPECT_EQ(zip.Extract(1), kTextB);
    EXPECT_EQ(zip.Extract(2), "");
    EXPECT_EQ(zip.Extract(3), "");
    EXPECT_EQ(zip.Extract(4), big);
    EXPECT_EQ(zip.Extract(5), big);
    // Several megabytes: the output grows while it is inflated and its CRC-32 is taken in slices.
    ASSERT_GT(large.size(), size_t{8} << 20);
    EXPECT_EQ(zip.Extract(6), large);
}

TEST(ZipFile, IndexOutsideTheListIsRefused) {
    TempDir dir;
    WriteFile(dir / "t.zip", ZipArchive({{"a.txt", "a", false}}));
    const TZipFile zip = Load(dir / "t.zip");
    ASSERT_EQ(zip.Count(), 1);
    for (int index : {-1, 1}) {
        try {
            zip.Extract(index);
            ADD_FAILURE() << "Extract(" << index << ") returned";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Index out of range.");
        }
        EXPECT_THROW(zip.MemberName(index), Exception);
    }
}

TEST(ZipFile, DamagedMemberFailsAndTheOthersStillExtract) {
    TempDir dir;
    std::string payload;
    for (int i = 0; i < 500; ++i) payload += "payload ";
    WriteFile(dir / "t.zip", ZipArchive({{"bin/app.dll", payload}, {"b.txt", "untouched"}}));
    std::string archive = ReadFile(dir / "t.zip");
    const size_t dataStart = 30 + std::string("bin/app.dll").size();
    std::string flipped = archive;
    flipped[dataStart + 3] = static_cast<char>(flipped[dataStart + 3] ^ 0x55);
    WriteFile(dir / "flipped.zip", flipped);
    const TZipFile damaged = Load(dir / "flipped.zip");
    EXPECT_ANY_THROW({
        try {
            damaged.Extract(0);
        } catch (const ECompressionError& e) {
            EXPECT_EQ(e.Message(), "Error");
            throw;
        } catch (const EZipFileCRCError& e) {
            EXPECT_EQ(e.Message(), "CRC Error in \"bin/app.dll\".");
            throw;
        }
    });
    EXPECT_EQ(damaged.Extract(1), "untouched");

    std::string badCrc = archive;
    badCrc[14] = static_cast<char>(badCrc[14] ^ 1);  // first byte of the header's CRC-32
    WriteFile(dir / "crc.zip", badCrc);
    try {
        Load(dir / "crc.zip").Extract(0);
        ADD_FAILURE() << "a wrong CRC-32 was accepted";
    } catch (const EZipFileCRCError& e) {
        EXPECT_EQ(e.Message(), "CRC Error in \"bin/app.dll\".");
    }
}

TEST(ZipFile, FindsMembersAfterAPrefixAndToleratesFilesWithoutMembers) {
    TempDir dir;
    WriteFile(dir / "t.zip", ZipArchive({{"a.txt", "after a prefix"}}));
    const std::string archive = ReadFile(dir / "t.zip");
    for (const std::string prefix : {"MZ!", "MZ\x90\x00stub", "#!/bin/sh\nexit 0\n"}) {
        WriteFile(dir / "sfx.zip", prefix + archive);
        const TZipFile zip = Load(dir / "sfx.zip");
        ASSERT_EQ(zip.Count(), 1) << prefix.size();
        EXPECT_EQ(zip.Extract(0), "after a prefix");
    }
    TZipFile zip = Load(dir / "t.zip");
    for (const std::string content : {"", "PK\x03", "no archive here at all"}) {
        WriteFile(dir / "none.zip", content);
        zip.LoadFromFile(dir / "none.zip");
        EXPECT_EQ(zip.Count(), 0) << content;
    }
    EXPECT_THROW(zip.LoadFromFile(dir / "missing.zip"), EFOpenError);
}

TEST(ZipFile, HostileHeadersFailWithTheMemberError) {
    TempDir dir;
    const std::string ten = RawDeflate("hello");
    // Claims 4 GB for a few bytes of data: the output grows only as data arrives, then the CRC check fails.
    WriteFile(dir / "huge.zip", LocalHeader("huge.bin", 8, ZipCrc32("hello"), ten, 0xFFFFFFFF) +
                                    LocalHeader("stored.bin", 0, ZipCrc32("abc"), "abc", 3) +
                                    LocalHeader("other.bin", 12, 0, "abc", 3) +
                                    LocalHeader("cut.bin", 0, ZipCrc32("abcdef"), "abcdef", 6).substr(0, 40));
    const TZipFile zip = Load(dir / "huge.zip");
    ASSERT_EQ(zip.Count(), 4);
    EXPECT_THROW(zip.Extract(0), EZipFileCRCError);
    EXPECT_EQ(zip.Extract(1), "abc");
    EXPECT_THROW(zip.Extract(2), ECompressionError);
    EXPECT_THROW(zip.Extract(3), EZipFileCRCError);
    EXPECT_EQ(zip.MemberName(3), "cut.bin");
}

// A stream that takes a given number of bytes and then fails, as a full disk does.
class FillingStream : public TMemoryStream {
public:
    explicit FillingStream(int64_t room) : room_(room) {}
    int64_t Write(const void* buffer, int64_t count) override {
        if (Size() + count > room_) throw EStreamError("Stream write error");
        return TMemoryStream::Write(buffer, count);
    }

private:
    int64_t room_;
};

// Large members are written on a helper thread: a failing write must still reach the caller, at any slice.
TEST(ZipFile, AFailingWriteEndsTheExtraction) {
    TempDir dir;
    std::string large;
    for (int i = 0; large.size() < (size_t{6} << 20); ++i) large += "line " + std::to_string(i * 31LL) + "\n";
    WriteFile(dir / "t.zip", testsupport::DeflatedMember("large.txt", large));
    const TZipFile zip = Load(dir / "t.zip");
    for (int64_t room : {int64_t{0}, int64_t{1} << 20, int64_t{5} << 20}) {
        FillingStream full(room);
        EXPECT_THROW(zip.ExtractTo(0, full), EStreamError) << room;
    }
}

TEST(ZipFile, Crc32IsTheZipChecksum) {
    EXPECT_EQ(ZipCrc32("abc"), 0x352441C2u);
    EXPECT_EQ(ZipCrc32(""), 0u);
}

// Extracting into a stream gives the bytes Extract gives, across slice boundaries and the blocks in which an
// archive's file is read, and the same failures, whether the archive is in memory or in its file.
TEST(ZipFile, ExtractToWritesWhatExtractReturnsAndFailsAlike) {
    TempDir dir;
    // Lines of pseudo-random numbers: they deflate to about half, so the data spans several blocks.
    std::string large;
    for (uint64_t state = 1; large.size() < (size_t{5} << 20) + 123;) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        large += "record " + std::to_string(state >> 20) + "\n";
    }
    const std::string stored = "kept as it is";
    const uint32_t storedSize = static_cast<uint32_t>(stored.size());
    const uint32_t largeSize = static_cast<uint32_t>(large.size());
    const std::string deflatedLarge = RawDeflate(large);
    ASSERT_GT(deflatedLarge.size(), size_t{3} << 19);  // more than one of the blocks a file is read in
    std::string damagedLarge = deflatedLarge;
    damagedLarge[(size_t{5} << 18) + 7] ^= 0x21;  // in a later block than the first
    const std::string archive = testsupport::DeflatedMember("large.txt", large) +
                                LocalHeader("stored.txt", 0, ZipCrc32(stored), stored, storedSize) +
                                LocalHeader("bigstored.txt", 0, ZipCrc32(large), large, largeSize) +
                                testsupport::DeflatedMember("empty.txt", "") +
                                LocalHeader("wrong.txt", 8, 1234, RawDeflate("not what the CRC says"), 21) +
                                LocalHeader("short.txt", 8, ZipCrc32(large), deflatedLarge.substr(0, 1000), largeSize) +
                                LocalHeader("damaged.txt", 8, ZipCrc32(large), damagedLarge, largeSize) +
                                LocalHeader("cut.txt", 8, ZipCrc32(large), deflatedLarge, largeSize);
    // The last member's data is cut off by the end of the file, in its second block.
    WriteFile(dir / "t.zip", archive.substr(0, archive.size() - deflatedLarge.size() + (size_t{3} << 19)));
    TZipFile fromBytes;
    fromBytes.LoadFromBytes(ReadFile(dir / "t.zip"));
    for (const TZipFile& zip : {Load(dir / "t.zip"), fromBytes}) {
        ASSERT_EQ(zip.Count(), 8);
        for (int index = 0; index < 4; ++index) {
            TMemoryStream streamed;
            zip.ExtractTo(index, streamed);
            EXPECT_EQ(streamed.Data(), zip.Extract(index)) << zip.MemberName(index);
        }
        EXPECT_EQ(zip.Extract(0), large);
        EXPECT_EQ(zip.Extract(2), large);
        for (int index : {4, 5, 6, 7}) {
            TMemoryStream streamed;
            try {
                zip.ExtractTo(index, streamed);
                ADD_FAILURE() << zip.MemberName(index) << " was extracted";
            } catch (const ECompressionError&) {
                EXPECT_EQ(zip.MemberName(index), "damaged.txt");  // a damaged stream may fail either way
            } catch (const EZipFileCRCError& e) {
                EXPECT_EQ(e.Message(), "CRC Error in \"" + zip.MemberName(index) + "\".");
            }
            EXPECT_ANY_THROW(zip.Extract(index)) << zip.MemberName(index);
        }
        EXPECT_TRUE(zip.Entries()[7].Truncated);
    }
}

// An archive read from its file keeps it open only while it is in use: once closed, it can be replaced.
TEST(ZipFile, CloseLetsGoOfTheFile) {
    TempDir dir;
    WriteFile(dir / "t.zip", ZipArchive({{"a.txt", kTextA}}));
    TZipFile zip = Load(dir / "t.zip");
    zip.Close();
    EXPECT_EQ(zip.Count(), 0);
    WriteFile(dir / "t.zip", ZipArchive({{"b.txt", kTextB}}));
    EXPECT_EQ(Load(dir / "t.zip").Extract(0), kTextB);
}
