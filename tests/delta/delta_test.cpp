// The difference engine and its use for a catalogue entry, on real files: a database of fixed-size records whose
// next version changes, inserts and deletes records at random places, as a real one does.
#include "delta/delta.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "catalogue/catalogue.h"
#include "platform/mapped_file.h"
#include "signing/signing.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

constexpr std::size_t kRecordSize = 64;

std::string RandomRecord(std::mt19937_64& random) {
    std::string record(kRecordSize, '\0');
    for (char& c : record) c = static_cast<char>(random());
    return record;
}

std::string Database(std::size_t records, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::string text;
    for (std::size_t i = 0; i < records; ++i) text += RandomRecord(random);
    return text;
}

// 1% of the records changed, 0.5% inserted and 0.5% deleted, each at a random place.
std::string NextRelease(const std::string& database, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::vector<std::string> records;
    for (std::size_t at = 0; at < database.size(); at += kRecordSize) records.push_back(database.substr(at, kRecordSize));
    const std::size_t count = records.size();
    const auto anyRecord = [&] { return static_cast<std::size_t>(random() % records.size()); };
    for (std::size_t i = 0; i < count / 100; ++i) records[anyRecord()] = RandomRecord(random);
    for (std::size_t i = 0; i < count / 200; ++i) records.insert(records.begin() + anyRecord(), RandomRecord(random));
    for (std::size_t i = 0; i < count / 200; ++i) records.erase(records.begin() + anyRecord());
    std::string text;
    for (const std::string& record : records) text += record;
    return text;
}

std::string Changed(std::string text, std::size_t at) {
    text[at] = static_cast<char>(text[at] ^ 0x5a);
    return text;
}

std::string ApplyFailure(const std::function<void()>& apply) {
    try {
        apply();
    } catch (const EDeltaError& error) {
        return error.what();
    }
    return "";
}

struct Release {
    TempDir dir;
    std::string base = Database(40000, 1);  // 2.5 MB
    std::string fresh = NextRelease(base, 2);
    std::string baseFile = dir / "base.db";
    std::string freshFile = dir / "fresh.db";
    std::string deltaFile = dir / "fresh.db.delta";
    std::string output = dir / "rebuilt.db";

    Release() {
        WriteFile(baseFile, base);
        WriteFile(freshFile, fresh);
        MakeDelta(baseFile, freshFile, deltaFile);
    }
};

