// Mirror runs against a release whose database entry offers a difference from the previous version: the shared
// copy that is its base is rebuilt from it, and every way the difference can fail falls back to the package in
// the same run, with the right file in the end, on one connection and on several.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "OVCommon/OVCommon.h"
#include "delta/delta.h"
#include "signing/signing.h"
#include "tests/e2e/release_fixture.h"
#include "tests/e2e/windowless_sandbox.h"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

// A database of 4096 records of 64 bytes that hardly compress; a version differs from version 1 in every 97th
// record (from `first` on), as a day's changes do.
std::string Database(int version, int first = 0) {
    std::string records;
    uint32_t state = 7;
    for (int record = 0; record < 4096; ++record) {
        const bool changed = version != 1 && record >= first && record % 97 == 0;
        uint32_t recordState = changed ? state ^ static_cast<uint32_t>(version * 7919 + 1) : state;
        for (int n = 0; n < 64; ++n)
            records += static_cast<char>((recordState = recordState * 1664525u + 1013904223u) >> 24);
        state += 977;
    }
    return records;
}

struct Versions {
    const std::string v0 = Database(0);        // another version the share may hold
    const std::string v1 = Database(1);        // the base of the offered difference
    const std::string v2 = Database(2);        // the release's file
    const std::string wrong = Database(3, 2048);  // of v2's size, with other records changed
};

// The difference that rebuilds `to` from `from`, as its file's bytes.
std::string DeltaBytes(const TempDir& dir, const std::string& from, const std::string& to) {
    WriteFile(dir / "from", from);
    WriteFile(dir / "to", to);
    MakeDelta(dir / "from", dir / "to", dir / "delta");
    return ReadFile(dir / "delta");
}

std::string DeltaXml(const std::string& base, const std::string& delta, bool withSha256, const std::string& url) {
    return "<delta><basesize>" + std::to_string(base.size()) + "</basesize><basesha256>" + Sha256Hex(base) +
           "</basesha256><size>" + std::to_string(delta.size()) + "</size>" +
           (withSha256 ? "<sha256>" + Sha256Hex(delta) + "</sha256>" : "") + "<download>" + url +
           "</download></delta>";
}

// A verifying installation's key, trusted by the sandbox's program, and the release signed with it.
void Trust(const WindowlessSandbox& sandbox, const TKeyPair& keys) {
    fs::create_directories(sandbox.programFolder() + "OvKeys");
    WriteFile(sandbox.programFolder() + "OvKeys/release.pub", HexText(keys.Public) + "\n");
}
void PublishSigned(const NginxServer& server, Release& release, const TKeyPair& keys) {
    release.AddRootXml(std::string("<release><product>") + kProduct + "</product><version>" + kVersion +
                       "</version><code>" + kCode + "</code><serial>1</serial><expires>2099-01-01T00:00:00Z" +
                       "</expires></release>");
    const std::string text = SignCatalogueText(release.CatalogueText(), keys);
    server.AddFile(kProductCataloguePath, text);
    server.AddFile(kQueryCataloguePath, text);
}

std::string Kilobytes(std::size_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / 1024.0);
    return text;
}

std::string Flipped(std::string bytes) {
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x55);
    return bytes;
}

