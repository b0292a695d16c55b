// Times the two windowless modes against standard tools doing the comparable work, and prints one table:
//  - an up-to-date client run over 10,000 files of 1 KiB, against one cksum of the same files and against
//    rsync --checksum from the shared folder;
//  - a cold mirror run of 2,000 small packages (half zipped) and a 64 MiB zipped database from nginx on
//    loopback, against one wget fetching the same packages over one kept connection, and against that wget plus
//    the bare zlib inflate of the database, which the mirror must unpack and wget does not;
//  - an up-to-date mirror run of the same release, against cksum of the shared files plus one curl of the
//    catalogue; and the same run with one package to store while another process writes 1 GiB to the same file
//    system, against that run on a quiet file system;
//  - a cold mirror run of 300 small packages and a 16 MiB database through a forwarder that delays every byte
//    by 10 ms each way (a server 20 ms away), against wget -i over one connection and aria2c with as many
//    connections as the mirror uses;
//  - the same cold mirror run through the same line from an nginx that allows one connection per client
//    ("limit_conn perip 1", 503 for any other), with the default connections, against the same run with
//    Connections=1;
//  - a verifying installation (a key in OvKeys/, signed catalogues) against one without keys: a cold client run
//    copying the 10,000 files, and the cold mirror run.
// Every program runs as a measured child (wait4); in each round ours and the references take turns going
// first, and the figures are medians over the rounds.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "bench/common/measure.h"
#include "bench/dEM/child_run.h"
#include "bench/dEM/delay_forwarder.h"
#include "bench/dEM/release.h"
#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"
#include "tools/publish/release.h"

namespace {

using namespace windowless_bench;
namespace fs = std::filesystem;

constexpr int kRounds = 5;
constexpr int kClientFiles = 10000;
constexpr std::size_t kClientFileSize = 1024;
constexpr int kSmallPackages = 2000;
constexpr std::size_t kDatabaseSize = std::size_t{64} << 20;
const std::string kSignedCataloguePath = "orvane/update/product/SIGNED/version/1/code/1/";
constexpr int kNetworkPackages = 300;
constexpr std::size_t kNetworkDatabaseSize = std::size_t{16} << 20;
constexpr auto kOneWayDelay = std::chrono::milliseconds(10);
constexpr int kMirrorConnections = 6;  // the mirror's default
constexpr int kBusyWriterMiB = 1024;

// A release the mirror benchmarks publish: its product (which names its catalogue's and packages' paths), its
// small packages and the size of its zipped database.
struct ReleaseShape {
    std::string product;
    int smallPackages;
    std::size_t databaseSize;
};
const ReleaseShape kLoopbackShape{"bench", kSmallPackages, kDatabaseSize};
const ReleaseShape kNetworkShape{"net", kNetworkPackages, kNetworkDatabaseSize};

std::string CataloguePath(const ReleaseShape& shape) {
    std::string product = shape.product;
    for (char& c : product) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return "orvane/update/product/" + product + "/version/1/code/1/";
}

// The program folder, the shared folders and the scratch of every run, below one folder removed at the end.
class Workspace {
public:
    // With a public key, the program folder is a verifying installation.
    explicit Workspace(const std::string& serverHost, const std::string& publicKey = "")
        : programFolder_(Folder("program")),
          environment_{"TMPDIR=" + Folder("tmp"), "ORVANE_HKLM=" + root_ / "no-registry.reg",
                       "ORVANE_DEMO_SERVER=" + serverHost, "ORVANE_UPDATE_SERVER=" + serverHost} {
        const fs::path built(ORVANE_EXE);
        fs::copy_file(built, programFolder_ + "orvane");
        fs::copy(built.parent_path() / "OvLng", programFolder_ + "OvLng", fs::copy_options::recursive);
        if (!publicKey.empty()) testsupport::WriteFile(Folder("program/OvKeys") + "bench.pub", HexText(publicKey));
    }

