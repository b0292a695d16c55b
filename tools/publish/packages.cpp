// The package of each file: a zip archive holding it deflated, or the file itself.
#include <fnmatch.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>

#include "OVCommon/OVCommon.h"
#include "platform/files.h"
#include "tools/publish/release.h"
#include "zip/zip.h"

namespace {

constexpr uint16_t kVersionNeeded = 20;  // deflate
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kDosDate1980 = (1 << 5) | 1;  // 1 January 1980, 00:00: the earliest time a zip can state

std::string LittleEndian(uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

std::string Deflated(const std::string& content) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw EPublishError("zlib cannot start compressing");
    std::string out(deflateBound(&stream, static_cast<uLong>(content.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) throw EPublishError("zlib cannot compress");
    return out;
}

// The fields the local header and the central directory record share, from "version needed" to the length of
// the extra field. Sizes and CRC stand in the local header, since the program's reader walks those alone.
std::string SharedHeaderFields(const std::string& name, uint32_t crc, size_t compressed, size_t size) {
    return LittleEndian(kVersionNeeded, 2) + LittleEndian(0, 2) + LittleEndian(kMethodDeflated, 2) +
           LittleEndian(0, 2) + LittleEndian(kDosDate1980, 2) + LittleEndian(crc, 4) +
           LittleEndian(static_cast<uint32_t>(compressed), 4) + LittleEndian(static_cast<uint32_t>(size), 4) +
           LittleEndian(static_cast<uint32_t>(name.size()), 2) + LittleEndian(0, 2);
}

bool WantedPlain(const TReleaseFile& file, const TPublishOptions& options) {
    return std::any_of(options.PlainPatterns.begin(), options.PlainPatterns.end(), [&](const std::string& pattern) {
        return fnmatch(pattern.c_str(), file.SourcePath.c_str(), 0) == 0;
    });
}

}  // namespace

std::string ReadReleaseFile(const TReleaseFile& file, const TPublishOptions& options) {
    const std::string path = (std::filesystem::path(options.Source) / file.SourcePath).string();
    std::string content;
    if (!platform::ReadWholeFile(path, content))
        throw EPublishError("cannot read " + path + ": " + std::strerror(errno));
    // A size of 0 tells the program to remove the file, and sizes are signed 32-bit numbers.
    if (content.empty())
        throw EPublishError(file.SourcePath + ": an empty file cannot be published, since a size of 0 removes it");
    if (content.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw EPublishError(file.SourcePath + ": larger than the 2 GB a catalogue size can state");
    return content;
}

namespace {

// Into the fresh web root: a path already taken means two files of the release share a package path.
void WriteNewFile(const std::string& webRoot, const std::string& path, const std::string& bytes) {
    const std::string target = webRoot + path;
    std::error_code error;
    if (std::filesystem::exists(target, error))
        throw EPublishError("two files of the release would share the package " + path);
    platform::File output;
    if (!platform::ForceDirectories(FolderOf(target)) || !output.Create(target) || !output.Write(bytes))
        throw EPublishError("cannot write " + target + ": " + std::strerror(errno));
}

}  // namespace

std::string ZipArchive(const std::string& memberName, const std::string& content) {
    const std::string data = Deflated(content);
    const std::string fields = SharedHeaderFields(memberName, ZipCrc32(content), data.size(), content.size());
    std::string archive = "PK\x03\x04" + fields + memberName + data;
    const size_t directoryStart = archive.size();
    // Version made by: MS-DOS, so no file attributes are claimed.
    archive += "PK\x01\x02" + LittleEndian(kVersionNeeded, 2) + fields + LittleEndian(0, 2) + LittleEndian(0, 2) +
               LittleEndian(0, 2) + LittleEndian(0, 4) + LittleEndian(0, 4) + memberName;
    const size_t directorySize = archive.size() - directoryStart;
    archive += "PK\x05\x06" + LittleEndian(0, 2) + LittleEndian(0, 2) + LittleEndian(1, 2) + LittleEndian(1, 2) +
               LittleEndian(static_cast<uint32_t>(directorySize), 4) +
               LittleEndian(static_cast<uint32_t>(directoryStart), 4) + LittleEndian(0, 2);
    return archive;
}

TPackage WritePackage(const TReleaseFile& file, const std::string& content, const TPublishOptions& options,
                      const std::string& webRoot) {
    // The program takes any download that starts with "PK" for a zip archive, so such a file goes zipped.
    const bool plain = WantedPlain(file, options) && !content.starts_with("PK");
    TPackage package;
    package.Path = "packages/" + KindName(file.Kind) + "/" + file.FileName + (plain ? "" : ".zip");
    package.Size = static_cast<int32_t>(content.size());
    package.Crc = CrcUpdate(0, content.data(), content.size());
    package.Sha256 = Sha256Hex(content);
    // The program unpacks flat and tests the member named like the entry's file.
    const std::string bytes = plain ? content : ZipArchive(FileNamePart(file.FileName), content);
    WriteNewFile(webRoot, package.Path, bytes);
    package.DownloadSize = static_cast<int64_t>(bytes.size());
    return package;
}
