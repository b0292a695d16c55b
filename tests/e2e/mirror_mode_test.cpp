// Mirror runs of the built program against a release on a real nginx: what lands in the shared folder, what the
// reduced catalogue says, what is requested, and how failures end a run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "OVCommon/OVCommon.h"
#include "tests/e2e/release_fixture.h"
#include "tests/e2e/windowless_sandbox.h"
#include "tests/support/tinyproxy_server.h"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

const std::string kProductRequest = "/orvane/update/product/BREL/version/5.0/code/abc/";

std::string PackageUrlPath(const ReleaseFile& file) { return "/" + file.packagePath; }

class MirrorMode : public ::testing::Test {
protected:
    std::vector<std::string> Requests() const { return RequestedTargets(server.AccessLog()); }
    // The requests made since the given number of earlier ones.
    std::vector<std::string> RequestsAfter(size_t earlier) const {
        std::vector<std::string> requests = Requests();
        requests.erase(requests.begin(), requests.begin() + static_cast<std::ptrdiff_t>(earlier));
        return requests;
    }
    std::string Shared(const std::string& relativePath) const { return ReadFile(sandbox.share() + relativePath); }

    NginxServer server;
    WindowlessSandbox sandbox{server.port()};
};

// The release of a cold run: every kind of entry, plain and zipped packages, and nodes that are no entries.
struct FullRelease {
    explicit FullRelease(const NginxServer& server) : release(server, "v1") {
        release.AddFile("database", "db.dat", "database records, first release\n");
        release.AddZipped("database", "index.idx", "index of the records\n", {{"x/y/notes.txt", "index notes\n"}},
                          "x/y/");
        release.AddZipped("tools", "sub\\a.dll", "tool library\n", {{"b.dat", "data of the tool\n"}});
        release.AddFile("tools", "t.sh", "#!/bin/sh\necho tool\n");
        release.AddGroupXml("tools", "   <note kind=\"remark\">not an entry</note>\r\n"
                                     "   <file><name>Nameless</name></file>\r\n");
        release.AddFile("program", "brellium.exe", VersionedProgram(u"1, 2, 3, 4"));
        release.AddFile("custom", "custom.cfg", "custom settings\n");
        release.AddTopLevelXml("<run><postinstall><filename>post.sh</filename></postinstall></run>\r\n");
        release.Publish();
    }
    Release release;
};

TEST_F(MirrorMode, ColdRunStoresEveryPackageAndWritesTheReducedCatalogue) {
    FullRelease full(server);
    const auto run = sandbox.Mirror();
    EXPECT_TRUE(EndedQuietly(run, 0));

    const std::string share = sandbox.share();
    const auto entry = [&](const std::string& fileName, const std::string& content, const std::string& stored) {
        return "<file><name>" + fileName + "</name><filename>" + fileName + "</filename><crc>" + CrcText(content) +
               "</crc><download>" + share + stored + "</download><size>" + std::to_string(content.size()) +
               "</size><action>copy</action></file>";
    };
    const std::string program = VersionedProgram(u"1, 2, 3, 4");
    const std::string expectedCatalogue =
        "<xml> <update><database>" + entry("db.dat", "database records, first release\n", "db.dat") +
        entry("index.idx", "index of the records\n", "index.idx") + "</database><tools>" +
        entry("sub\\a.dll", "tool library\n", "Tools/sub/a.dll") +
        entry("t.sh", "#!/bin/sh\necho tool\n", "Tools/t.sh") +
        "<note kind=\"remark\"/><file><name>Nameless</name></file></tools><program>" +
        entry("brellium.exe", program, "brellium.exe") + "</program><custom>" +
        entry("custom.cfg", "custom settings\n", "custom.cfg") + "</custom></update></xml>";
    EXPECT_EQ(Shared("latest.xml"), expectedCatalogue);

    const std::map<std::string, std::string> expectedShare = {
        {"db.dat", "database records, first release\n"},
        {"index.idx", "index of the records\n"},
        {"notes.txt", "index notes\n"},
        {"Tools/sub/a.dll", "tool library\n"},
        {"Tools/sub/b.dat", "data of the tool\n"},
        {"Tools/t.sh", "#!/bin/sh\necho tool\n"},
        {"brellium.exe", program},
        {"custom.cfg", "custom settings\n"},
        {"BrelLastVersion.txt", "1,2,3,4\r\n"},
        {"latest.xml", expectedCatalogue}};
    EXPECT_EQ(FilesBelow(share), expectedShare);
    // A stored script can be started as a tool; the run leaves nothing in its temporary folder.
    EXPECT_EQ(access((share + "Tools/t.sh").c_str(), X_OK), 0);
    EXPECT_EQ(FilesBelow(sandbox.tmp()), (std::map<std::string, std::string>{}));
    for (const auto& left : std::filesystem::recursive_directory_iterator(sandbox.tmp()))
        EXPECT_NE(left.path().filename(), "BR") << "the unpack folder outlived the run";

    // Each package is asked for once, after the catalogue; downloads ahead may finish in any order.
    std::vector<std::string> expectedRequests;
    for (const ReleaseFile& file : full.release.files()) expectedRequests.push_back(PackageUrlPath(file));
    std::vector<std::string> requests = Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front(), kProductRequest);
    requests.erase(requests.begin());
    std::sort(requests.begin(), requests.end());
    std::sort(expectedRequests.begin(), expectedRequests.end());
    EXPECT_EQ(requests, expectedRequests);
}

