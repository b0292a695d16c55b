// A windowless run killed at any moment leaves every file it maintains either as it was or as it should become,
// never cut short or missing. A large file makes the moments of storing or copying it a good part of each run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "tests/e2e/release_fixture.h"
#include "tests/e2e/windowless_sandbox.h"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;
using Clock = std::chrono::steady_clock;

constexpr int kKillPoints = 9;

std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
    return bytes;
}

void WriteFiles(const std::string& folder, const std::map<std::string, std::string>& files) {
    for (const auto& [path, content] : files) {
        fs::create_directories(fs::path(folder + path).parent_path());
        WriteFile(folder + path, content);
    }
}

// Every file of the old or the new set is present with one of the two contents.
void ExpectOldOrNew(const std::string& folder, const std::map<std::string, std::string>& oldFiles,
                    const std::map<std::string, std::string>& newFiles, const std::string& when) {
    for (const auto& [path, newContent] : newFiles) {
        const auto old = oldFiles.find(path);
        ASSERT_TRUE(FileExists(folder + path)) << path << " is missing " << when;
        const std::string content = ReadFile(folder + path);
        const bool isOld = old != oldFiles.end() && content == old->second;
        EXPECT_TRUE(isOld || content == newContent) << path << " is neither old nor new " << when;
    }
}

std::chrono::microseconds TimedRun(const ProgramLaunch& launch) {
    const auto start = Clock::now();
    const ProgramRun run = RunAndWait(launch);
    EXPECT_TRUE(EndedQuietly(run, 0));
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
}

void Kill(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Kills runs at points spread over the length of a whole run, then one at the moment the large file is first
// changed in any way, which catches a run that writes it in place. The old files are put back before each run.
void KillThroughoutTheRun(const ProgramLaunch& launch, std::chrono::microseconds wholeRun,
                          const std::string& largeFile, const std::function<void()>& restoreOld,
                          const std::function<void(const std::string&)>& check) {
    for (int point = 1; point <= kKillPoints; ++point) {
        restoreOld();
        const auto delay = wholeRun * point / (kKillPoints + 1);
        const pid_t pid = StartProgram(launch);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(delay);
        Kill(pid);
        check("after a kill at " + std::to_string(delay.count()) + " us of " + std::to_string(wholeRun.count()));
    }
    restoreOld();
    const auto untouched = StampOf(largeFile);
    const pid_t pid = StartProgram(launch);
    ASSERT_GT(pid, 0);
    const auto limit = Clock::now() + std::chrono::seconds(10);
    while (StampOf(largeFile) == untouched && Clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    Kill(pid);
    check("after a kill when " + largeFile + " was first changed");
}

TEST(KilledRun, MirrorLeavesEverySharedFileOldOrNew) {
    NginxServer server;
    WindowlessSandbox sandbox(server.port());
    Release first(server, "v1");
    first.AddFile("database", "a.dat", "first small file, old\n");
    first.AddFile("database", "big.dat", Pattern(16 << 20, 1));
    first.AddZipped("tools", "z.dll", "zipped tool, old\n");
    first.Publish();
    ASSERT_EQ(sandbox.Mirror().status, 0);
    const auto oldShare = FilesBelow(sandbox.share());

    Release second(server, "v2");
    second.AddFile("database", "a.dat", "first small file, new\n");
    second.AddFile("database", "big.dat", Pattern(16 << 20, 2));
    second.AddZipped("tools", "z.dll", "zipped tool, new\n");
    second.Publish();
    const ProgramLaunch launch = sandbox.Launch(sandbox.MirrorArguments());
    const auto wholeRun = TimedRun(launch);
    const auto newShare = FilesBelow(sandbox.share());
    ASSERT_NE(newShare.at("latest.xml"), oldShare.at("latest.xml"));

    const auto restoreOld = [&] {
        fs::remove_all(sandbox.share());
        WriteFiles(sandbox.share(), oldShare);
    };
    KillThroughoutTheRun(launch, wholeRun, sandbox.share() + "big.dat", restoreOld,
                         [&](const std::string& when) { ExpectOldOrNew(sandbox.share(), oldShare, newShare, when); });
}

TEST(KilledRun, ClientLeavesEveryLocalFileOldOrNew) {
    NginxServer server;
    WindowlessSandbox sandbox(server.port());
    Release release(server, "v1");
    const std::map<std::string, std::string> oldFiles = {
        {"a.dat", "small file, old\n"}, {"big.dat", Pattern(24 << 20, 1)}, {"Tools/z.dll", "tool, old\n"}};
    const std::map<std::string, std::string> newFiles = {
        {"a.dat", "small file, new\n"}, {"big.dat", Pattern(24 << 20, 2)}, {"Tools/z.dll", "tool, new\n"}};
    release.AddFile("database", "a.dat", newFiles.at("a.dat"));
    release.AddFile("database", "big.dat", newFiles.at("big.dat"));
    release.AddFile("tools", "z.dll", newFiles.at("Tools/z.dll"));
    release.Publish();
    ASSERT_EQ(sandbox.Mirror().status, 0);

    const auto restoreOld = [&] { WriteFiles(sandbox.programFolder(), oldFiles); };
    restoreOld();
    const ProgramLaunch launch = sandbox.Launch(sandbox.ClientArguments());
    const auto wholeRun = TimedRun(launch);
    ExpectOldOrNew(sandbox.programFolder(), {}, newFiles, "after a whole run");
    KillThroughoutTheRun(launch, wholeRun, sandbox.programFolder() + "big.dat", restoreOld,
                         [&](const std::string& when) {
                             ExpectOldOrNew(sandbox.programFolder(), oldFiles, newFiles, when);
                         });
}

std::set<std::string> NamesIn(const std::string& folder) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) names.insert(entry.path().filename().string());
    return names;
}