    // The sub-folder (created when missing), with a trailing '/'.
    std::string Folder(const std::string& name) const {
        fs::create_directories(root_ / name);
        return root_ / name + "/";
    }
    const std::string& programFolder() const { return programFolder_; }

    // justBefore runs after the sync that precedes the measured run.
    Usage Orvane(const std::vector<std::string>& arguments, const std::function<void()>& justBefore = {}) const {
        std::vector<std::string> command{programFolder_ + "orvane"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return Measured({command, programFolder_, environment_}, justBefore);
    }
    Usage Tool(const std::vector<std::string>& command, const std::string& folder) const {
        return Measured({command, folder, {}});
    }

private:
    // Every run starts with no writes of an earlier run pending: a run that makes its own files durable must not
    // pay for the files another program left unwritten.
    Usage Measured(const Command& command, const std::function<void()>& justBefore = {}) const {
        ::sync();
        if (justBefore) justBefore();
        return RunMeasured(command, root_.path());
    }

    testsupport::TempDir root_;
    std::string programFolder_;
    std::vector<std::string> environment_;
};

using Step = std::function<Usage()>;
using Samples = std::vector<Usage>;

// Runs every step once per round; the one that goes first moves on each round, so none always finds the
// warmest caches. prepare runs before each round, outside the timing.
std::vector<Samples> Interleave(const std::vector<Step>& steps, const std::function<void(int round)>& prepare) {
    std::vector<Samples> samples(steps.size());
    for (int round = 0; round < kRounds; ++round) {
        prepare(round);
        for (std::size_t k = 0; k < steps.size(); ++k) {
            const std::size_t i = (static_cast<std::size_t>(round) + k) % steps.size();
            samples[i].push_back(steps[i]());
        }
    }
    return samples;
}

using benchsupport::Median;

double MedianWall(const Samples& samples) {
    std::vector<double> walls;
    for (const Usage& usage : samples) walls.push_back(usage.wallSeconds);
    return Median(walls);
}

struct Row {
    std::string scenario;
    std::string reference;
    double ours = 0;
    double theirs = 0;
    double ratio = 0;     // the median of the per-round wall-time ratios
    double cpuRatio = 0;  // the same for CPU time: steadier on a busy machine
    double limit = 0;
    bool strict = false;  // the ratio must stay below the limit, not just reach it
    long peakKiB = 0;     // the highest max RSS of our runs

