// Shared-folder client runs of the built program: from a share that a mirror run filled, or from a hand-made
// "latest.xml", into the sandbox's program folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/release_fixture.h"
#include "tests/e2e/windowless_sandbox.h"

namespace {

using namespace testsupport;

const std::string kOldRecords = "records of the previous release\n";
const std::string kNewRecords = "records of the current release, longer\n";


class ClientMode : public ::testing::Test {
protected:
    // A share filled by a mirror run; the release's program entry is the stand-in main program itself, so its
    // "/U" starts keep working for every entry.
    void SetUp() override {
        mainProgram = ReadFile(sandbox.programFolder() + "brellium.exe");
        release.AddFile("database", "db.dat", kNewRecords);
        release.AddRemoval("database", "gone.dat");
        release.AddZipped("tools", "sub\\a.dll", "tool library\n", {{"b.dat", "data of the tool\n"}});
        release.AddFile("program", "brellium.exe", mainProgram);
        release.AddFile("custom", "custom.cfg", "custom settings\n");
        release.Publish();
        ASSERT_EQ(sandbox.Mirror().status, 0);
        WriteFile(sandbox.programFolder() + "db.dat", kOldRecords);
    }

    NginxServer server;
    WindowlessSandbox sandbox{server.port(), WindowlessSandbox::MainProgram::Present};
    Release release{server, "v1"};
    std::string mainProgram;
};

TEST_F(ClientMode, RunPlacesFilesByKindAndLeavesAnUpToDateMachineAlone) {
    WriteFile(sandbox.programFolder() + "gone.dat", "obsolete\n");
    WriteFile(sandbox.share() + "LastVersion.txt", "1,2,3,4\r\n");
    auto run = sandbox.Client();
    EXPECT_TRUE(EndedQuietly(run, 0));
    const std::map<std::string, std::string> expected = {{"db.dat", kNewRecords},
                                                         {"Tools/sub/a.dll", "tool library\n"},
                                                         {"brellium.exe", mainProgram},
                                                         {"custom.cfg", "custom settings\n"}};
    EXPECT_EQ(PlacedFiles(sandbox.programFolder()), expected);
    EXPECT_FALSE(FileExists(sandbox.share() + "LastVersion.txt"));
    // The main program is asked to close before each of the five entries, whether it needs work or not.
    EXPECT_EQ(sandbox.MainProgramStarts(), std::vector<std::string>(5, "/U"));

    const auto stamps = StampsBelow(sandbox.programFolder());
    run = sandbox.Client();
    EXPECT_TRUE(EndedQuietly(run, 0));
    EXPECT_EQ(StampsBelow(sandbox.programFolder()), stamps);
    EXPECT_EQ(sandbox.MainProgramStarts(), std::vector<std::string>(10, "/U"));
}

TEST_F(ClientMode, MissingSharedCopyEndsTheRunAndKeepsTheOldFile) {
    std::filesystem::remove(sandbox.share() + "db.dat");
    const auto run = sandbox.Client();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errorOutput.rfind("Application Error: ", 0), 0u) << run.errorOutput;
    // The machine keeps its old file, and the entries after the failing one are not handled.
    EXPECT_EQ(PlacedFiles(sandbox.programFolder()),
              (std::map<std::string, std::string>{{"db.dat", kOldRecords}, {"brellium.exe", mainProgram}}));
}

TEST(ClientModeHandMade, EntriesThatLeaveTheProgramFolderAreSkipped) {
    WindowlessSandbox sandbox(0);  // the client reaches no server
    const std::string payload = "copied only where it belongs\n";
    WriteFile(sandbox.share() + "payload.txt", payload);
    WriteFile(sandbox.root() + "site/victim.txt", "must survive\n");
    const auto entry = [&](const std::string& fileName) {
        return "<file><name>n</name><filename>" + fileName + "</filename><crc>" + CrcText(payload) +
               "</crc><download>" + sandbox.share() + "payload.txt</download><size>" +
               std::to_string(payload.size()) + "</size></file>";
    };
    WriteFile(sandbox.share() + "latest.xml",
              "<xml> <update><database>" + entry("..\\evil.txt") + entry("..\\..\\evil.txt") +
                  entry("sub\\..\\..\\evil.txt") + entry(sandbox.root() + "evil-absolute.txt") +
                  "<file><name>n</name><filename>..\\victim.txt</filename><size>0</size></file>" +
                  entry("ok.txt") + "</database><tools>" + entry("..\\..\\evil.txt") +
                  "</tools></update></xml>");
    const auto outside = StampsBelow(sandbox.root(), {"site/program", "tmp"});

    const auto run = sandbox.Client();
    EXPECT_TRUE(EndedQuietly(run, 0));
    EXPECT_EQ(StampsBelow(sandbox.root(), {"site/program", "tmp"}), outside);
    EXPECT_EQ(PlacedFiles(sandbox.programFolder()), (std::map<std::string, std::string>{{"ok.txt", payload}}));
}

// Entries are checked ahead of their turn on a helper thread, but an entry after a copy must see that copy:
// here the last entry puts back the file that an earlier one replaced.
TEST(ClientModeHandMade, AnEntryAfterACopySeesTheCopiedFile) {
    WindowlessSandbox sandbox(0);
    const std::string original = "the machine's own content\n";
    const std::string replacement = "what the first entry brings\n";
    WriteFile(sandbox.share() + "first.txt", replacement);
    WriteFile(sandbox.share() + "last.txt", original);
    WriteFile(sandbox.programFolder() + "same.txt", original);
    const auto entry = [&](const std::string& fileName, const std::string& content, const std::string& shared) {
        return LatestEntry(fileName, content, sandbox.share() + shared);
    };
    // The copy comes late enough that the helper has long answered for the last entry.
    std::string entries;
    for (int i = 0; i < 200; ++i) {
        const std::string name = "filler" + std::to_string(i) + ".txt";
        WriteFile(sandbox.share() + name, name);
        WriteFile(sandbox.programFolder() + name, name);
        entries += (i == 150 ? entry("same.txt", replacement, "first.txt") : "") + entry(name, name, name);
    }
    entries += entry("same.txt", original, "last.txt");
    WriteFile(sandbox.share() + "latest.xml", "<xml><update><database>" + entries + "</database></update></xml>");

    const auto run = sandbox.Client();
    EXPECT_TRUE(EndedQuietly(run, 0));
    EXPECT_EQ(ReadFile(sandbox.programFolder() + "same.txt"), original);
}

}  // namespace
