// The windowless modes run as administrators run them: shares given relatively or mounted elsewhere, catalogues
// with typos, packages that fail, runs that stop, overlap or are ended. None of it may cost a file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "tests/e2e/release_fixture.h"
#include "tests/e2e/windowless_sandbox.h"
#include "tests/support/eventually.h"
#include "tests/support/other_user.h"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

std::string RawEntry(const std::string& fileName, const std::string& fields) {
    return "<file><name>" + fileName + "</name><filename>" + fileName + "</filename>" + fields + "</file>";
}

// What a run left in the temporary folder besides the empty private folder itself.
std::vector<std::string> LeftInTemp(const std::string& tmp) {
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(tmp))
        if (!entry.is_directory() || entry.path().parent_path() != fs::path(tmp).parent_path())
            left.push_back(entry.path().string());
    return left;
}

// The files a mirror run makes in the shared folder ahead of their stores.
std::vector<std::string> MadeAheadIn(const std::string& share) {
    std::vector<std::string> made;
    for (const auto& entry : fs::directory_iterator(share))
        if (entry.path().filename().string().rfind(".orvane-ahead-", 0) == 0) made.push_back(entry.path());
    return made;
}

// A release of one database file, "db.dat", published and mirrored into the sandbox's share.
bool MirroredOneFileRelease(NginxServer& server, const WindowlessSandbox& sandbox, const std::string& name,
                            const std::string& content) {
    Release release(server, name);
    release.AddFile("database", "db.dat", content);
    release.Publish();
    return sandbox.Mirror().status == 0;
}

TEST(WindowlessAsUsersRunThem, TyposAndFailedPackagesCostNoFileAndSharedPathsHoldFromAnywhere) {
    NginxServer server;
    WindowlessSandbox sandbox(server.port());
    const std::map<std::string, std::string> first = {{"blank.dat", "kept despite a blank\n"},
                                                      {"empty.dat", "kept despite an empty size\n"},
                                                      {"huge.dat", "kept despite a size out of range\n"},
                                                      {"bad.dat", "the last good copy\n"}};
    Release v1(server, "v1");
    for (const auto& [name, content] : first) v1.AddFile("database", name, content);
    v1.Publish();
    // The share given relatively, Windows-style, from the folder above it.
    auto mirror = sandbox.Launch(sandbox.MirrorArguments());
    mirror.arguments[1] = "SFLD=share\\";
    mirror.workingFolder = sandbox.root() + "site";
    ASSERT_TRUE(EndedQuietly(RunAndWait(mirror), 0));
    ASSERT_TRUE(EndedQuietly(sandbox.Client(), 0));
    ASSERT_EQ(PlacedFiles(sandbox.programFolder()), first);

    // Sizes that are typos, names of no file, and a package that fails its test, before a good entry.
    Release v2(server, "v2");
    v2.AddGroupXml("database", RawEntry("blank.dat", "<size>13 </size>") + RawEntry("empty.dat", "<size></size>") +
                                   RawEntry("huge.dat", "<size>4294967309</size>"));
    server.AddFile("v2/folder.dat", "never requested\n");
    for (const char* name : {"", "."})
        v2.AddGroupXml("tools", RawEntry(name, "<size>16</size><download>" + server.Url("v2/folder.dat") +
                                                   "</download>"));
    v2.AddFile("database", "bad.dat", "a package that fails its test\n").statedCrc ^= 1;
    v2.AddFile("database", "after.dat", "comes after the failed package\n");
    v2.Publish();
    EXPECT_TRUE(EndedQuietly(RunAndWait(mirror), 0));
    std::map<std::string, std::string> expected = first;
    expected["after.dat"] = "comes after the failed package\n";
    auto shared = FilesBelow(sandbox.share());
    const std::string catalogue = shared["latest.xml"];
    for (const char* generated : {"latest.xml", "BrelLastVersion.txt"}) shared.erase(generated);
    EXPECT_EQ(shared, expected);
    EXPECT_EQ(server.AccessLog().find("folder.dat"), std::string::npos);
    EXPECT_EQ(catalogue.find("<filename>bad.dat"), std::string::npos) << catalogue;
    EXPECT_NE(catalogue.find("<download>" + sandbox.share() + "after.dat</download>"), std::string::npos)
        << catalogue;
    EXPECT_EQ(LeftInTemp(sandbox.tmp()), std::vector<std::string>{});

    // A client that mounts the share elsewhere, started from another folder, keeps its copies of what failed.
    fs::create_directories(sandbox.root() + "mnt");
    fs::rename(sandbox.share(), sandbox.root() + "mnt/share");
    auto client = sandbox.Launch({"/ENTC", "SFLD=" + sandbox.root() + "mnt/share"});
    client.workingFolder = sandbox.programFolder();
    EXPECT_TRUE(EndedQuietly(RunAndWait(client), 0));
    EXPECT_EQ(PlacedFiles(sandbox.programFolder()), expected);
}

