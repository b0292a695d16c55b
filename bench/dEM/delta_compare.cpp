// Differences against full packages, on a synthetic database that behaves like the real ones: fixed-size records,
// whose next release changes 1% of the records and inserts and deletes 0.5% each at random places. Rows: the bytes
// a mirror fetches for that release with differences and without; the difference's size against zstd's own
// command, bsdiff and xdelta3; a mirror run bringing the release in at 20 ms through a 100 Mbit/s line with
// differences and without; rebuilding the file from its difference against unpacking its package; and the memory
// the kernel cannot drop while a mirror applies a difference to a 600 MB database.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "bench/common/measure.h"
#include "bench/dEM/child_run.h"
#include "bench/dEM/delay_forwarder.h"
#include "bench/dEM/release.h"
#include "catalogue/catalogue.h"
#include "delta/delta.h"
#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"
#include "tools/publish/release.h"

namespace {

using namespace windowless_bench;
using benchsupport::Median;
using benchsupport::PrintResultRow;
namespace fs = std::filesystem;

constexpr std::size_t kRecordSize = 64;
constexpr std::size_t kSmallDatabase = 64 << 20;
constexpr std::size_t kLargeDatabase = 600'000'000;
constexpr int kRounds = 3;
const std::string kDatabaseName = "records.db";

// Random records: a new record is bytes no difference can make smaller, so the new records of a release (1.5% of
// the file) are the floor every difference tool meets, and the package is as large as the file. Signature
// records: 44 random bytes, then a part that repeats with few variations, so the package comes to about three
// quarters of the file, as real databases of signatures do.
enum class Records { Random, Signatures };

void AppendRecord(std::string& out, std::uint32_t id, Records kind) {
    std::uint32_t state = id * 2654435761u + 0x9E3779B9u;
    for (std::size_t i = 0; i < kRecordSize; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        out += kind == Records::Random || i < 44 ? static_cast<char>(state >> 7)
                                                 : "record;kind=sig;v1;"[i % 19 + (state & 1)];
    }
}

// The next release's records: 1% changed, 0.5% deleted and 0.5% new ones inserted, all at random places.
std::vector<std::uint32_t> NextRelease(const std::vector<std::uint32_t>& ids, std::mt19937& random) {
    const std::size_t count = ids.size();
    std::uint32_t fresh = *std::max_element(ids.begin(), ids.end()) + 1;
    std::uniform_int_distribution<std::size_t> place(0, count - 1);
    std::vector<char> deleted(count, 0);
    std::vector<std::size_t> insertBefore(count / 200);
    for (std::size_t& at : insertBefore) at = place(random);
    std::sort(insertBefore.begin(), insertBefore.end());
    std::vector<std::uint32_t> next = ids;
    for (std::size_t i = 0; i < count / 100; ++i) next[place(random)] = fresh++;
    for (std::size_t i = 0; i < count / 200; ++i) deleted[place(random)] = 1;
    std::vector<std::uint32_t> result;
    result.reserve(count + count / 200);
    auto insert = insertBefore.begin();
    for (std::size_t i = 0; i < count; ++i) {
        for (; insert != insertBefore.end() && *insert == i; ++insert) result.push_back(fresh++);
        if (!deleted[i]) result.push_back(next[i]);
    }
    return result;
}

void WriteDatabase(const std::string& path, const std::vector<std::uint32_t>& ids, Records kind) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string chunk;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        AppendRecord(chunk, ids[i], kind);
        if (chunk.size() >= (1 << 20) || i + 1 == ids.size()) {
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            chunk.clear();
        }
    }
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

// The two releases of a database, the difference between them, and the second one's description.
struct Releases {
    std::string oldFile, newFile, deltaFile;
    ReleaseFile described;
    TDeltaRef delta;
};