    bool Met() const { return strict ? ratio < limit : ratio <= limit; }
};

Row Compare(const std::string& scenario, const std::string& reference, double limit, bool strict,
            const Samples& ours, const Samples& theirs) {
    std::vector<double> ratios, cpuRatios;
    long peak = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        ratios.push_back(ours[i].wallSeconds / theirs[i].wallSeconds);
        cpuRatios.push_back(ours[i].cpuSeconds / std::max(theirs[i].cpuSeconds, 1e-6));
        peak = std::max(peak, ours[i].maxRssKiB);
    }
    return {scenario, reference, MedianWall(ours), MedianWall(theirs), Median(ratios), Median(cpuRatios), limit,
            strict, peak};
}

Usage Sum(const Usage& a, const Usage& b) {
    return {a.wallSeconds + b.wallSeconds, a.cpuSeconds + b.cpuSeconds, std::max(a.maxRssKiB, b.maxRssKiB)};
}

std::string Numbered(const char* pattern, int number) {
    char text[32];
    std::snprintf(text, sizeof text, pattern, number);
    return text;
}

std::vector<std::string> FileNames(const std::vector<ReleaseFile>& files) {
    std::vector<std::string> names;
    for (const ReleaseFile& file : files) names.push_back(file.fileName);
    return names;
}

std::vector<std::string> Concatenated(std::vector<std::string> first, const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// --- Checks that each run did its work: timings of a run that skipped it would mean nothing ---

std::vector<ino_t> Inodes(const std::string& folder, const std::vector<ReleaseFile>& files) {
    std::vector<ino_t> inodes;
    for (const ReleaseFile& file : files) {
        struct stat status {};
        if (stat((folder + file.fileName).c_str(), &status) != 0)
            throw std::runtime_error(folder + file.fileName + " is missing");
        inodes.push_back(status.st_ino);
    }
    return inodes;
}

// An up-to-date run replaces nothing; a replaced file gets a new inode.
void ExpectUntouched(const std::string& folder, const std::vector<ReleaseFile>& files,
                     const std::vector<ino_t>& before) {
    if (Inodes(folder, files) != before) throw std::runtime_error("an up-to-date run rewrote files in " + folder);
}

void ExpectStored(const std::string& folder, const std::vector<ReleaseFile>& files) {
    for (const ReleaseFile& file : files) {
        const std::string path = folder + file.fileName;
        if (FileSizeOf(path) != file.size || FileCrc(path) != file.crc)
            throw std::runtime_error("the mirror run did not store " + path);
    }
}

void ExpectFetched(const std::string& folder, std::size_t count) {
    const auto found = std::distance(fs::directory_iterator(folder), fs::directory_iterator());
    if (static_cast<std::size_t>(found) != count) throw std::runtime_error("not every package arrived in " + folder);
}

// --- Client ---

// 10,000 files in the shared folder, the same in the program folder (when one is given), and the "latest.xml"
// naming them.
std::vector<ReleaseFile> PlaceClientRelease(const std::string& share, const std::string& programFolder) {
    std::vector<ReleaseFile> files;
    for (int i = 0; i < kClientFiles; ++i) {
        const std::string name = Numbered("c%05d.dat", i);
        const std::string content = FileContent(static_cast<std::uint32_t>(i), kClientFileSize);
        testsupport::WriteFile(share + name, content);
        if (!programFolder.empty()) testsupport::WriteFile(programFolder + name, content);
        files.push_back(DescribeFile(name, content, share + name));
    }
    testsupport::WriteFile(share + "latest.xml", CatalogueText("xml", files));
    return files;
}

std::vector<Row> ClientRows(const Workspace& work) {
    const std::string share = work.Folder("client-share");
    const std::string& program = work.programFolder();
    const std::vector<ReleaseFile> files = PlaceClientRelease(share, program);
    const std::vector<std::string> cksum = Concatenated({"/usr/bin/cksum"}, FileNames(files));
    const std::vector<std::string> rsync{"/usr/bin/rsync", "-a", "--checksum", "--exclude=/latest.xml",
                                         share, program};
    // The copies were written a moment apart: one sync first aligns their times, as after any earlier sync.
    work.Tool(rsync, program);
    const std::vector<ino_t> before = Inodes(program, files);
    const auto samples = Interleave(
        {[&] {
             const Usage usage = work.Orvane({"/ENTC", "SFLD=" + share});
             ExpectUntouched(program, files, before);
             return usage;
         },
         [&] { return work.Tool(cksum, program); }, [&] { return work.Tool(rsync, program); }},
        [](int) {});
    return {Compare("client, up to date", "cksum of the files", 1.3, false, samples[0], samples[1]),
            Compare("client, up to date", "rsync -a --checksum", 1.0, true, samples[0], samples[2])};
}

// --- Mirror ---

struct MirrorRelease {
    std::vector<ReleaseFile> files;
    std::string urlList;   // a file naming every package URL, one a line
    std::string database;  // the database's zip package
};

// The unpacking a mirror run must do and wget does not: the database member inflated by bare zlib, into one
// reused buffer and thrown away, the least any unpacking can cost.
Usage BareInflate(const std::string& package) {
    const auto field = [&](std::size_t at) {
        return static_cast<std::size_t>(static_cast<unsigned char>(package[at]) |
                                        static_cast<unsigned char>(package[at + 1]) << 8);
    };
    const std::size_t dataStart = 30 + field(26) + field(28);
    const double seconds = benchsupport::Seconds([&] {
        z_stream stream{};
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) throw std::runtime_error("no inflate");
        std::vector<Bytef> buffer(std::size_t{1} << 20);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(package.data() + dataStart));
        stream.avail_in = static_cast<uInt>(package.size() - dataStart);
        int status = Z_OK;
        std::size_t total = 0;
        while (status == Z_OK) {
            stream.next_out = buffer.data();
            stream.avail_out = static_cast<uInt>(buffer.size());
            status = inflate(&stream, Z_NO_FLUSH);
            total += buffer.size() - stream.avail_out;
        }
        inflateEnd(&stream);
        if (status != Z_STREAM_END || total != kLoopbackShape.databaseSize)
            throw std::runtime_error("the database did not inflate");
        return total;
    });
    return {seconds, seconds, 0};
}

