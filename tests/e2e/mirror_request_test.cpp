// The catalogue request of a mirror run without a product: the query request on the update server, with the
// query text built from CODE and VERSION or, without them, taken from the main program ("/R", which uses the
// machine-wide shared block).
#include <gtest/gtest.h>

#include "tests/e2e/release_fixture.h"
#include "tests/e2e/windowless_sandbox.h"

namespace {

using namespace testsupport;

TEST(MirrorQueryRequest, TakesItsTextFromTheSettingsOrFromTheMainProgram) {
    NginxServer server;
    WindowlessSandbox sandbox(server.port(), WindowlessSandbox::MainProgram::Present);
    Release release(server, "v1");
    release.AddFile("program", "brellium.exe", VersionedProgram(u"2, 0, 1"));
    release.Publish();
    const std::string share = "SFLD=" + sandbox.share();

    auto run = sandbox.Run({"/ENTS", share, "CODE=abc", "VERSION=5.0"});
    EXPECT_TRUE(EndedQuietly(run, 0));
    auto requests = RequestedTargets(server.AccessLog());
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].rfind("/brellium/orvane.php?request=update&code=abc&version=5.0&timestamp=", 0), 0u)
        << requests[0];
    // Without a product the version marker has no prefix.
    EXPECT_EQ(ReadFile(sandbox.share() + "LastVersion.txt"), "2,0,1\r\n");
    EXPECT_TRUE(sandbox.MainProgramStarts().empty());

    run = sandbox.Run({"/ENTS", share}, {"BRELLIUM_QUERY_TEXT=&code=zz&version=9&timestamp=1"});
    EXPECT_TRUE(EndedQuietly(run, 0));
    requests = RequestedTargets(server.AccessLog());
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2], "/brellium/orvane.php?request=update&code=zz&version=9&timestamp=1");
    EXPECT_EQ(sandbox.MainProgramStarts(), std::vector<std::string>{"/R"});

    // A main program that leaves no query text ends the run before any request.
    run = sandbox.Run({"/ENTS", share}, {"BRELLIUM_QUERY_TEXT="});
    EXPECT_TRUE(EndedQuietly(run, 246));
    EXPECT_EQ(RequestedTargets(server.AccessLog()).size(), 3u);
    EXPECT_EQ(sandbox.MainProgramStarts(), (std::vector<std::string>{"/R", "/R"}));
}

}  // namespace