// The download locations are paths below the server: each catalogue names the host its runs go through.
Releases MakeReleases(const std::string& folder, std::size_t databaseSize, const std::string& deltaPath,
                      const std::string& packagePath, Records kind = Records::Random) {
    std::mt19937 random(29);
    std::vector<std::uint32_t> ids(databaseSize / kRecordSize);
    for (std::size_t i = 0; i < ids.size(); ++i) ids[i] = static_cast<std::uint32_t>(i);
    Releases releases{folder + "old.db", folder + "new.db", folder + "new.zst", {}, {}};
    WriteDatabase(releases.oldFile, ids, kind);
    WriteDatabase(releases.newFile, NextRelease(ids, random), kind);
    MakeDelta(releases.oldFile, releases.newFile, releases.deltaFile);
    const auto digest = [](const std::string& path) {
        platform::File file;
        if (!file.OpenRead(path)) throw std::runtime_error("cannot read " + path);
        return ReadFileDigest(file);
    };
    const TFileDigest fresh = digest(releases.newFile);
    releases.described = {kDatabaseName, static_cast<std::int64_t>(fs::file_size(releases.newFile)), fresh.Crc,
                          packagePath, *fresh.Sha256, {}};
    releases.delta = {static_cast<std::int64_t>(fs::file_size(releases.oldFile)), *digest(releases.oldFile).Sha256,
                      static_cast<std::int32_t>(fs::file_size(releases.deltaFile)), *digest(releases.deltaFile).Sha256,
                      deltaPath};
    return releases;
}

// The bytes of the responses in an nginx access log (the field after the status of each line).
long long BytesServed(const std::string& log) {
    std::istringstream lines(log);
    long long total = 0;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t request = line.find("\" ");
        std::istringstream fields(request == std::string::npos ? "" : line.substr(request + 2));
        int status = 0;
        long long bytes = 0;
        if (fields >> status >> bytes) total += bytes;
    }
    return total;
}

// The size of a difference made by a command, or -1 when the command is missing or fails.
long long CommandOutputSize(const std::string& command, const std::string& output) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return -1;
    return static_cast<long long>(fs::file_size(output));
}

void CompareWithTools(const Releases& releases, const std::string& scratch) {
    const double ours = static_cast<double>(releases.delta.Size);
    const std::string level = std::to_string(DefaultDeltaLevel);
    struct Tool {
        std::string name, command, output, target;
        double limit;
    };
    const std::vector<Tool> tools = {
        {"zstd --patch-from --long -" + level, "zstd -q -f -" + level + " --long=27 --patch-from=" + releases.oldFile +
                                                   " " + releases.newFile + " -o " + scratch + "cli.zst",
         scratch + "cli.zst", "<= 1.05", 1.05},
        {"bsdiff", "bsdiff " + releases.oldFile + " " + releases.newFile + " " + scratch + "bsdiff.patch",
         scratch + "bsdiff.patch", "<= 1.10", 1.10},
        {"xdelta3 -9", "xdelta3 -9 -f -e -s " + releases.oldFile + " " + releases.newFile + " " + scratch + "x.vcdiff",
         scratch + "x.vcdiff", "<= 1.10", 1.10}};
    std::printf("difference at level %s: %d bytes\n", level.c_str(), releases.delta.Size);
    for (const Tool& tool : tools) {
        const long long size = CommandOutputSize(tool.command, tool.output);
        if (size <= 0) {
            std::printf("%s: not available, row skipped\n", tool.name.c_str());
            continue;
        }
        std::printf("%s: %lld bytes\n", tool.name.c_str(), size);
        const double ratio = ours / static_cast<double>(size);
        PrintResultRow("difference size / " + tool.name + ", 64 MB database", ratio, tool.target, ratio <= tool.limit);
    }
}

// Rebuilding the new version from the old one and the difference, against unpacking the zip package, both into
// a candidate file with its CRC taken, as a run makes its candidates.
void CompareRebuildWithUnpack(const Releases& releases, const std::string& package, const std::string& scratch,
                              const std::string& records) {
    std::vector<double> rebuild, unpack;
    for (int round = 0; round < 5; ++round) {
        rebuild.push_back(benchsupport::Seconds([&] {
            return RebuildFromDelta(releases.delta, releases.oldFile, releases.deltaFile, scratch + "rebuilt",
                                    static_cast<std::int32_t>(releases.described.size), false)
                .CandidateCrc;
        }));
        fs::copy_file(package, scratch + "package.zip", fs::copy_options::overwrite_existing);
        unpack.push_back(benchsupport::Seconds([&] {
            return PreparePackage(scratch + "package.zip", kDatabaseName, scratch + "unpacked/").CandidateCrc;
        }));
        fs::remove_all(scratch + "unpacked");
        fs::remove(scratch + "rebuilt");
    }
    const double ratio = Median(rebuild) / Median(unpack);
    std::printf("rebuild from the difference %.3f s, unpack the package %.3f s (medians)\n", Median(rebuild),
                Median(unpack));
    PrintResultRow("rebuild 64 MB from its difference / unpack its package, " + records, ratio, "<= 1.00",
                   ratio <= 1.0);
}