// The database first, then the small packages: even ones zipped, odd ones as plain files. Their URLs lead to
// the host given, nginx itself or a forwarder in front of it.
MirrorRelease PublishMirrorRelease(const testsupport::NginxServer& nginx, const Workspace& work,
                                   const ReleaseShape& shape, const std::string& host) {
    MirrorRelease release;
    const std::string folder = "pkg-" + shape.product + "/";
    const auto url = [&](const std::string& path) { return "http://" + host + "/" + path; };
    const std::string database = FileContent(kClientFiles, shape.databaseSize);
    release.database = ZipArchive("base.db", database);
    nginx.AddFile(folder + "base.zip", release.database);
    release.files.push_back(DescribeFile("base.db", database, url(folder + "base.zip")));
    for (int i = 0; i < shape.smallPackages; ++i) {
        const std::string name = Numbered("m%05d.dat", i);
        const std::string content = FileContent(static_cast<std::uint32_t>(kClientFiles + 1 + i),
                                                1024 + static_cast<std::size_t>(i) * 379 % 7168);
        const std::string package = i % 2 == 0 ? folder + Numbered("p%05d.zip", i) : folder + name;
        nginx.AddFile(package, i % 2 == 0 ? ZipArchive(name, content) : content);
        release.files.push_back(DescribeFile(name, content, url(package)));
    }
    nginx.AddFile(CataloguePath(shape) + "index.html", CatalogueText("catalogue", release.files));
    std::string urls;
    for (const ReleaseFile& file : release.files) urls += file.download + "\n";
    release.urlList = work.Folder("lists") + shape.product + ".txt";
    testsupport::WriteFile(release.urlList, urls);
    return release;
}

std::vector<std::string> MirrorArguments(const std::string& share, const ReleaseShape& shape) {
    return {"/ENTS", "SFLD=" + share, "PRODUCT=" + shape.product, "VERSION=1", "CODE=1"};
}

std::vector<std::string> WgetCommand(const MirrorRelease& release, const std::string& folder) {
    return {"/usr/bin/wget", "--no-config", "-q", "--no-proxy", "-i", release.urlList, "-P", folder};
}

// A cold run: a new share each round, the packages all stored and tested.
Usage ColdMirror(const Workspace& work, const MirrorRelease& release, const ReleaseShape& shape,
                 const std::string& share) {
    const Usage usage = work.Orvane(MirrorArguments(share, shape));
    ExpectStored(share, release.files);
    return usage;
}

Usage Fetch(const Workspace& work, const std::vector<std::string>& command, const MirrorRelease& release,
            const std::string& folder) {
    const Usage usage = work.Tool(command, folder);
    ExpectFetched(folder, release.files.size());
    return usage;
}

