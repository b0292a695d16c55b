// Peak memory with a large database: a cold mirror run fetching a 600 MB database, zipped to about 460 MB, from
// nginx on loopback, a client run copying it from the shared folder into a program folder, and the scheduled
// wizard (its window on Qt's offscreen platform) installing the same package into another. Each peak is the max
// RSS of the run (wait4, through the child meter) against a limit of 128 MiB.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "bench/common/measure.h"
#include "bench/dEM/child_run.h"
#include "bench/dEM/release.h"
#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace windowless_bench;
namespace fs = std::filesystem;

constexpr std::size_t kDatabaseSize = 600'000'000;
constexpr std::size_t kChunk = std::size_t{1} << 20;
constexpr long kLimitKiB = 128 * 1024;
const std::string kMemberName = "large.db";

// Records of 64 bytes: 44 random bytes, then a part that repeats from record to record with a few variations,
// so that the package comes to about three quarters of the file, as real databases of signatures do.
class DatabaseContent {
public:
    std::string Next(std::size_t size) {
        std::string chunk(size, '\0');
        for (std::size_t i = 0; i < size; ++i, ++position_) {
            const std::size_t inRecord = position_ % 64;
            state_ ^= state_ << 13;
            state_ ^= state_ >> 17;
            state_ ^= state_ << 5;
            chunk[i] = inRecord < 44 ? static_cast<char>(state_) : "record;kind=sig;v1;"[inRecord % 19 + (state_ & 1)];
        }
        return chunk;
    }

private:
    std::uint32_t state_ = 2463534242u;
    std::size_t position_ = 0;
};