void WriteZipPackage(const Releases& releases, const std::string& package) {
    const std::string zip = ZipArchive(kDatabaseName, testsupport::ReadFile(releases.newFile));
    std::ofstream(package, std::ios::binary).write(zip.data(), static_cast<std::streamsize>(zip.size()));
    std::printf("64 MB database: package %ju bytes, difference %d bytes\n",
                static_cast<std::uintmax_t>(fs::file_size(package)), releases.delta.Size);
}

struct Sandbox {
    std::string program, share, tmp;
    std::vector<std::string> environment;
};

Sandbox MakeSandbox(const testsupport::TempDir& root, const std::string& name, int port) {
    Sandbox box{root / (name + "/program/"), root / (name + "/share/"), root / (name + "/tmp/"), {}};
    for (const std::string& folder : {box.program, box.share, box.tmp}) fs::create_directories(folder);
    const fs::path built(ORVANE_EXE);
    fs::copy_file(built, box.program + "orvane");
    fs::copy(built.parent_path() / "OvLng", box.program + "OvLng", fs::copy_options::recursive);
    const std::string host = "127.0.0.1:" + std::to_string(port);
    box.environment = {"TMPDIR=" + box.tmp, "ORVANE_HKLM=" + root / "no-registry.reg", "ORVANE_DEMO_SERVER=" + host,
                       "ORVANE_UPDATE_SERVER=" + host};
    return box;
}

// A mirror run from a shared folder that holds the old release into one that holds the new one.
Usage MirrorTheRelease(const Sandbox& box, const std::string& product, const Releases& releases,
                       const std::string& scratch) {
    fs::remove(box.share + "latest.xml");
    fs::copy_file(releases.oldFile, box.share + kDatabaseName, fs::copy_options::overwrite_existing);
    const Usage usage = RunMeasured(
        {{box.program + "orvane", "/ENTS", "SFLD=" + box.share, "PRODUCT=" + product, "VERSION=1", "CODE=1"},
         box.program, box.environment},
        scratch);
    const ReleaseFile& wanted = releases.described;
    if (NeedsUpdate(box.share + kDatabaseName, static_cast<std::int32_t>(wanted.size), static_cast<std::int32_t>(wanted.crc)))
        throw std::runtime_error("the mirror did not store the new " + kDatabaseName);
    return usage;
}

// The catalogue of the new release on a server at host (and port), offering the difference or not.
std::string CatalogueWith(const Releases& releases, bool offerDelta, int port) {
    const std::string server = "http://127.0.0.1:" + std::to_string(port) + "/";
    ReleaseFile entry = releases.described;
    entry.download = server + entry.download;
    if (offerDelta) entry.deltas.push_back(releases.delta);
    for (TDeltaRef& delta : entry.deltas) delta.Download = server + delta.Download;
    return CatalogueText("catalogue", {entry});
}

void AddCatalogues(testsupport::NginxServer& nginx, const Releases& releases, const std::string& product, int port) {
    for (const bool offerDelta : {true, false})
        nginx.AddFile("orvane/update/product/" + product + (offerDelta ? "DELTA" : "FULL") + "/version/1/code/1/index.html",
                      CatalogueWith(releases, offerDelta, port));
}