// Another program filling the page cache of the same file system while a run works: dd writing zeros, started
// a moment before the run so that its dirty pages are there to be waited for.
class BusyWriter {
public:
    explicit BusyWriter(const std::string& file) : file_(file) {
        const std::string out = "of=" + file_, count = "count=" + std::to_string(kBusyWriterMiB);
        const char* const argv[] = {"/bin/dd", "if=/dev/zero", out.c_str(), "bs=1M", count.c_str(), "status=none",
                                    nullptr};
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
            throw std::runtime_error("dd does not start");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    ~BusyWriter() {
        waitpid(pid_, nullptr, 0);
        fs::remove(file_);
    }
    BusyWriter(const BusyWriter&) = delete;
    BusyWriter& operator=(const BusyWriter&) = delete;

private:
    std::string file_;
    pid_t pid_ = 0;
};

// An up-to-date run with one package to store, so that it has files of its own to make durable, on a quiet file
// system and while another process writes 1 GiB to it.
std::vector<Row> BusyDiskRows(const Workspace& work, const MirrorRelease& release, const std::string& share) {
    const std::string changed = share + release.files[2].fileName;
    std::unique_ptr<BusyWriter> writer;
    const auto run = [&](bool busy) {
        fs::remove(changed);
        const Usage usage = work.Orvane(MirrorArguments(share, kLoopbackShape), [&] {
            if (busy) writer = std::make_unique<BusyWriter>(work.Folder("busy") + "writer.bin");
        });
        writer.reset();
        ExpectStored(share, release.files);
        return usage;
    };
    const auto samples = Interleave({[&] { return run(true); }, [&] { return run(false); }}, [](int) {});
    return {Compare("mirror, one to store", "the same, quiet disk (1 GiB writer)", 1.5, false, samples[0],
                    samples[1])};
}

std::vector<Row> MirrorRows(const Workspace& work, const testsupport::NginxServer& nginx,
                            const MirrorRelease& release) {
    std::string share, fetched;
    const auto mirror = [&] { return work.Orvane(MirrorArguments(share, kLoopbackShape)); };
    const auto cold = Interleave(
        {[&] { return ColdMirror(work, release, kLoopbackShape, share); },
         [&] { return Fetch(work, WgetCommand(release, fetched), release, fetched); },
         [&] { return BareInflate(release.database); }},
        // Fresh folders each round: deleting the last round's files first would slow down creating new ones
        // on some file systems, which are then slow to hand out inodes freed a moment ago.
        [&](int round) {
            share = work.Folder("mirror-share-" + std::to_string(round));
            fetched = work.Folder("fetched-" + std::to_string(round));
        });

    // The shared folder now holds the last cold run's files.
    const std::vector<ino_t> before = Inodes(share, release.files);
    const std::vector<std::string> cksum = Concatenated({"/usr/bin/cksum"}, FileNames(release.files));
    const std::vector<std::string> curl{"/usr/bin/curl", "-q", "-s", "--noproxy", "*", "-o", "/dev/null",
                                        nginx.Url(CataloguePath(kLoopbackShape))};
    const auto current = Interleave(
        {[&] {
             const Usage usage = mirror();
             ExpectUntouched(share, release.files, before);
             return usage;
         },
         [&] { return Sum(work.Tool(cksum, share), work.Tool(curl, share)); }},
        [](int) {});
    Samples fetchAndUnpack;
    for (std::size_t i = 0; i < cold[1].size(); ++i) fetchAndUnpack.push_back(Sum(cold[1][i], cold[2][i]));
    std::vector<Row> rows = {
        Compare("mirror, cold", "wget -i, one connection", 1.0, false, cold[0], cold[1]),
        Compare("mirror, cold", "wget -i + bare inflate of db", 1.0, false, cold[0], fetchAndUnpack),
        Compare("mirror, up to date", "cksum of the share + curl", 1.3, false, current[0], current[1])};
    const std::vector<Row> busy = BusyDiskRows(work, release, share);
    rows.insert(rows.end(), busy.begin(), busy.end());
    return rows;
}

// The mirror, wget and aria2c fetch the same release from nginx through a line of 20 ms round trip.
std::vector<Row> NetworkRows(const testsupport::NginxServer& nginx) {
    const DelayForwarder line(nginx.port(), kOneWayDelay);
    const std::string host = "127.0.0.1:" + std::to_string(line.Port());
    const Workspace work(host);
    const MirrorRelease release = PublishMirrorRelease(nginx, work, kNetworkShape, host);
    std::string share, fetched, fetchedInParallel;
    const std::vector<std::string> aria2 = {"/usr/bin/aria2c", "--no-conf", "-q", "-j",
                                            std::to_string(kMirrorConnections), "-x1", "--all-proxy=",
                                            "--file-allocation=none", "-i", release.urlList, "-d"};
    const auto cold = Interleave(
        {[&] { return ColdMirror(work, release, kNetworkShape, share); },
         [&] { return Fetch(work, WgetCommand(release, fetched), release, fetched); },
         [&] { return Fetch(work, Concatenated(aria2, {fetchedInParallel}), release, fetchedInParallel); }},
        [&](int round) {
            share = work.Folder("net-share-" + std::to_string(round));
            fetched = work.Folder("net-fetched-" + std::to_string(round));
            fetchedInParallel = work.Folder("net-parallel-" + std::to_string(round));
        });
    return {Compare("mirror, cold, 20 ms", "wget -i, one connection", 0.30, false, cold[0], cold[1]),
            Compare("mirror, cold, 20 ms", "aria2c -j6", 1.10, false, cold[0], cold[2])};
}

// nginx turning away every connection of a client but one: the run that starts with the default connections
// backs off to the one the server allows, and should cost little more than a run that asks for one from the
// start.
std::vector<Row> BusyServerRows() {
    const testsupport::NginxServer nginx("limit_conn perip 1;");
    if (!nginx.running()) throw std::runtime_error("no nginx for the busy server");
    const DelayForwarder line(nginx.port(), kOneWayDelay);
    const std::string host = "127.0.0.1:" + std::to_string(line.Port());
    const Workspace several(host), one(host);
    testsupport::WriteFile(one.programFolder() + "common.ini", "[general]\r\nConnections=1\r\n");
    const MirrorRelease release = PublishMirrorRelease(nginx, several, kNetworkShape, host);
    std::string share, oneShare;
    const auto cold = Interleave(
        {[&] { return ColdMirror(several, release, kNetworkShape, share); },
         [&] { return ColdMirror(one, release, kNetworkShape, oneShare); }},
        [&](int round) {
            share = several.Folder("busy-share-" + std::to_string(round));
            oneShare = several.Folder("busy-one-share-" + std::to_string(round));
        });
    // Else the row would time a server that never said no.
    if (nginx.AccessLog().find("\" 503 ") == std::string::npos)
        throw std::runtime_error("the busy server turned no connection away");
    return {Compare("mirror, 20 ms, 1 conn", "the same with Connections=1", 1.20, false, cold[0], cold[1])};
}

// --- Signed releases ---

// Cold client runs copying every file, client runs with every file current, and cold mirror runs, of a verifying
// installation and of one without keys.
std::vector<Row> SignedRows(const testsupport::NginxServer& nginx, const MirrorRelease& release,
                            const std::string& serverHost) {
    const TKeyPair keys = GenerateKeyPair();
    const Workspace plain(serverHost), verifying(serverHost, keys.Public);
    // The mirror runs go first: the client rounds then delete 10,000 files each, and for minutes afterwards this
    // file system is slow to make new files near them. Both shares of a round are made in one folder, so that the
    // file system places their files alike.
    nginx.AddFile(kSignedCataloguePath + "index.html", CatalogueText("catalogue", release.files, &keys));
    std::string plainShare, verifyingShare;
    const auto mirror = [&](const Workspace& work, const std::string& product, const std::string& into) {
        const Usage usage = work.Orvane({"/ENTS", "SFLD=" + into, "PRODUCT=" + product, "VERSION=1", "CODE=1"});
        ExpectStored(into, release.files);
        return usage;
    };
    const auto mirrors = Interleave(
        {[&] { return mirror(verifying, "signed", verifyingShare); }, [&] { return mirror(plain, "bench", plainShare); }},
        [&](int round) {
            plainShare = plain.Folder("plain-share-" + std::to_string(round));
            verifyingShare = plain.Folder("verifying-share-" + std::to_string(round));
        });

    const std::string share = plain.Folder("signed-client-share");
    const std::vector<ReleaseFile> files = PlaceClientRelease(share, "");
    testsupport::WriteFile(share + "catalogue.signed.xml", CatalogueText("catalogue", files, &keys));
    const auto client = [&](const Workspace& work) {
        const Usage usage = work.Orvane({"/ENTC", "SFLD=" + share});
        ExpectStored(work.programFolder(), files);
        return usage;
    };
    const auto clients = Interleave({[&] { return client(verifying); }, [&] { return client(plain); }}, [&](int) {
        for (const Workspace* work : {&plain, &verifying})
            for (const ReleaseFile& file : files) fs::remove(work->programFolder() + file.fileName);
    });
    // Every file current: the verifying run checks them against the signed catalogue alone, as the plain run does
    // against "latest.xml".
    const auto current = Interleave({[&] { return client(verifying); }, [&] { return client(plain); }}, [](int) {});
    return {Compare("client, cold, signed", "the same run without keys", 1.1, false, clients[0], clients[1]),
            Compare("client, current, signed", "the same run without keys", 1.1, false, current[0], current[1]),
            Compare("mirror, cold, signed", "the same run without keys", 1.1, false, mirrors[0], mirrors[1])};
}

void PrintTable(const std::vector<Row>& rows) {
    std::printf("%-19s %8s  %-26s %8s %6s %7s %5s %9s %10s\n", "run", "ours s", "reference", "ref s", "ratio",
                "target", "met", "cpu ratio", "peak RSS");
    for (const Row& row : rows) {
        std::printf("%-19s %8.3f  %-26s %8.3f %6.2f %3s%4.2f %5s %9.2f %6.1f MiB\n", row.scenario.c_str(),
                    row.ours, row.reference.c_str(), row.theirs, row.ratio, row.strict ? "< " : "<= ", row.limit,
                    row.Met() ? "yes" : "NO", row.cpuRatio, static_cast<double>(row.peakKiB) / 1024);
    }
    for (const Row& row : rows) {
        const std::string target = std::string(row.strict ? "< " : "<= ") + std::to_string(row.limit).substr(0, 4);
        benchsupport::PrintResultRow(row.scenario + " / " + row.reference, row.ratio, target, row.Met());
    }
    std::printf("(medians of %d interleaved rounds; times are wall times, the target is on their ratio; peak RSS\n"
                " is the highest max RSS of our runs)\n",
                kRounds);
}

// "busy-server" or "signed" as the argument runs only those rows.
int Run(const std::string& only) {
    if (only == "busy-server") {
        PrintTable(BusyServerRows());
        return 0;
    }
    testsupport::NginxServer nginx;
    if (!nginx.running()) return 1;
    const Workspace work("127.0.0.1:" + std::to_string(nginx.port()));
    std::vector<Row> rows = only.empty() ? ClientRows(work) : std::vector<Row>{};
    const std::string host = "127.0.0.1:" + std::to_string(nginx.port());
    const MirrorRelease release = PublishMirrorRelease(nginx, work, kLoopbackShape, host);
    if (only == "signed") {
        PrintTable(SignedRows(nginx, release, host));
        return 0;
    }
    for (const std::vector<Row>& more : {MirrorRows(work, nginx, release), SignedRows(nginx, release, host),
                                         NetworkRows(nginx), BusyServerRows()})
        rows.insert(rows.end(), more.begin(), more.end());
    PrintTable(rows);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc > 1 ? argv[1] : "");
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "windowless benchmark: %s\n", failure.what());
        return 1;
    }
}