TEST(WindowlessAsUsersRunThem, ClientsReadNothingOutsideTheirShare) {
    WindowlessSandbox sandbox(0);
    const std::string secret = "a file of the machine, outside the share\n";
    const std::string shared = "the shared copy\n";
    WriteFile(sandbox.root() + "secret.txt", secret);
    WriteFile(sandbox.share() + "a.txt", shared);
    fs::create_symlink(sandbox.root() + "secret.txt", sandbox.share() + "link.txt");
    // A download naming a file outside the share is not read: the entry's copy in the share is.
    WriteFile(sandbox.share() + "latest.xml",
              "<xml><update><database>" + LatestEntry("a.txt", shared, sandbox.root() + "secret.txt") +
                  LatestEntry("b.txt", secret, sandbox.share() + "../secret.txt") + "</database></update></xml>");
    auto run = sandbox.Client();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(PlacedFiles(sandbox.programFolder()), (std::map<std::string, std::string>{{"a.txt", shared}}));
    // Nor is a link in the share that leads out of it.
    WriteFile(sandbox.share() + "latest.xml",
              "<xml><update><database>" + LatestEntry("link.txt", secret, sandbox.share() + "link.txt") +
                  "</database></update></xml>");
    run = sandbox.Client();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errorOutput.find("leads out of the shared folder"), std::string::npos) << run.errorOutput;
    EXPECT_FALSE(FileExists(sandbox.programFolder() + "link.txt"));
}

TEST(WindowlessAsUsersRunThem, StoppedRunsSayWhyChangeNothingAndLeaveNoTemporaries) {
    NginxServer server;
    WindowlessSandbox sandbox(server.port());
    ASSERT_TRUE(MirroredOneFileRelease(server, sandbox, "v1", "first release\n"));
    ASSERT_EQ(sandbox.Client().status, 0);
    const std::vector<std::string> marker{"BrelLastVersion.txt"};
    const auto shareStamps = StampsBelow(sandbox.share(), marker);

    // A catalogue cut short, from the server or in the share, is a failed catalogue request.
    Release v2(server, "v2");
    v2.AddFile("database", "db.dat", "second release\n");
    v2.Publish();
    const std::string text = v2.CatalogueText();
    server.AddFile(kProductCataloguePath, text.substr(0, text.find("</database>")));
    auto run = sandbox.Mirror();
    EXPECT_TRUE(EndedQuietly(run, 196));
    EXPECT_NE(run.errorOutput.find("cut short"), std::string::npos) << run.errorOutput;
    EXPECT_EQ(StampsBelow(sandbox.share(), marker), shareStamps);
    const std::string latest = ReadFile(sandbox.share() + "latest.xml");
    WriteFile(sandbox.share() + "latest.xml", latest.substr(0, latest.find("</database>")));
    WriteFile(sandbox.programFolder() + "db.dat", "the machine's own copy\n");
    EXPECT_TRUE(EndedQuietly(sandbox.Client(), 196));
    EXPECT_EQ(ReadFile(sandbox.programFolder() + "db.dat"), "the machine's own copy\n");
    WriteFile(sandbox.share() + "latest.xml", latest);

    // A package that fails its test, then one that cannot be fetched: the run stops, its downloads are gone.
    Release v3(server, "v3");
    v3.AddFile("database", "db.dat", "third release, stated wrongly\n").statedCrc ^= 1;
    const ReleaseFile& lost = v3.AddFile("database", "lost.dat", "never served\n");
    v3.Publish();
    fs::remove(server.webRoot() + lost.packagePath);
    EXPECT_TRUE(EndedQuietly(sandbox.Mirror(), 196));
    EXPECT_EQ(LeftInTemp(sandbox.tmp()), std::vector<std::string>{});
    // A refused connection's two-line message still makes one line.
    EXPECT_TRUE(EndedQuietly(sandbox.Run(sandbox.MirrorArguments(), {"ORVANE_DEMO_SERVER=127.0.0.1:1"}), 196));
    // A share that is not there (not mounted, say) is no share without a catalogue yet: the client says so.
    const auto unmounted = sandbox.Run({"/ENTC", "SFLD=" + sandbox.root() + "unmounted"});
    EXPECT_EQ(unmounted.status, 1);
    EXPECT_NE(unmounted.errorOutput.find("Cannot open the shared folder \"" + sandbox.root() + "unmounted/\""),
              std::string::npos)
        << unmounted.errorOutput;
    // No temporary folder at all is a failed download too.
    EXPECT_TRUE(EndedQuietly(sandbox.Run(sandbox.MirrorArguments(), {"TMPDIR=/proc"}), 196));
    EXPECT_EQ(ReadFile(sandbox.share() + "latest.xml"), latest);
}