void CompareMirrorRuns(testsupport::NginxServer& nginx, const testsupport::TempDir& root, const Releases& releases) {
    // Bytes first, on loopback.
    AddCatalogues(nginx, releases, "DIRECT", nginx.port());
    const Sandbox direct = MakeSandbox(root, "direct", nginx.port());
    long long fetched[2] = {};
    for (const bool withDelta : {true, false}) {
        const long long before = BytesServed(nginx.AccessLog());
        MirrorTheRelease(direct, withDelta ? "directdelta" : "directfull", releases, root.path());
        fetched[withDelta ? 0 : 1] = BytesServed(nginx.AccessLog()) - before;
    }
    std::printf("bytes fetched for the release: %lld with differences, %lld without\n", fetched[0], fetched[1]);
    const double bytes = static_cast<double>(fetched[0]) / static_cast<double>(fetched[1]);
    PrintResultRow("bytes the mirror fetches for the release, with differences / without", bytes, "<= 0.04",
                   bytes <= 0.04);
    // Then time, 20 ms away through one 100 Mbit/s line.
    DelayForwarder line(nginx.port(), std::chrono::milliseconds(10), 100'000'000 / 8);
    AddCatalogues(nginx, releases, "REMOTE", line.Port());
    const Sandbox remote = MakeSandbox(root, "remote", line.Port());
    std::vector<double> with, without;
    for (int round = 0; round < kRounds; ++round) {
        with.push_back(MirrorTheRelease(remote, "remotedelta", releases, root.path()).wallSeconds);
        without.push_back(MirrorTheRelease(remote, "remotefull", releases, root.path()).wallSeconds);
    }
    const double ratio = Median(with) / Median(without);
    std::printf("mirror run at 20 ms, 100 Mbit/s: %.2f s with differences, %.2f s without (medians)\n", Median(with),
                Median(without));
    PrintResultRow("mirror run into the release, 20 ms, 100 Mbit/s, with differences / without", ratio, "<= 0.15",
                   ratio <= 0.15);
}

// The new version goes plain (a package that is no zip is its own file), so the benchmark makes no 460 MB zip.
void MeasureLargeApply(testsupport::NginxServer& nginx, const testsupport::TempDir& root) {
    const std::string folder = root / "large/";
    fs::create_directories(folder);
    fs::create_directories(nginx.webRoot() + "large");
    const Releases releases = MakeReleases(folder, kLargeDatabase, "large/new.zst", "large/new.db");
    for (const char* name : {"new.zst", "new.db"})
        fs::create_hard_link(folder + name, nginx.webRoot() + "large/" + std::string(name));
    AddCatalogues(nginx, releases, "LARGE", nginx.port());
    const Sandbox box = MakeSandbox(root, "large-mirror", nginx.port());
    const long long before = BytesServed(nginx.AccessLog());
    const Usage usage = MirrorTheRelease(box, "largedelta", releases, root.path());
    const long long fetched = BytesServed(nginx.AccessLog()) - before;
    std::printf("600 MB database: difference %d bytes, %lld bytes fetched, peak private memory %.1f MiB "
                "(max RSS with mapped pages %.1f MiB), %.2f s\n",
                releases.delta.Size, fetched, usage.peakAnonymousKiB / 1024.0, usage.maxRssKiB / 1024.0,
                usage.wallSeconds);
    if (fetched > 2LL * releases.delta.Size) throw std::runtime_error("the mirror did not use the difference");
    const double ratio = usage.peakAnonymousKiB / (160.0 * 1024);
    PrintResultRow("private memory of a mirror applying a difference to 600 MB / 160 MiB", ratio, "<= 1.00",
                   ratio <= 1.0);
}

int Run() {
    testsupport::NginxServer nginx;
    if (!nginx.running()) return 1;
    testsupport::TempDir root;
    fs::create_directories(nginx.webRoot() + "db");
    const Releases releases =
        MakeReleases(root.path(), kSmallDatabase, "db/records.zst", "db/records.zip");
    const std::string package = nginx.webRoot() + "db/records.zip";
    WriteZipPackage(releases, package);
    fs::copy_file(releases.deltaFile, nginx.webRoot() + "db/records.zst");
    CompareRebuildWithUnpack(releases, package, root.path(), "random records");
    {
        fs::create_directories(root / "signatures/");
        const Releases signatures = MakeReleases(root / "signatures/", kSmallDatabase, "", "", Records::Signatures);
        WriteZipPackage(signatures, root / "signatures/new.zip");
        CompareRebuildWithUnpack(signatures, root / "signatures/new.zip", root.path(), "signature records");
        fs::remove_all(root / "signatures/");
    }
    CompareMirrorRuns(nginx, root, releases);
    CompareWithTools(releases, root.path());
    MeasureLargeApply(nginx, root);
    return 0;
}

}  // namespace

int main() { return windowless_bench::RunReportingFailure("delta", Run); }