TEST(MirrorDelta, TheBaseIsRebuiltFromItsDifferenceAndEveryFailureFallsBackToThePackage) {
    const Versions versions;
    TempDir made;
    const std::string good = DeltaBytes(made, versions.v1, versions.v2);
    const std::string fromOtherBase = DeltaBytes(made, versions.v0, versions.v2);
    const std::string rebuildsWrong = DeltaBytes(made, versions.v1, versions.wrong);
    ASSERT_LT(good.size() * 10, versions.v2.size());

    struct Served {
        std::string listed;  // the difference the catalogue describes
        std::string served;  // what the server holds at its URL; nothing: no file there (404)
        bool listedSha256 = true;
    };
    struct Case {
        const char* what;
        int connections;  // 0: the default
        bool signedRelease;
        const std::string& shareHolds;
        Served delta;
        std::string fallbackReason;  // the start of the reason the terminal gives; empty: no fallback
    };
    const Case cases[] = {
        {"base held", 0, false, versions.v1, {good, good}, ""},
        {"base held, one connection", 1, false, versions.v1, {good, good}, ""},
        {"base held, verifying", 0, true, versions.v1, {good, good}, ""},
        {"another version held", 1, false, versions.v0, {good, good}, ""},
        {"damaged on the server", 0, false, versions.v1, {Flipped(good), Flipped(good), false}, "the difference"},
        {"made from another base", 1, false, versions.v1, {fromOtherBase, fromOtherBase}, "the difference"},
        {"rebuilds a wrong file", 0, false, versions.v1, {rebuildsWrong, rebuildsWrong},
         "the rebuilt file has the wrong CRC"},
        {"missing", 1, false, versions.v1, {good, ""}, "its download failed"},
        {"not the signed one, verifying", 1, true, versions.v1, {good, Flipped(good)},
         "the difference's SHA-256 is not the catalogue's"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NginxServer server;
        WindowlessSandbox sandbox(server.port());
        if (c.connections)
            WriteFile(sandbox.programFolder() + "common.ini",
                      "[general]\r\nConnections=" + std::to_string(c.connections) + "\r\n");
        WriteFile(sandbox.share() + "db.dat", c.shareHolds);
        const Served& delta = c.delta;
        const bool baseHeld = &c.shareHolds == &versions.v1;
        const bool deltaUsed = baseHeld && c.fallbackReason.empty();
        const std::string deltaPath = "deltas/db.dat.delta";
        if (!delta.served.empty()) server.AddFile(deltaPath, delta.served);
        Release release(server, "v2");
        ReleaseFile& db = release.AddFile("database", "db.dat", versions.v2);
        if (c.signedRelease) db.extraXml = "<sha256>" + Sha256Hex(versions.v2) + "</sha256>";
        db.extraXml += DeltaXml(versions.v1, delta.listed, delta.listedSha256, server.Url(deltaPath));
        const TKeyPair keys = GenerateKeyPair();
        if (c.signedRelease) {
            Trust(sandbox, keys);
            PublishSigned(server, release, keys);
        } else {
            release.Publish();
        }

        const auto run = RunOnTerminal(sandbox.Launch(sandbox.MirrorArguments()));
        EXPECT_EQ(run.status, 0) << run.errorOutput;
        EXPECT_EQ(ReadFile(sandbox.share() + "db.dat"), versions.v2);
        const std::vector<std::string> requests = RequestedTargets(server.AccessLog());
        const auto requested = [&](const std::string& path) {
            return std::count(requests.begin(), requests.end(), "/" + path);
        };
        EXPECT_EQ(requested(deltaPath), baseHeld ? 1 : 0);
        EXPECT_EQ(requested(db.packagePath), deltaUsed ? 0 : 1);

        const std::string& shown = run.errorOutput;
        const std::string file = sandbox.share() + "db.dat";
        const std::string saving = ": from a difference, " + Kilobytes(good.size()) + " fetched instead of " +
                                   Kilobytes(versions.v2.size()) + " (" +
                                   std::to_string((versions.v2.size() - good.size()) * 100 / versions.v2.size()) +
                                   "% saved)\r\n";
        EXPECT_EQ(shown.find("stored   " + file + saving) != std::string::npos, deltaUsed) << shown;
        const std::string fallback = "difference of " + file + " not used (" + c.fallbackReason;
        EXPECT_EQ(shown.find(fallback) != std::string::npos, !c.fallbackReason.empty()) << shown;
        EXPECT_EQ(shown.find("); fetching its package\r\n") != std::string::npos, !c.fallbackReason.empty());
        EXPECT_NE(shown.find("Mirror run finished: 1 stored, 0 up to date."), std::string::npos) << shown;

        // Clients are never pointed at the server's differences; the signed catalogue keeps them, and a
        // verifying client walks it as before.
        EXPECT_EQ(ReadFile(sandbox.share() + "latest.xml").find("delta"), std::string::npos);
        // The file, latest.xml, the signed catalogue: no difference or rebuilt file is left.
        EXPECT_EQ(FilesBelow(sandbox.share()).size(), c.signedRelease ? 3u : 2u);
        if (c.signedRelease) {
            EXPECT_TRUE(EndedQuietly(sandbox.Client(), 0));
            EXPECT_EQ(ReadFile(sandbox.programFolder() + "db.dat"), versions.v2);
        }
        EXPECT_EQ(FilesBelow(sandbox.tmp()), (std::map<std::string, std::string>{}));
    }
}

}  // namespace
