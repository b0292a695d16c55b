#include "bench/dEM/release.h"

#include <zlib.h>

#include <cstdio>
#include <stdexcept>

#include "OVCommon/OVCommon.h"

namespace windowless_bench {

namespace {

void PutLittleEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string RawDeflate(const std::string& content) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&stream, content.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) throw std::runtime_error("deflate failed");
    return out;
}

// The fields a local header and a central-directory record share, from "version needed" to the name length.
void PutMemberFields(std::string& out, const std::string& name, std::uint32_t crc, std::size_t packed,
                     std::size_t size) {
    PutLittleEndian(out, 20, 2);      // version needed: deflate
    PutLittleEndian(out, 0, 2);       // flags
    PutLittleEndian(out, 8, 2);       // method: deflate
    PutLittleEndian(out, 0, 2);       // time
    PutLittleEndian(out, 0x21, 2);    // date: 1980-01-01
    PutLittleEndian(out, crc, 4);
    PutLittleEndian(out, static_cast<std::uint32_t>(packed), 4);
    PutLittleEndian(out, static_cast<std::uint32_t>(size), 4);
    PutLittleEndian(out, static_cast<std::uint32_t>(name.size()), 2);
}

std::string CrcText(std::uint32_t crc) {
    char text[16];
    std::snprintf(text, sizeof text, "$%08X", crc);
    return text;
}

}  // namespace

std::string FileContent(std::uint32_t seed, std::size_t size) {
    std::uint32_t state = seed * 2654435761u + 1;
    std::string content(size, '\0');
    for (char& c : content) {
        // xorshift32: cheap and good enough to keep the bytes from repeating.
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>('a' + (state & 15));
    }
    return content;
}

ReleaseFile DescribeFile(const std::string& fileName, const std::string& content, const std::string& download) {
    return {fileName, static_cast<std::int64_t>(content.size()), CrcUpdate(0, content.data(), content.size()),
            download};
}

std::string ZipPackage(const std::string& memberName, const std::string& content) {
    const std::string packed = RawDeflate(content);
    const auto crc = static_cast<std::uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(content.data()),
                                                        content.size()));
    std::string zip;
    PutLittleEndian(zip, 0x04034b50, 4);
    PutMemberFields(zip, memberName, crc, packed.size(), content.size());
    PutLittleEndian(zip, 0, 2);  // extra field length
    zip += memberName + packed;
    const auto directoryStart = static_cast<std::uint32_t>(zip.size());
    PutLittleEndian(zip, 0x02014b50, 4);
    PutLittleEndian(zip, 20, 2);  // version made by
    PutMemberFields(zip, memberName, crc, packed.size(), content.size());
    PutLittleEndian(zip, 0, 2);  // extra field length
    PutLittleEndian(zip, 0, 2);  // comment length
    PutLittleEndian(zip, 0, 2);  // disk number
    PutLittleEndian(zip, 0, 2);  // internal attributes
    PutLittleEndian(zip, 0, 4);  // external attributes
    PutLittleEndian(zip, 0, 4);  // offset of the local header
    zip += memberName;
    const auto directorySize = static_cast<std::uint32_t>(zip.size()) - directoryStart;
    PutLittleEndian(zip, 0x06054b50, 4);
    PutLittleEndian(zip, 0, 4);  // disk numbers
    PutLittleEndian(zip, 1, 2);  // entries on this disk
    PutLittleEndian(zip, 1, 2);  // entries
    PutLittleEndian(zip, directorySize, 4);
    PutLittleEndian(zip, directoryStart, 4);
    PutLittleEndian(zip, 0, 2);  // comment length
    return zip;
}

std::string CatalogueText(const std::string& documentElement, const std::vector<ReleaseFile>& files) {
    std::string text = "<" + documentElement + ">\r\n<update>\r\n<database>\r\n";
    for (const ReleaseFile& file : files) {
        text += "  <file><name>" + file.fileName + "</name><filename>" + file.fileName + "</filename><crc>" +
                CrcText(file.crc) + "</crc><size>" + std::to_string(file.size) +
                "</size><download>" + file.download + "</download></file>\r\n";
    }
    return text + "</database>\r\n</update>\r\n</" + documentElement + ">\r\n";
}

}  // namespace windowless_bench
