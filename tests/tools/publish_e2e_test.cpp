// Two releases published with orvane-publish into the web root of a real nginx, followed by the built
// program's mirror and client modes.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/release_fixture.h"
#include "tests/e2e/windowless_sandbox.h"
#include "tests/tools/publish_support.h"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

// The server rule the publisher's help and the README give for the query request's catalogue.
const std::string kQueryRule = "location = /brellium/orvane.php { default_type text/xml; }";


TEST(PublishedRelease, MirrorAndClientFollowTwoPublishedReleases) {
    NginxServer server(kQueryRule);
    ASSERT_TRUE(server.running());
    const WindowlessSandbox sandbox(server.port());
    const PublishRun publisher;
    const std::string mainProgram = "#!/bin/sh\nexit 0\n";  // answers the client's "/U" before each entry
    // Large enough for the next release to offer its difference.
    std::string records;
    for (int i = 0; records.size() < 100 * 1024; ++i) records += "record " + std::to_string(i * 7919 % 100003) + "\n";
    publisher.Source("records.db", records);
    publisher.Source("sig nature.db", "signatures\n");
    publisher.Source("Tools/scan.sh", "#!/bin/sh\necho scan\n");
    publisher.Source("Custom/rules.txt", "rules\n");
    publisher.Source("brellium.exe", mainProgram);
    const std::vector<std::string> product{"--product", kProduct, "--version", kVersion, "--code", kCode};
    ASSERT_EQ(publisher.Publish(server.webRoot(), server.Url("/"), product).status, 0);

    // The first mirror run asks with the query request, which the static catalogue answers whatever its text.
    const auto queryMirror = sandbox.Run({"/ENTS", "SFLD=" + sandbox.share(), "VERSION=5.0", "CODE=abc"});
    EXPECT_TRUE(EndedQuietly(queryMirror, 0));
    ASSERT_FALSE(RequestedTargets(server.AccessLog()).empty());
    EXPECT_TRUE(RequestedTargets(server.AccessLog())[0].starts_with("/brellium/orvane.php?request=update&code=abc"));
    EXPECT_TRUE(EndedQuietly(sandbox.Client(), 0));
    std::map<std::string, std::string> expected = {{"records.db", records},
                                                   {"sig nature.db", "signatures\n"},
                                                   {"Tools/scan.sh", "#!/bin/sh\necho scan\n"},
                                                   {"rules.txt", "rules\n"},
                                                   {"brellium.exe", mainProgram}};
    EXPECT_EQ(PlacedFiles(sandbox.programFolder()), expected);

    records.insert(records.size() / 2, "record 100004\n");
    publisher.Source("records.db", records);
    fs::remove(publisher.source() + "Tools/scan.sh");
    std::vector<std::string> second = product;
    second.insert(second.end(), {"--remove", "tools:scan.sh"});
    ASSERT_EQ(publisher.Publish(server.webRoot(), server.Url("/"), second).status, 0);
    const std::vector<std::string> moved{"records.db", "Tools"};
    const auto untouched = StampsBelow(sandbox.programFolder(), moved);
    const size_t earlierRequests = RequestedTargets(server.AccessLog()).size();

    // The product request this time; only the changed file is fetched, as the difference from the copy the share
    // holds, and the removal reaches the client.
    EXPECT_TRUE(EndedQuietly(sandbox.Mirror(), 0));
    std::vector<std::string> requests = RequestedTargets(server.AccessLog());
    requests.erase(requests.begin(), requests.begin() + static_cast<std::ptrdiff_t>(earlierRequests));
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], "/orvane/update/product/BREL/version/5.0/code/abc/");
    EXPECT_TRUE(requests[1].starts_with("/deltas/database/records.db.") && requests[1].ends_with(".zst")) << requests[1];
    EXPECT_FALSE(FileExists(sandbox.share() + "Tools/scan.sh"));
    EXPECT_TRUE(EndedQuietly(sandbox.Client(), 0));
    expected["records.db"] = records;
    expected.erase("Tools/scan.sh");
    EXPECT_EQ(PlacedFiles(sandbox.programFolder()), expected);
    EXPECT_EQ(StampsBelow(sandbox.programFolder(), moved), untouched);
}

}  // namespace