void PutLe(std::string& bytes, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string Header(std::uint32_t signature, bool central, std::uint32_t crc, std::uint32_t packed,
                   std::uint32_t size) {
    std::string header;
    PutLe(header, signature, 4);
    if (central) PutLe(header, 20, 2);  // made by
    for (const std::uint32_t field : {20u, 0u, 8u, 0u, 0u}) PutLe(header, field, 2);  // version, flags, method, time
    PutLe(header, crc, 4);
    PutLe(header, packed, 4);
    PutLe(header, size, 4);
    PutLe(header, static_cast<std::uint32_t>(kMemberName.size()), 2);
    PutLe(header, 0, 2);  // extra field
    if (central) {
        for (int i = 0; i < 3; ++i) PutLe(header, 0, 2);  // comment length, disk, internal attributes
        PutLe(header, 0, 4);                               // external attributes
        PutLe(header, 0, 4);                               // the local header's offset
    }
    return header + kMemberName;
}

// Writes the zip package a chunk at a time (the benchmark itself stays small) and returns the database's
// description for the catalogue.
ReleaseFile WritePackage(const std::string& path, const std::string& url) {
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
    const std::string placeholder = Header(0x04034B50, false, 0, 0, 0);
    out.write(placeholder.data(), static_cast<std::streamsize>(placeholder.size()));
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    DatabaseContent content;
    std::uint32_t crc = 0, catalogueCrc = 0;  // the zip's CRC-32 and the catalogue's CRC of installed files
    std::vector<char> packed(kChunk * 2);
    for (std::size_t done = 0; done < kDatabaseSize;) {
        std::string chunk = content.Next(std::min(kChunk, kDatabaseSize - done));
        done += chunk.size();
        crc = static_cast<std::uint32_t>(crc32(crc, reinterpret_cast<const Bytef*>(chunk.data()), chunk.size()));
        catalogueCrc = CrcUpdate(catalogueCrc, chunk.data(), chunk.size());
        stream.next_in = reinterpret_cast<Bytef*>(chunk.data());
        stream.avail_in = static_cast<uInt>(chunk.size());
        const int flush = done == kDatabaseSize ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(packed.data());
            stream.avail_out = static_cast<uInt>(packed.size());
            deflate(&stream, flush);
            out.write(packed.data(), static_cast<std::streamsize>(packed.size() - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    const auto packedSize = static_cast<std::uint32_t>(stream.total_out);
    deflateEnd(&stream);
    const std::uint32_t size = kDatabaseSize;
    const std::string central = Header(0x02014B50, true, crc, packedSize, size);
    std::string end;
    PutLe(end, 0x06054B50, 4);
    for (const std::uint32_t field : {0u, 0u, 1u, 1u}) PutLe(end, field, 2);
    PutLe(end, static_cast<std::uint32_t>(central.size()), 4);
    PutLe(end, static_cast<std::uint32_t>(placeholder.size()) + packedSize, 4);
    PutLe(end, 0, 2);
    out.write(central.data(), static_cast<std::streamsize>(central.size()));
    out.write(end.data(), static_cast<std::streamsize>(end.size()));
    out.seekp(0);
    const std::string header = Header(0x04034B50, false, crc, packedSize, size);
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
    return {kMemberName, static_cast<std::int64_t>(kDatabaseSize), catalogueCrc, url, "", {}};
}

void ExpectStored(const std::string& file, const ReleaseFile& database) {
    if (!fs::exists(file) || fs::file_size(file) != static_cast<std::uintmax_t>(database.size))
        throw std::runtime_error(file + " was not stored");
}

void PrintPeak(const std::string& run, const Usage& usage) {
    const double ratio = static_cast<double>(usage.maxRssKiB) / kLimitKiB;
    std::printf("%-36s peak RSS %7.1f MiB (limit 128 MiB), %6.2f s, CPU %6.2f s\n", run.c_str(),
                static_cast<double>(usage.maxRssKiB) / 1024, usage.wallSeconds, usage.cpuSeconds);
    benchsupport::PrintResultRow("peak memory / 128 MiB, " + run, ratio, "<= 1.00", ratio <= 1.0);
}

int Run() {
    testsupport::NginxServer nginx;
    if (!nginx.running()) return 1;
    testsupport::TempDir root;
    const std::string host = "127.0.0.1:" + std::to_string(nginx.port());
    const std::string packagePath = "large/large.zip";
    fs::create_directories(fs::path(nginx.webRoot()) / "large");
    const ReleaseFile database = WritePackage(nginx.webRoot() + "/" + packagePath, "http://" + host + "/" + packagePath);
    std::printf("database %zu bytes, package %ju bytes\n", kDatabaseSize,
                static_cast<std::uintmax_t>(fs::file_size(nginx.webRoot() + "/" + packagePath)));
    nginx.AddFile("orvane/update/product/LARGE/version/1/code/1/index.html", CatalogueText("catalogue", {database}));

    const std::string program = root / "program/", wizard = root / "wizard/", share = root / "share/",
                      tmp = root / "tmp/";
    for (const std::string& folder : {program, wizard, share, tmp}) fs::create_directories(folder);
    const fs::path built(ORVANE_EXE);
    for (const std::string& folder : {program, wizard}) {
        fs::copy_file(built, folder + "orvane");
        fs::copy(built.parent_path() / "OvLng", folder + "OvLng", fs::copy_options::recursive);
    }
    fs::copy_file(ORVANE_WIZARD_EXE, wizard + "orvane-wizard");
    std::vector<std::string> environment{"TMPDIR=" + tmp, "ORVANE_HKLM=" + root / "no-registry.reg",
                                         "ORVANE_DEMO_SERVER=" + host, "ORVANE_UPDATE_SERVER=" + host};
    const Usage mirror = RunMeasured(
        {{program + "orvane", "/ENTS", "SFLD=" + share, "PRODUCT=large", "VERSION=1", "CODE=1"}, program, environment},
        root.path());
    ExpectStored(share + kMemberName, database);
    PrintPeak("mirror run, 600 MB database (zip)", mirror);
    const Usage client = RunMeasured({{program + "orvane", "/ENTC", "SFLD=" + share}, program, environment}, root.path());
    ExpectStored(program + kMemberName, database);
    PrintPeak("client run copying it", client);
    environment.push_back("QT_QPA_PLATFORM=offscreen");
    const Usage installed = RunMeasured(
        {{wizard + "orvane", "/SCHEDULED", "PRODUCT=large", "VERSION=1", "CODE=1"}, wizard, environment}, root.path());
    ExpectStored(wizard + kMemberName, database);
    PrintPeak("scheduled wizard installing it", installed);
    return 0;
}

}  // namespace

int main() { return windowless_bench::RunReportingFailure("memory", Run); }