TEST_F(MirrorMode, RunWithNothingToDoRequestsOnlyTheCatalogue) {
    FullRelease full(server);
    ASSERT_EQ(sandbox.Mirror().status, 0);
    std::map<std::string, std::string> shared = FilesBelow(sandbox.share());
    ASSERT_EQ(shared.erase("BrelLastVersion.txt"), 1u);
    const std::vector<std::string> rewritten{"latest.xml", "BrelLastVersion.txt"};
    const auto stamps = StampsBelow(sandbox.share(), rewritten);
    const auto catalogueStamp = StampOf(sandbox.share() + "latest.xml");
    const size_t earlierRequests = Requests().size();

    const auto run = sandbox.Mirror();
    EXPECT_TRUE(EndedQuietly(run, 0));
    EXPECT_EQ(RequestsAfter(earlierRequests), std::vector<std::string>{kProductRequest});
    // The marker is gone, as the main executable did not change; "latest.xml" is written anew, the same.
    EXPECT_EQ(FilesBelow(sandbox.share()), shared);
    EXPECT_EQ(StampsBelow(sandbox.share(), rewritten), stamps);
    EXPECT_NE(StampOf(sandbox.share() + "latest.xml"), catalogueStamp);
}

TEST_F(MirrorMode, ChangedReleaseReplacesChangedFilesAndRemovesDroppedOnes) {
    Release first(server, "v1");
    first.AddFile("database", "db.dat", "first records\n");
    first.AddFile("database", "old.dat", "soon obsolete\n");
    // A package that does not deflate below a mebibyte, unpacked in several slices.
    std::string noise(size_t{3} << 19, '\0');
    for (uint32_t state = 1; char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    first.AddZipped("tools", "large.bin", noise);
    first.AddZipped("tools", "keep.dll", "kept tool\n");
    first.Publish();
    ASSERT_EQ(sandbox.Mirror().status, 0);
    EXPECT_EQ(Shared("Tools/large.bin"), noise);
    // The zip packages' downloads are gone too.
    EXPECT_EQ(FilesBelow(sandbox.tmp()), (std::map<std::string, std::string>{}));
    const auto keptStamp = StampsBelow(sandbox.share()).at("Tools/keep.dll");
    const size_t earlierRequests = Requests().size();

    Release second(server, "v2");
    const ReleaseFile& changed = second.AddFile("database", "db.dat", "second records, longer\n");
    second.AddRemoval("database", "old.dat");
    second.AddRemoval("database", "never.dat");
    second.AddZipped("tools", "keep.dll", "kept tool\n");
    second.Publish();
    const auto run = sandbox.Mirror();
    EXPECT_TRUE(EndedQuietly(run, 0));

    EXPECT_EQ(RequestsAfter(earlierRequests), (std::vector<std::string>{kProductRequest, PackageUrlPath(changed)}));
    EXPECT_EQ(Shared("db.dat"), "second records, longer\n");
    EXPECT_FALSE(FileExists(sandbox.share() + "old.dat"));
    EXPECT_EQ(StampsBelow(sandbox.share()).at("Tools/keep.dll"), keptStamp);
    // Clients learn of the removals from the catalogue.
    const std::string catalogue = Shared("latest.xml");
    EXPECT_NE(catalogue.find("<file><name>old.dat</name><filename>old.dat</filename><size>0</size>"
                             "<action>copy</action></file>"),
              std::string::npos)
        << catalogue;
    EXPECT_NE(catalogue.find("<filename>never.dat</filename><size>0</size>"), std::string::npos) << catalogue;
}

TEST_F(MirrorMode, ServerErrorAndMissingCatalogueLeaveTheShareAsItWas) {
    Release first(server, "v1");
    first.AddFile("database", "db.dat", "first records\n");
    first.Publish();
    ASSERT_EQ(sandbox.Mirror().status, 0);
    const auto shared = FilesBelow(sandbox.share());
    const auto stamps = StampsBelow(sandbox.share());

    Release failing(server, "v2");
    const ReleaseFile& unwanted = failing.AddFile("database", "db.dat", "records nobody should see\n");
    failing.AddRootXml("<error><title>Maintenance</title><description>Come back later</description></error>");
    failing.Publish();
    auto run = sandbox.Mirror();
    EXPECT_TRUE(EndedQuietly(run, 236));
    EXPECT_EQ(StampsBelow(sandbox.share()), stamps);
    const auto requests = Requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), PackageUrlPath(unwanted)), 0);

    // Without a catalogue on the server only the version marker goes, as at the start of every run.
    fs::remove(server.webRoot() + kProductCataloguePath);
    WriteFile(sandbox.share() + "BrelLastVersion.txt", "9,9\r\n");
    run = sandbox.Mirror();
    EXPECT_TRUE(EndedQuietly(run, 196));
    EXPECT_EQ(FilesBelow(sandbox.share()), shared);
}

