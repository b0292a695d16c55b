#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace testsupport {

std::string LocalHeader(const std::string& name, uint16_t method, uint32_t crc, const std::string& data,
                        uint32_t uncompressedSize) {
    auto le = [](uint64_t value, int width) {
        std::string bytes;
        for (int i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
        return bytes;
    };
    return std::string("PK\x03\x04", 4) + le(20, 2) + le(0, 2) + le(method, 2) + le(0, 4) + le(crc, 4) +
           le(data.size(), 4) + le(uncompressedSize, 4) + le(name.size(), 2) + le(0, 2) + name + data;
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
    const auto crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(text.data()),
                                                 static_cast<uInt>(text.size())));
    return LocalHeader(name, 8, crc, RawDeflate(text), static_cast<uint32_t>(text.size()));
}

}  // namespace testsupport