TEST(WindowlessAsUsersRunThem, OneRunAtATimePerFolderAndAnEndedRunLeavesNoTemporaries) {
    NginxServer server("location /slow/ { limit_rate 256k; }");
    WindowlessSandbox sandbox(server.port());
    WriteFile(sandbox.programFolder() + "common.ini", "[general]\r\nLockWait=1\r\n");
    Release slow(server, "slow");
    slow.AddFile("database", "large.dat", std::string(8 << 20, 'x'));
    slow.Publish();
    // A new share: the first run makes it, with its parents.
    auto arguments = sandbox.MirrorArguments();
    arguments[1] = "SFLD=" + sandbox.root() + "new/share";
    const pid_t first = StartProgram(sandbox.Launch(arguments));
    const std::string newShare = sandbox.root() + "new/share/";
    ASSERT_TRUE(Eventually([&] { return fs::exists(newShare + kLockFileName); }));
    ASSERT_TRUE(Eventually([&] { return !MadeAheadIn(newShare).empty(); }));  // its download, in the share

    // A second run into the same share waits for the first, then gives up saying why; a client run into
    // another folder is not held up.
    const auto second = sandbox.Run(arguments);
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.errorOutput.find("another run"), std::string::npos) << second.errorOutput;
    EXPECT_TRUE(EndedQuietly(sandbox.Client(), 0));

    // Ended by a signal, the first run takes its temporaries with it, and its lock.
    kill(first, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(first, &status, 0), first);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(LeftInTemp(sandbox.tmp()), std::vector<std::string>{});
    EXPECT_EQ(MadeAheadIn(newShare), std::vector<std::string>{});
    const int lock = open((newShare + kLockFileName).c_str(), O_RDONLY);
    EXPECT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    close(lock);
}

// A client run by a user who may read the program folder but not write it: installed by an administrator, run by
// everyone. Whether or not the lock file is there, an up-to-date run succeeds; one that must write names the file.
TEST(WindowlessAsUsersRunThem, AClientInAProgramFolderItsUserCannotWriteSucceedsWhenUpToDateElseNamesTheFile) {
    NginxServer server;
    WindowlessSandbox sandbox(server.port());
    ASSERT_TRUE(MirroredOneFileRelease(server, sandbox, "v1", "first release\n"));
    ASSERT_EQ(sandbox.Client().status, 0);
    // Readable by everyone, writable by root alone; the temporary folder is everyone's.
    for (const std::string& folder : {sandbox.root(), sandbox.root() + "site", sandbox.programFolder()})
        fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(sandbox.tmp(), fs::perms::all | fs::perms::sticky_bit);
    auto asNobody = sandbox.Launch(sandbox.ClientArguments());
    asNobody.user = kNobody;
    const std::string lockFile = sandbox.programFolder() + kLockFileName;
    ASSERT_TRUE(fs::exists(lockFile));
    for (const bool lockFilePresent : {true, false}) {
        if (!lockFilePresent) fs::remove(lockFile);
        const auto run = RunAndWait(asNobody);
        EXPECT_TRUE(EndedQuietly(run, 0)) << "lock file present: " << lockFilePresent << "\n" << run.errorOutput;
        EXPECT_EQ(fs::exists(lockFile), lockFilePresent);
    }

    ASSERT_TRUE(MirroredOneFileRelease(server, sandbox, "v2", "second release\n"));
    const auto run = RunAndWait(asNobody);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errorOutput.find("Cannot create file \"" + sandbox.programFolder() + "db.dat\""), std::string::npos)
        << run.errorOutput;
    EXPECT_EQ(run.errorOutput.find("lock"), std::string::npos) << run.errorOutput;
    EXPECT_EQ(ReadFile(sandbox.programFolder() + "db.dat"), "first release\n");
}

}  // namespace
