// Mirror runs against servers that stall, change a package between a cut and its resume, turn requests away
// (503, 429, reset connections) or answer a resume with 416: the run waits a bounded time, resumes only the same
// file, backs off, and fails only with a line that says why.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "tests/e2e/release_fixture.h"
#include "tests/e2e/windowless_sandbox.h"
#include "tests/support/nginx_server.h"
#include "tests/support/scripted_server.h"

namespace {

using namespace testsupport;

const std::string Content = std::string(6000, 'r') + "package as published\n";
const std::string NewContent = std::string(6000, 'n') + "package published since\n";
constexpr size_t Cut = 2500;

std::string Whole(const std::string& content, const std::string& etag) {
    return "HTTP/1.1 200 OK\r\nETag: " + etag + "\r\nContent-Length: " + std::to_string(content.size()) +
           "\r\n\r\n" + content;
}
// The first answer for Content, up to the cut.
std::string UpToTheCut() {
    const std::string whole = Whole(Content, "\"v1\"");
    return whole.substr(0, whole.size() - Content.size() + Cut);
}
// The header block of the rest of Content from the cut, stating `total` as the whole length.
std::string RestHead(size_t total) {
    return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(Cut) + "-" +
           std::to_string(Content.size() - 1) + "/" + std::to_string(total) +
           "\r\nContent-Length: " + std::to_string(Content.size() - Cut) + "\r\n\r\n";
}
std::string Rest(size_t total) { return RestHead(total) + Content.substr(Cut); }
std::string Refusal(const std::string& status, const std::string& extra) {
    return "HTTP/1.1 " + status + "\r\n" + extra + "Content-Length: 0\r\nConnection: close\r\n\r\n";
}

void WriteCommonIni(const WindowlessSandbox& sandbox, int connections, int readTimeout) {
    WriteFile(sandbox.programFolder() + "common.ini", "[general]\r\nConnections=" + std::to_string(connections) +
                                                          "\r\nReadTimeout=" + std::to_string(readTimeout) + "\r\n");
}

std::string Entry(const std::string& fileName, const std::string& url) {
    return "<file><name>" + fileName + "</name><filename>" + fileName + "</filename><crc>" + CrcText(Content) +
           "</crc><download>" + url + "</download><size>" + std::to_string(Content.size()) +
           "</size><action>copy</action></file>";
}

// Every request the scripted server received, connection by connection.
std::string AllReceived(const ScriptedServer& server) {
    std::string all;
    for (int i = 0; i < server.ConnectionCount(); ++i) all += server.Received(i);
    return all;
}

TEST(MirrorOnUnfriendlyServers, EachTroubleEndsAsAnOperatorExpects) {
    const ConnectionScript cut = {AwaitRequest(), Send(UpToTheCut()), Close()};
    const ConnectionScript stalled = {AwaitRequest(), Send(UpToTheCut()), Stall()};
    const ConnectionScript stalledRest = {AwaitRequest(), Send(RestHead(Content.size())), Stall()};
    const ConnectionScript busy = {AwaitRequest(), Send(Refusal("503 Service Unavailable", "Retry-After: 1\r\n")),
                                   Close()};
    const ConnectionScript busyNow = {AwaitRequest(), Send(Refusal("429 Too Many Requests", "Retry-After: 0\r\n")),
                                      Close()};
    const auto answer = [](const std::string& bytes) { return ConnectionScript{AwaitRequest(), Send(bytes)}; };
    struct Case {
        const char* what;
        std::vector<ConnectionScript> scripts;
        int status;
        bool stored;
        std::vector<std::string> sent;       // texts the requests must hold, all connections together
        std::string reason;                  // in the line of a run that stops
    };
    const Case cases[] = {
        {"stall mid-body once", {stalled, answer(Rest(Content.size()))}, 0, true,
         {"\r\nRange: bytes=" + std::to_string(Cut) + "-\r\nIf-Range: \"v1\"\r\n"}, ""},
        {"cut, then a new version answers the If-Range whole", {cut, answer(Whole(NewContent, "\"v2\""))}, 0, false,
         {"If-Range: \"v1\""}, ""},
        {"cut, then the rest of a file of another length", {cut, answer(Rest(Content.size() + 1)),
                                                            answer(Whole(Content, "\"v1\""))},
         0, true, {"If-Range: \"v1\""}, ""},
        {"416 with bytes */N starts over",
         {cut, {AwaitRequest(), Send(Refusal("416 Range Not Satisfiable",
                                             "Content-Range: bytes */" + std::to_string(Content.size()) + "\r\n")),
                Close()},
          answer(Whole(Content, "\"v1\""))},
         0, true, {}, ""},
        {"503 once, then served", {busy, answer(Whole(Content, "\"v1\""))}, 0, true, {}, ""},
        {"reset before any answer, then served", {{AwaitRequest(), Reset()}, answer(Whole(Content, "\"v1\""))}, 0,
         true, {}, ""},
        {"429 on every attempt", {busyNow, busyNow, busyNow, busyNow}, 196, false, {}, "\"Connections\""},
        {"silent after every resume", {stalled, stalledRest, stalledRest, stalledRest}, 196, false, {},
         "sent nothing for 1 s (\"ReadTimeout\" in common.ini)"},
    };
    for (const int connections : {1, 6}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " with connections " + std::to_string(connections));
            NginxServer server;
            WindowlessSandbox sandbox(server.port());
            WriteCommonIni(sandbox, connections, 1);
            ScriptedServer packages(c.scripts);
            Release release(server, "v1");
            release.AddGroupXml("database", Entry("p.dat", packages.Url("/p.dat")));
            release.Publish();

            const ProgramRun run = sandbox.Mirror();
            EXPECT_TRUE(EndedQuietly(run, c.status));
            EXPECT_NE(run.errorOutput.find(c.reason), std::string::npos) << run.errorOutput;
            EXPECT_EQ(FileExists(sandbox.share() + "p.dat"), c.stored);
            EXPECT_EQ(c.stored ? ReadFile(sandbox.share() + "p.dat") : Content, Content);
            // A package that changed is left out of the catalogue clients read; it is never spliced.
            if (c.status == 0) {
                EXPECT_EQ(ReadFile(sandbox.share() + "latest.xml").find("p.dat") != std::string::npos, c.stored);
            }
            EXPECT_EQ(packages.ConnectionCount(), static_cast<int>(c.scripts.size()));
            for (const std::string& text : c.sent) EXPECT_NE(AllReceived(packages).find(text), std::string::npos);
        }
    }
}

