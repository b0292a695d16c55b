// Mirror runs that fetch packages ahead of their stores on several connections: a failure stops the run exactly
// where a run of one connection stops, the share does not depend on the number of connections, and a download
// whose connection breaks is resumed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "OVCommon/OVCommon.h"
#include "tests/e2e/release_fixture.h"
#include "tests/e2e/windowless_sandbox.h"
#include "tests/support/scripted_server.h"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

void SetConnections(const WindowlessSandbox& sandbox, int connections) {
    WriteFile(sandbox.programFolder() + "common.ini",
              "[general]\r\nConnections=" + std::to_string(connections) + "\r\n");
}

// Entry i of a release of 40: plain and zipped packages, every seventh one large enough to take a while and,
// as it hardly compresses, for its package to be received into a file rather than memory.
std::string EntryName(int i) { return "f" + std::to_string(i) + ".dat"; }
std::string EntryContent(int i) {
    std::string content = "content of entry " + std::to_string(i) + "\n";
    uint32_t state = static_cast<uint32_t>(i) + 1;
    if (i % 7 == 3)
        for (size_t n = 0; n < (size_t{1200} << 10); ++n)
            content += static_cast<char>((state = state * 1664525u + 1013904223u) >> 24);
    return content;
}

// Nothing of a run is left in the temporary folder: no download, no work folder.
void ExpectNothingLeftIn(const std::string& tmp) {
    EXPECT_EQ(FilesBelow(tmp), (std::map<std::string, std::string>{}));
    for (const auto& left : fs::recursive_directory_iterator(tmp))
        EXPECT_NE(left.path().filename().string().rfind("mirror-", 0), 0u) << left.path();
}

std::vector<ReleaseFile*> PublishForty(Release& release) {
    std::vector<ReleaseFile*> files;
    for (int i = 0; i < 40; ++i)
        files.push_back(i % 2 ? &release.AddZipped("database", EntryName(i), EntryContent(i))
                              : &release.AddFile("database", EntryName(i), EntryContent(i)));
    return files;
}

TEST(MirrorAhead, AFailingEntryStopsTheRunAfterExactlyTheEntriesBeforeIt) {
    struct Case {
        const char* what;
        int failing;
        std::function<void(const NginxServer&, const ReleaseFile&)> spoil;
        int status;
    };
    const auto missing = [](const NginxServer& server, const ReleaseFile& file) {
        fs::remove(server.webRoot() + file.packagePath);
    };
    const auto damaged = [](const NginxServer& server, const ReleaseFile& file) {
        server.AddFile(file.packagePath, "PK\x03\x04 but no archive follows");
    };
    const Case cases[] = {{"404 early", 2, missing, 196},   {"404 late", 30, missing, 196},
                          {"damaged zip", 17, damaged, 186}, {"damaged first", 0, damaged, 186},
                          {"404 last", 39, missing, 196}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NginxServer server;
        WindowlessSandbox sandbox(server.port());
        SetConnections(sandbox, 8);
        Release release(server, "v1");
        const std::vector<ReleaseFile*> files = PublishForty(release);
        release.Publish();
        c.spoil(server, *files[static_cast<size_t>(c.failing)]);

        EXPECT_TRUE(EndedQuietly(sandbox.Mirror(), c.status));
        std::map<std::string, std::string> expected;
        for (int i = 0; i < c.failing; ++i) expected[EntryName(i)] = EntryContent(i);
        EXPECT_EQ(FilesBelow(sandbox.share()), expected);
        ExpectNothingLeftIn(sandbox.tmp());
    }
}