TEST(DeltaEngine, RebuildsTheNewVersionFromASmallDifferenceAndShowsEveryByteOnce) {
    TempDir dir;
    const std::string database = Database(40000, 1);
    struct Case {
        const char* name;
        std::string base, fresh;
        std::size_t largestDelta;
    };
    const Case cases[] = {
        // 400 changed and 200 inserted records are 38,400 new bytes; the rest comes from the base.
        {"next release", database, NextRelease(database, 2), 60000},
        {"empty base", "", database.substr(0, 100000), 100200},
        {"empty new version", database.substr(0, 1000), "", 100},
        {"same version", database, database, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(dir / "base", c.base);
        WriteFile(dir / "new", c.fresh);
        MakeDelta(dir / "base", dir / "new", dir / "delta");
        EXPECT_LE(ReadFile(dir / "delta").size(), c.largestDelta);
        std::string seen;
        ApplyDelta(dir / "base", dir / "delta", dir / "rebuilt", static_cast<std::int64_t>(c.fresh.size()),
                   [&](const char* bytes, std::size_t length) { seen.append(bytes, length); });
        EXPECT_TRUE(ReadFile(dir / "rebuilt") == c.fresh);
        EXPECT_TRUE(seen == c.fresh);
    }
}

TEST(DeltaEngine, RefusesADifferenceThatDoesNotRebuildTheExpectedFile) {
    Release release;
    const std::string delta = ReadFile(release.deltaFile);
    const auto size = static_cast<std::int64_t>(release.fresh.size());
    struct Case {
        const char* name;
        std::string delta, base;
        std::int64_t expectedSize;
    };
    const Case cases[] = {
        {"damaged in the middle", Changed(delta, delta.size() / 2), release.base, size},
        {"damaged checksum", Changed(delta, delta.size() - 1), release.base, size},
        {"cut short", delta.substr(0, delta.size() / 2), release.base, size},
        {"not a difference", release.fresh.substr(0, 5000), release.base, size},
        {"empty", "", release.base, size},
        {"another base of the same size", delta, Changed(release.base, 1000), size},
        {"another base", delta, release.base.substr(64), size},
        {"one byte more expected", delta, release.base, size + 1},
        {"one byte less expected", delta, release.base, size - 1},
        {"negative size expected", delta, release.base, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(release.dir / "case.delta", c.delta);
        WriteFile(release.dir / "case.base", c.base);
        const std::string why = ApplyFailure([&] {
            ApplyDelta(release.dir / "case.base", release.dir / "case.delta", release.output, c.expectedSize, nullptr);
        });
        EXPECT_FALSE(why.empty());
        EXPECT_EQ(why.find('\n'), std::string::npos) << why;
    }
    EXPECT_NE(ApplyFailure([&] {
                  ApplyDelta(release.dir / "missing.base", release.deltaFile, release.output, size, nullptr);
              }).find("missing.base"),
              std::string::npos);
}

TEST(MappedFile, MapsEmptyFilesAndWritesThroughMemory) {
    TempDir dir;
    platform::MappedFile file;
    std::string why;
    WriteFile(dir / "empty", "");
    ASSERT_TRUE(file.MapForReading(dir / "empty", why)) << why;
    EXPECT_EQ(file.Size(), 0u);

    ASSERT_TRUE(file.CreateForWriting(dir / "written", 5, why)) << why;
    std::copy_n("bytes", 5, file.WritableData());
    file.Unmap();
    EXPECT_EQ(ReadFile(dir / "written"), "bytes");
    ASSERT_TRUE(file.CreateForWriting(dir / "written", 0, why)) << why;
    EXPECT_EQ(ReadFile(dir / "written"), "");

    EXPECT_FALSE(file.MapForReading(dir / "missing", why));
    EXPECT_NE(why.find("missing"), std::string::npos) << why;
}

#ifndef _WIN32
// Someone who cuts a file short while it is mapped makes its lost pages fault: the work stops there, the program
// goes on, and the next work runs as usual.
TEST(MappedFile, WorkOverAFileCutShortBeneathItStopsAndTheProgramGoesOn) {
    TempDir dir;
    WriteFile(dir / "base", std::string(3 * 65536, 'b'));
    platform::MappedFile file;
    std::string why;
    ASSERT_TRUE(file.MapForReading(dir / "base", why)) << why;
    struct Reading {
        const char* at;
        char last = 0;
    } reading{file.Data() + file.Size() - 1};
    const auto readLast = [](void* job) {
        auto& r = *static_cast<Reading*>(job);
        r.last = *static_cast<const volatile char*>(r.at);
    };
    ASSERT_TRUE(platform::RunOverMappedFiles(readLast, &reading));
    EXPECT_EQ(reading.last, 'b');
    std::filesystem::resize_file(dir / "base", 0);
    EXPECT_FALSE(platform::RunOverMappedFiles(readLast, &reading));
    WriteFile(dir / "base", std::string(3 * 65536, 'c'));
    EXPECT_TRUE(platform::RunOverMappedFiles(readLast, &reading));
    EXPECT_EQ(reading.last, 'c');
}
#endif

TRef<TXmlDDocument> Load(const std::string& text) {
    TRef<TXmlDDocument> document(new TXmlDDocument());
    LoadXml(document.get(), text);
    return document;
}

std::string DeltaElement(const std::string& base, const std::string& delta, const std::string& download,
                         bool withSha256 = true) {
    return "<delta><basesize>" + std::to_string(base.size()) + "</basesize><basesha256>" + Sha256Hex(base) +
           "</basesha256><size>" + std::to_string(delta.size()) + "</size>" +
           (withSha256 ? "<sha256>" + Sha256Hex(delta) + "</sha256>" : "") + "<download>" + download +
           "</download></delta>";
}

TEST(DeltaUse, ChoosesTheDifferenceWhoseBaseTheLocalFileIs) {
    Release release;
    const std::string older = Database(30000, 3);
    const std::string delta = ReadFile(release.deltaFile);
    const auto document = Load(
        "<entry><name>fresh.db</name>" + DeltaElement(older, "older difference", "older.delta") +
        DeltaElement(release.base, delta, "base.delta", false) +
        "<delta><basesize>5</basesize><size>9</size><download>no-base-sha256.delta</download></delta>"
        "<delta><basesize>5</basesize><basesha256>" + Sha256Hex("other") + "</basesha256><size>0</size>"
        "<download>empty.delta</download></delta></entry>");
    const std::vector<TDeltaRef> deltas = ReadDeltas(document->FirstChild());
    ASSERT_EQ(deltas.size(), 2u);
    EXPECT_EQ(deltas[0].Download, "older.delta");
    EXPECT_EQ(deltas[0].Sha256, Sha256Hex("older difference"));
    EXPECT_EQ(deltas[1].Size, static_cast<int32_t>(delta.size()));
    EXPECT_EQ(deltas[1].Sha256, "");

    const auto chosen = DeltaForLocalFile(deltas, release.baseFile);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->Download, "base.delta");
    WriteFile(release.dir / "same size", Changed(release.base, 0));
    EXPECT_FALSE(DeltaForLocalFile(deltas, release.dir / "same size").has_value());
    EXPECT_FALSE(DeltaForLocalFile(deltas, release.freshFile).has_value());
    EXPECT_FALSE(DeltaForLocalFile(deltas, release.dir / "missing").has_value());
}

TEST(DeltaUse, RebuildsACandidateReadyForItsTestOrRefusesTheDifference) {
    Release release;
    const std::string delta = ReadFile(release.deltaFile);
    const TDeltaRef offered{static_cast<int64_t>(release.base.size()), Sha256Hex(release.base),
                            static_cast<int32_t>(delta.size()), Sha256Hex(delta), "fresh.db.delta"};
    const auto entrySize = static_cast<int32_t>(release.fresh.size());
    // The whole file's CRC, read back, against the one taken while it was rebuilt.
    const auto crc = static_cast<int32_t>(FileCrc(release.freshFile));
    for (const bool verifying : {false, true}) {
        SCOPED_TRACE(verifying ? "verifying" : "not verifying");
        const TPreparedPackage package =
            RebuildFromDelta(offered, release.baseFile, release.deltaFile, release.output, entrySize, verifying);
        EXPECT_EQ(package.Candidate, release.output);
        EXPECT_TRUE(ReadFile(release.output) == release.fresh);
        EXPECT_EQ(package.CandidateSha256.has_value(), verifying);
        const std::optional<std::string> sha256 =
            verifying ? std::optional<std::string>(Sha256Hex(release.fresh)) : std::nullopt;
        EXPECT_EQ(CheckCandidate(package, entrySize, crc, sha256), TCandidateCheck::Matches);
    }

    TDeltaRef otherSize = offered, otherSha256 = offered, unhashed = offered;
    otherSize.Size += 1;
    otherSha256.Sha256 = Sha256Hex("another difference");
    unhashed.Sha256.clear();
    struct Case {
        const char* name;
        TDeltaRef delta;
        int32_t entrySize;
        bool verifying;
    };
    const Case refused[] = {
        {"another size than offered", otherSize, entrySize, false},
        {"another SHA-256 than offered", otherSha256, entrySize, false},
        {"no SHA-256 in a verifying installation", unhashed, entrySize, true},
        {"another size of the entry's file", offered, entrySize + 1, false},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.name);
        WriteFile(release.output, "left from before");
        EXPECT_THROW(RebuildFromDelta(c.delta, release.baseFile, release.deltaFile, release.output, c.entrySize,
                                      c.verifying),
                     EDeltaError);
        EXPECT_FALSE(FileExists(release.output) && ReadFile(release.output) == release.fresh);
    }
}

}  // namespace

#ifdef ORVANE_EXE
namespace {

// The 32-bit program maps a database and the file rebuilt from it side by side: on 64-bit Windows it gets 4 GB
// of address space for them only when its header says it handles addresses above 2 GB.
TEST(DeltaEngine, ShippedProgramMayUseTheLargeAddressSpace) {
    const std::string program = ReadFile(ORVANE_EXE);
    ASSERT_GT(program.size(), 0x40u);
    std::uint32_t peHeader = 0;
    std::copy_n(program.data() + 0x3c, 4, reinterpret_cast<char*>(&peHeader));
    ASSERT_LT(peHeader + 24u, program.size());
    ASSERT_EQ(program.substr(peHeader, 4), std::string("PE\0\0", 4));
    std::uint16_t characteristics = 0;
    std::copy_n(program.data() + peHeader + 22, 2, reinterpret_cast<char*>(&characteristics));
    constexpr std::uint16_t kLargeAddressAware = 0x0020;
    EXPECT_NE(characteristics & kLargeAddressAware, 0);
}

}  // namespace
#endif