TEST_F(MirrorMode, BrokenPackagesStopTheRunAndMismatchedOnesAreSkipped) {
    WriteFile(sandbox.share() + "wrongcrc.dat", "previous shared copy\n");
    Release mismatches(server, "v1");
    mismatches.AddFile("database", "wrongsize.dat", "stated one byte short\n").statedSize -= 1;
    mismatches.AddFile("database", "wrongcrc.dat", "stated with another crc\n").statedCrc ^= 1;
    mismatches.AddZipped("database", "member.dat", "zipped, stated with another crc\n").statedCrc ^= 1;
    mismatches.AddFile("database", "good.dat", "after the mismatches\n");
    mismatches.Publish();
    const auto run = sandbox.Mirror();
    EXPECT_TRUE(EndedQuietly(run, 0));
    const auto shared = FilesBelow(sandbox.share());
    EXPECT_EQ(shared.count("wrongsize.dat"), 0u);
    EXPECT_EQ(shared.count("member.dat"), 0u);
    EXPECT_EQ(shared.at("wrongcrc.dat"), "previous shared copy\n");
    EXPECT_EQ(shared.at("good.dat"), "after the mismatches\n");

    // Each of these ends the run; the catalogue the clients see stays the previous one.
    const std::string catalogue = Shared("latest.xml");
    Release garbage(server, "v2");
    garbage.AddFile("database", "damaged.dat", "PK\x03\x04 but no archive follows");
    garbage.Publish();
    EXPECT_TRUE(EndedQuietly(sandbox.Mirror(), 186));
    EXPECT_EQ(Shared("latest.xml"), catalogue);

    Release badMember(server, "v3");
    const std::string memberContent = "the member's bytes are intact, its stated crc is not\n";
    const ReleaseFile& zipped = badMember.AddZipped("database", "badcrc.dat", memberContent);
    badMember.Publish();
    // The zip format's CRC is the inverted register; every copy of it (local and central header) is changed.
    const uint32_t zipCrc = ~CrcUpdate(0xFFFFFFFFu, memberContent.data(), memberContent.size());
    std::string archive = ReadFile(server.webRoot() + zipped.packagePath);
    std::string stated;
    for (int shift = 0; shift < 32; shift += 8) stated += static_cast<char>(zipCrc >> shift);  // little-endian
    size_t found = 0;
    for (size_t at = archive.find(stated); at != std::string::npos; at = archive.find(stated, at + 4), ++found)
        archive[at] ^= 1;
    ASSERT_EQ(found, 2u);
    server.AddFile(zipped.packagePath, archive);
    EXPECT_TRUE(EndedQuietly(sandbox.Mirror(), 186));
    EXPECT_EQ(Shared("latest.xml"), catalogue);
    EXPECT_FALSE(FileExists(sandbox.share() + "badcrc.dat"));

    Release missing(server, "v4");
    const ReleaseFile& lost = missing.AddFile("database", "lost.dat", "never served\n");
    missing.Publish();
    fs::remove(server.webRoot() + lost.packagePath);
    EXPECT_TRUE(EndedQuietly(sandbox.Mirror(), 196));
    EXPECT_EQ(Shared("latest.xml"), catalogue);
}