// Packages served by one connection of a server that resets every other one: the run goes on with the one
// that works.
TEST(MirrorOnUnfriendlyServers, ExtraConnectionsResetLeaveOneThatServesAll) {
    const std::map<std::string, std::string> contents = {
        {"/a.dat", "first package\n"}, {"/b.dat", "second package\n"}, {"/c.dat", "third package\n"}};
    const auto serve = [&](const std::string& request) {
        const std::string target = request.substr(4, request.find(' ', 4) - 4);
        return Whole(contents.at(target), "\"x\"");
    };
    NginxServer server;
    WindowlessSandbox sandbox(server.port());
    WriteCommonIni(sandbox, 6, 5);
    ScriptedServer packages({{Reply(serve), Reply(serve), Reply(serve)}, {Reset()}, {Reset()}, {Reset()}});
    Release release(server, "v1");
    std::string group;
    for (const auto& [target, content] : contents)
        group += "<file><name>n</name><filename>" + target.substr(1) + "</filename><crc>" + CrcText(content) +
                 "</crc><download>" + packages.Url(target) + "</download><size>" +
                 std::to_string(content.size()) + "</size></file>";
    release.AddGroupXml("database", group);
    release.Publish();

    EXPECT_TRUE(EndedQuietly(sandbox.Mirror(), 0));
    std::map<std::string, std::string> stored = FilesBelow(sandbox.share());
    stored.erase("latest.xml");
    EXPECT_EQ(stored, (std::map<std::string, std::string>{
                          {"a.dat", contents.at("/a.dat")}, {"b.dat", contents.at("/b.dat")},
                          {"c.dat", contents.at("/c.dat")}}));
}

// nginx answers 503 to a client's second connection while its first one is busy: with the default six
// connections the run still stores every file.
TEST(MirrorOnUnfriendlyServers, AServerAllowingOneConnectionGetsEveryFileStored) {
    // Each answer lasts a while (nginx sends a second's worth at once, then keeps the rate), so that the
    // connections of the run meet one another.
    NginxServer server("limit_conn perip 1; limit_rate 32k;");
    WindowlessSandbox sandbox(server.port());
    Release release(server, "v1");
    std::map<std::string, std::string> expected;
    for (int i = 0; i < 4; ++i) {
        const std::string name = "f" + std::to_string(i) + ".dat";
        std::string content(size_t{40} << 10, static_cast<char>('a' + i));
        release.AddFile("database", name, content);
        expected[name] = content;
    }
    release.Publish();

    EXPECT_TRUE(EndedQuietly(sandbox.Mirror(), 0));
    std::map<std::string, std::string> stored = FilesBelow(sandbox.share());
    stored.erase("latest.xml");
    EXPECT_TRUE(stored == expected);
    // The server did turn connections away: the run was tested against what it is meant to survive.
    EXPECT_NE(server.AccessLog().find("\" 503 "), std::string::npos) << server.AccessLog();
}

}  // namespace