TEST(MirrorAhead, OneConnectionAndEightGiveTheSameShareAndRequests) {
    NginxServer server;
    WindowlessSandbox sandbox(server.port());
    Release release(server, "v1");
    PublishForty(release);
    release.AddZipped("tools", "sub\\a.dll", "tool library\n", {{"b.dat", "data of the tool\n"}});
    release.AddFile("program", "brellium.exe", VersionedProgram(u"1, 2, 3, 4"));
    release.AddRemoval("database", "gone.dat");
    release.Publish();
    WriteFile(sandbox.share() + "gone.dat", "to be removed\n");
    const auto mirrorWith = [&](int connections) {
        SetConnections(sandbox, connections);
        const size_t earlier = RequestedTargets(server.AccessLog()).size();
        EXPECT_TRUE(EndedQuietly(sandbox.Mirror(), 0));
        std::vector<std::string> requests = RequestedTargets(server.AccessLog());
        requests.erase(requests.begin(), requests.begin() + static_cast<std::ptrdiff_t>(earlier));
        std::sort(requests.begin(), requests.end());
        const auto share = FilesBelow(sandbox.share());
        fs::remove_all(sandbox.share());
        fs::create_directories(sandbox.share());
        WriteFile(sandbox.share() + "gone.dat", "to be removed\n");
        return std::make_pair(share, requests);
    };
    const auto one = mirrorWith(1);
    const auto eight = mirrorWith(8);
    EXPECT_EQ(one.first.size(), 45u);  // 40 entries, two tool files, the program, its version marker, latest.xml
    EXPECT_EQ(one.first.count("gone.dat"), 0u);
    EXPECT_TRUE(one.first == eight.first);
    EXPECT_EQ(one.second, eight.second);
    EXPECT_EQ(one.second.size(), 43u);
}

// A package served by a scripted server that breaks the body off: the catalogue comes from nginx and names it.
TEST(MirrorAhead, ABrokenOffDownloadResumesOrStartsOverOrFails) {
    const std::string content = std::string(6000, 'r') + "resumed package\n";
    const std::string whole = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(content.size()) + "\r\n\r\n";
    const size_t cut = 2500;
    const std::string firstPart = whole + content.substr(0, cut);
    const std::string rest = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(cut) + "-" +
                             std::to_string(content.size() - 1) + "/" + std::to_string(content.size()) +
                             "\r\nContent-Length: " + std::to_string(content.size() - cut) + "\r\n\r\n" +
                             content.substr(cut);
    const ConnectionScript broken = {AwaitRequest(), Send(firstPart), Close()};
    // The answer to the Range request, broken off before any of its body.
    const ConnectionScript brokenRest = {AwaitRequest(), Send(rest.substr(0, rest.find("\r\n\r\n") + 4)), Reset()};
    struct Case {
        const char* what;
        std::vector<ConnectionScript> scripts;
        int status;
        bool stored;
    };
    const Case cases[] = {
        {"resumed", {broken, {AwaitRequest(), Send(rest)}}, 0, true},
        {"resumed twice", {broken, brokenRest, {AwaitRequest(), Send(rest)}}, 0, true},
        {"whole file instead of the rest", {broken, {AwaitRequest(), Send(whole + content)}}, 0, true},
        {"broken off four times", {broken, brokenRest, brokenRest, brokenRest, {AwaitRequest(), Send(rest)}}, 196,
         false},
    };
    for (const int connections : {1, 6}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " with connections " + std::to_string(connections));
            NginxServer server;
            WindowlessSandbox sandbox(server.port());
            SetConnections(sandbox, connections);
            ScriptedServer packages(c.scripts);
            Release release(server, "v1");
            release.AddGroupXml("database", "<file><name>p.dat</name><filename>p.dat</filename><crc>" +
                                                CrcText(content) + "</crc><download>" + packages.Url("/p.dat") +
                                                "</download><size>" + std::to_string(content.size()) +
                                                "</size><action>copy</action></file>");
            release.Publish();

            EXPECT_TRUE(EndedQuietly(sandbox.Mirror(), c.status));
            EXPECT_EQ(FileExists(sandbox.share() + "p.dat"), c.stored);
            EXPECT_EQ(c.stored ? ReadFile(sandbox.share() + "p.dat") : content, content);
            ASSERT_GE(packages.ConnectionCount(), 2);
            EXPECT_NE(packages.Received(1).find("\r\nRange: bytes=" + std::to_string(cut) + "-\r\n"),
                      std::string::npos)
                << packages.Received(1);
            EXPECT_EQ(packages.ConnectionCount(), static_cast<int>(c.scripts.size()) - (c.stored ? 0 : 1));
            ExpectNothingLeftIn(sandbox.tmp());
        }
    }
}

}  // namespace
