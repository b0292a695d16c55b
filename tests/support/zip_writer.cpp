#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace testsupport {

namespace {

std::string LittleEndian(uint64_t value, int width) {
    std::string bytes;
    for (int i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

uint32_t Crc32(const std::string& text) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
}

}  // namespace

std::string LocalHeader(const std::string& name, uint16_t method, uint32_t crc, const std::string& data,
                        uint32_t uncompressedSize) {
    return std::string("PK\x03\x04", 4) + LittleEndian(20, 2) + LittleEndian(0, 2) + LittleEndian(method, 2) + LittleEndian(0, 4) + LittleEndian(crc, 4) +
           LittleEndian(data.size(), 4) + LittleEndian(uncompressedSize, 4) + LittleEndian(name.size(), 2) + LittleEndian(0, 2) + name + data;
}

std::string RawDeflate(const std::string& text) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, text.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::string DeflatedMember(const std::string& name, const std::string& text) {
    return LocalHeader(name, 8, Crc32(text), RawDeflate(text), static_cast<uint32_t>(text.size()));
}

std::string ZipArchive(const std::vector<ZipMember>& members) {
    std::string archive;
    std::string directory;
    for (const ZipMember& member : members) {
        const uint16_t method = member.deflated ? 8 : 0;
        const std::string data = member.deflated ? RawDeflate(member.content) : member.content;
        const uint32_t crc = Crc32(member.content);
        // made by, needed, flags, method, time, date, CRC, sizes, name length, extra, comment, disk, attributes
        directory += std::string("PK\x01\x02", 4) + LittleEndian(20, 2) + LittleEndian(20, 2) + LittleEndian(0, 2) + LittleEndian(method, 2) + LittleEndian(0, 4) +
                     LittleEndian(crc, 4) + LittleEndian(data.size(), 4) + LittleEndian(member.content.size(), 4) + LittleEndian(member.name.size(), 2) +
                     LittleEndian(0, 6) + LittleEndian(0, 2) + LittleEndian(0, 4) + LittleEndian(archive.size(), 4) + member.name;
        archive += LocalHeader(member.name, method, crc, data, static_cast<uint32_t>(member.content.size()));
    }
    const uint64_t count = members.size();
    return archive + directory + std::string("PK\x05\x06", 4) + LittleEndian(0, 4) + LittleEndian(count, 2) + LittleEndian(count, 2) +
           LittleEndian(directory.size(), 4) + LittleEndian(archive.size(), 4) + LittleEndian(0, 2);
}

}  // namespace testsupport