TEST_F(MirrorMode, EntriesThatLeaveTheShareAreSkipped) {
    WriteFile(sandbox.root() + "site/victim.txt", "must survive\n");
    Release release(server, "v1");
    for (const char* name : {"..\\evil.txt", "..\\..\\evil.txt", "sub\\..\\..\\evil.txt", "\\evil.txt"})
        release.AddFile("database", name, "evil\n");
    release.AddFile("tools", "..\\..\\evil.txt", "evil\n");
    release.AddFile("custom", sandbox.root() + "evil-absolute.txt", "evil\n");
    release.AddRemoval("database", "..\\victim.txt");
    const ReleaseFile& good = release.AddFile("database", "ok.dat", "a proper entry\n");
    release.Publish();
    const auto outside = StampsBelow(sandbox.root(), {"site/share", "tmp"});

    const auto run = sandbox.Mirror();
    EXPECT_TRUE(EndedQuietly(run, 0));
    EXPECT_EQ(StampsBelow(sandbox.root(), {"site/share", "tmp"}), outside);
    const auto shared = FilesBelow(sandbox.share());
    EXPECT_EQ(shared.size(), 2u);
    EXPECT_EQ(shared.at("ok.dat"), "a proper entry\n");
    // The entries stay in the catalogue as names alone, so no client acts on them either.
    const std::string& catalogue = shared.at("latest.xml");
    EXPECT_EQ(catalogue.find("<filename>"), catalogue.rfind("<filename>")) << catalogue;
    EXPECT_NE(catalogue.find("<file><name>..\\victim.txt</name></file>"), std::string::npos) << catalogue;
    EXPECT_EQ(Requests(), (std::vector<std::string>{kProductRequest, PackageUrlPath(good)}));
}

TEST_F(MirrorMode, RunsThroughAnAuthenticatingProxy) {
    TinyproxyServer proxy("updater", "s3cret");
    ASSERT_TRUE(proxy.running());
    Release release(server, "v1");
    release.AddFile("database", "db.dat", "through the proxy\n");
    release.AddZipped("tools", "a.dll", "zipped through the proxy\n");
    release.Publish();
    const std::vector<std::string> proxyArguments{"PRXSRV=127.0.0.1", "PRXPORT=" + std::to_string(proxy.port()),
                                                  "PRXUN=updater", "/PRXBA"};
    auto withPassword = [&](const std::string& password) {
        std::vector<std::string> arguments = proxyArguments;
        arguments.push_back("PRXPSWD=" + password);
        return sandbox.Mirror(arguments);
    };

    const auto run = withPassword("s3cret");
    EXPECT_TRUE(EndedQuietly(run, 0));
    EXPECT_EQ(Shared("db.dat"), "through the proxy\n");
    EXPECT_EQ(Shared("Tools/a.dll"), "zipped through the proxy\n");
    EXPECT_EQ(proxy.RequestCount(), 3);
    EXPECT_EQ(Requests().size(), 3u);

    EXPECT_TRUE(EndedQuietly(withPassword("wrong"), 196));
    EXPECT_EQ(proxy.RequestCount(), 4);
    EXPECT_EQ(Requests().size(), 3u);
}

TEST_F(MirrorMode, ConsoleShowsEachEntryAndASummaryOnATerminal) {
    Release release(server, "v1");
    release.AddFile("database", "db.dat", "shown on the console\n");
    release.AddFile("database", "short.dat", "stated too long\n").statedSize += 1;
    release.Publish();
    const auto run = RunOnTerminal(sandbox.Launch(sandbox.MirrorArguments()));
    EXPECT_EQ(run.status, 0);
    const std::string& shown = run.errorOutput;
    EXPECT_NE(shown.find("stored   " + sandbox.share() + "db.dat"), std::string::npos) << shown;
    EXPECT_NE(shown.find("skipped  " + sandbox.share() + "short.dat: wrong size"), std::string::npos) << shown;
    EXPECT_NE(shown.find("downloading"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Mirror run finished: 1 stored, 1 skipped, 0 up to date."), std::string::npos) << shown;
}

}  // namespace