bool AnyStartsWith(const std::set<std::string>& names, const std::string& start, const std::string& except = "") {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& name) { return name.rfind(start, 0) == 0 && name != except; });
}

// A run killed while it downloads leaves files ahead in the shared folder and its work folder; the next run removes
// them, but not a file of that kind of name that the catalogue names, nor the work folder of a run still alive.
TEST(KilledRun, NextMirrorRemovesWhatItLeftBehind) {
    const std::string named = ".orvane-ahead-named.dat";
    NginxServer server;
    WindowlessSandbox sandbox(server.port());
    Release first(server, "v1");
    first.AddFile("database", "a.dat", "small file, old\n");
    first.Publish();
    ASSERT_EQ(sandbox.Mirror().status, 0);
    const std::string temp = sandbox.tmp() + "orvane-" + std::to_string(getuid()) + "/";
    ASSERT_TRUE(fs::is_directory(temp));

    Release second(server, "v2");
    second.AddFile("database", "a.dat", "small file, new\n");
    second.AddZipped("database", "big.dat", Pattern(32 << 20, 3));
    second.AddZipped("database", "big2.dat", Pattern(32 << 20, 4));
    second.AddFile("database", named, "an entry's file with a name like the files ahead\n");
    second.AddZipped("tools", "sub\\z.dll", "zipped tool in a sub-folder\n");
    second.Publish();
    const ProgramLaunch launch = sandbox.Launch(sandbox.MirrorArguments());
    bool leftBehind = false;
    for (int attempt = 0; attempt < 5 && !leftBehind; ++attempt) {
        const pid_t pid = StartProgram(launch);
        ASSERT_GT(pid, 0);
        const auto limit = Clock::now() + std::chrono::seconds(10);
        while (!(AnyStartsWith(NamesIn(sandbox.share()), ".orvane-ahead-", named) &&
                 AnyStartsWith(NamesIn(temp), "mirror-")) &&
               Clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        Kill(pid);
        leftBehind = AnyStartsWith(NamesIn(sandbox.share()), ".orvane-ahead-", named) &&
                     AnyStartsWith(NamesIn(temp), "mirror-");
    }
    ASSERT_TRUE(leftBehind) << "no kill caught the run with files ahead and a work folder";

    // A live run's work folder (its mark held, here by the test) and one left by a run of an older version, unmarked.
    fs::create_directories(temp + "mirror-90");
    const int mark = ::open((temp + "mirror-90/in-use.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(mark, 0);
    ASSERT_EQ(::flock(mark, LOCK_EX | LOCK_NB), 0);
    WriteFile(temp + "mirror-90/live.bin", "in use");
    fs::create_directories(temp + "mirror-91/unpack-0");
    WriteFile(temp + "mirror-91/unpack-0/stale.bin", "left by a killed run");

    ASSERT_TRUE(EndedQuietly(sandbox.Mirror(), 0));
    std::set<std::string> shared;
    for (const auto& [path, content] : FilesBelow(sandbox.share())) shared.insert(path);
    EXPECT_EQ(shared, (std::set<std::string>{"latest.xml", "a.dat", "big.dat", "big2.dat", named, "Tools/sub/z.dll"}));
    EXPECT_EQ(ReadFile(sandbox.share() + named), "an entry's file with a name like the files ahead\n");
    EXPECT_EQ(NamesIn(temp), std::set<std::string>{"mirror-90"});
    EXPECT_EQ(ReadFile(temp + "mirror-90/live.bin"), "in use");

    // Once that run has ended, its folder goes too.
    ::close(mark);
    ASSERT_EQ(sandbox.Mirror().status, 0);
    EXPECT_EQ(NamesIn(temp), std::set<std::string>{});
}

}  // namespace
