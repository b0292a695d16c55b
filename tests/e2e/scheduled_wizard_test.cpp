// The wizard run unattended with "/SCHEDULED": the real program, its real window on Qt's offscreen platform, the
// stand-in main product running beside it, and a release on a real nginx.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "OVCommon/OVCommon.h"
#include "tests/e2e/release_fixture.h"
#include "tests/e2e/windowless_sandbox.h"
#include "tests/support/scripted_server.h"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

class ScheduledWizard : public ::testing::Test {
protected:
    void TearDown() override {
        // The main product started again with "/H" runs in the background: it goes with the test.
        for (pid_t pid : ProcessesOf(sandbox.programFolder() + "brellium.exe")) kill(pid, SIGKILL);
    }

    // The scheduled run, ended by the kernel if it does not end by itself within the limit.
    ProgramRun RunScheduled(const std::vector<std::string>& environment = {"QT_QPA_PLATFORM=offscreen"}) const {
        ProgramLaunch launch = sandbox.Launch({"/SCHEDULED", std::string("PRODUCT=") + kProduct,
                                               std::string("VERSION=") + kVersion, std::string("CODE=") + kCode},
                                              environment);
        launch.timeLimitSeconds = 60;
        return RunAndWait(launch);
    }

    std::string Installed(const std::string& relativePath) const {
        return ReadFile(sandbox.programFolder() + relativePath);
    }

    NginxServer server;
    WindowlessSandbox sandbox{server.port(), WindowlessSandbox::MainProgram::Present};
};

bool RunsWithin(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (HasEnded(pid)) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

TEST_F(ScheduledWizard, ClosesTheProductInstallsEverythingAndStartsItAgain) {
    const std::string mainExe = sandbox.programFolder() + "brellium.exe";
    // The product as it runs before the update, asked to close by "/U".
    ProgramLaunch productLaunch = sandbox.Launch({});
    productLaunch.program = mainExe;
    const pid_t product = StartProgram(productLaunch);
    ASSERT_TRUE(RunsWithin(product, std::chrono::milliseconds(300)));
    const std::string marker = sandbox.root() + "post-install-ran";
    WriteFile(sandbox.programFolder() + "post.sh", "#!/bin/sh\necho \"$1\" > '" + marker + "'\n");
    fs::permissions(sandbox.programFolder() + "post.sh", fs::perms::owner_all);
    // An installed product has its tools folder; the wizard places files in folders that exist.
    fs::create_directory(sandbox.programFolder() + "Tools");

    Release release(server, "v1");
    release.AddFile("database", "db.dat", "database records\n");
    release.AddZipped("database", "index.idx", "index of the records\n", {{"notes.txt", "index notes\n"}});
    release.AddZipped("tools", "t.sh", "#!/bin/sh\necho tool\n");
    release.AddFile("custom", "custom.cfg", "custom settings\n");
    // The new main program is the stand-in with a few bytes more: it still runs, and "/H" starts it.
    release.AddFile("program", "brellium.exe", ReadFile(mainExe) + "\n# second release\n");
    release.AddTopLevelXml("<run><postinstall><filename>" + sandbox.programFolder() +
                           "post.sh</filename><parameters>done</parameters></postinstall></run>\r\n");
    release.Publish();

    const ProgramRun run = RunScheduled();
    EXPECT_EQ(run.status, 0) << run.errorOutput;
    EXPECT_TRUE(HasEnded(product)) << "the running product was not closed";

    EXPECT_EQ(Installed("db.dat"), "database records\n");
    EXPECT_EQ(Installed("index.idx"), "index of the records\n");
    EXPECT_EQ(Installed("notes.txt"), "index notes\n");
    EXPECT_EQ(Installed("Tools/t.sh"), "#!/bin/sh\necho tool\n");
    EXPECT_EQ(Installed("custom.cfg"), "custom settings\n");
    EXPECT_EQ(Installed("brellium.exe"), release.files().back().content);
    EXPECT_EQ(ReadFile(marker), "done\n");
    // Closed once before installing, started again with "/H" once after.
    const std::vector<std::string> starts = sandbox.MainProgramStarts();
    ASSERT_GE(starts.size(), 3u);
    EXPECT_EQ(starts[0], "(none)");
    EXPECT_EQ(starts[1], "/U");
    EXPECT_EQ(starts[2], "/H");
    EXPECT_EQ(ReadFile(sandbox.programFolder() + "OVLog.txt"),
              "http://127.0.0.1:" + std::to_string(server.port()) + "/" +
                  std::string(kProductCataloguePath).substr(0, std::string(kProductCataloguePath).rfind('/') + 1) +
                  "\r\n");

    // Again, with everything current: the no-updates page closes by itself as well.
    const ProgramRun again = RunScheduled();
    EXPECT_EQ(again.status, 0) << again.errorOutput;
    EXPECT_EQ(sandbox.MainProgramStarts().size(), starts.size()) << "nothing installed, nothing closed";
}

TEST_F(ScheduledWizard, AFailedDownloadIsLoggedAndShowsNoBox) {
    Release release(server, "v1");
    release.AddFile("database", "db.dat", "database records\n");
    ReleaseFile& missing = release.AddFile("database", "gone.dat", "never served\n");
    release.Publish();
    fs::remove(server.webRoot() + missing.packagePath);

    // A box would wait for an answer that never comes: ending by itself shows that none was shown.
    const ProgramRun run = RunScheduled();
    EXPECT_EQ(run.status, 0) << run.errorOutput;
    EXPECT_EQ(Installed("db.dat"), "database records\n");
    EXPECT_FALSE(FileExists(sandbox.programFolder() + "gone.dat"));
    const std::string log = ReadFile(sandbox.programFolder() + "OVLog.txt");
    const size_t firstLineEnd = log.find("\r\n");
    ASSERT_NE(firstLineEnd, std::string::npos) << log;
    EXPECT_NE(log.find(" TDownloadThread.Execute ERROR: ", firstLineEnd), std::string::npos) << log;
    EXPECT_NE(log.find("404", firstLineEnd), std::string::npos) << log;
}

// Nobody can press Cancel on a scheduled run: a server that falls silent costs ReadTimeout per attempt, not the
// night.
TEST_F(ScheduledWizard, ASilentServerEndsTheDownloadAfterTheReadTimeout) {
    const std::string content = std::string(4000, 's') + "never complete\n";
    const ConnectionScript silent = {
        AwaitRequest(),
        Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(content.size()) + "\r\n\r\n" +
             content.substr(0, 1000)),
        Stall()};
    const ConnectionScript silentRest = {AwaitRequest(), Stall()};
    ScriptedServer packages({silent, silentRest, silentRest, silentRest});
    WriteFile(sandbox.programFolder() + "common.ini", "[general]\r\nReadTimeout=1\r\n");
    Release release(server, "v1");
    release.AddGroupXml("database", "<file><name>s.dat</name><filename>s.dat</filename><crc>" + CrcText(content) +
                                        "</crc><download>" + packages.Url("/s.dat") + "</download><size>" +
                                        std::to_string(content.size()) + "</size></file>");
    release.Publish();

    const auto started = std::chrono::steady_clock::now();
    const ProgramRun run = RunScheduled();
    EXPECT_EQ(run.status, 0) << run.errorOutput;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_FALSE(FileExists(sandbox.programFolder() + "s.dat"));
    EXPECT_NE(ReadFile(sandbox.programFolder() + "OVLog.txt").find("ERROR: Read Timeout"), std::string::npos);
    EXPECT_EQ(packages.ConnectionCount(), 4);
}

TEST_F(ScheduledWizard, APlatformThatFailsToStartEndsTheRunWithTheOneLine) {
    // The offscreen platform needs no display server, so the start-up check passes it; a configuration file it
    // cannot find then fails it while the application starts, after Qt has written its plugin messages.
    const ProgramRun run = RunScheduled(
        {"QT_QPA_PLATFORM=offscreen:configfile=" + sandbox.root() + "missing.json", "QT_DEBUG_PLUGINS=1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errorOutput,
              "orvane: the update wizard needs a graphical display (set DISPLAY, or QT_QPA_PLATFORM=offscreen)\n");
}

}  // namespace
