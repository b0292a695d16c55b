// The install run: rows installed, removed or skipped, the progress of the run, the download thread, the main
// program closed and started again, the programs started around the install, and differences fetched for an
// installed base with the package as their fallback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>
#include <sstream>

#include "OVCommon/OVCommon.h"
#include "delta/delta.h"
#include "platform/process.h"
#include "signing/signing.h"
#include "tests/UnitOrvane/wizard_fixture.h"
#include "tests/support/scripted_server.h"
#include "tests/support/zip_writer.h"

namespace testsupport {
namespace {

namespace fs = std::filesystem;

// What the install run left in the private temporary folder: downloads, unpack folders.
std::vector<std::string> LeftInTemp() {
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(TempFolderPath())) left.push_back(entry.path());
    return left;
}

std::string Zip(const std::vector<std::pair<std::string, std::string>>& members) {
    std::string archive;
    for (const auto& [name, text] : members) archive += DeflatedMember(name, text);
    return archive;
}

std::string ResponseHead(size_t contentLength) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(contentLength) + "\r\nConnection: close\r\n\r\n";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Fixed-size records with hard-to-compress bodies; each release changes every 40th record, so that a
// difference is a small part of the package.
std::string Database(int release) {
    std::mt19937 random(7);
    std::string data;
    for (int record = 0; record < 3000; ++record) {
        std::string body(24, ' ');
        for (char& c : body) c = static_cast<char>('a' + random() % 26);
        data += body + std::to_string(record % 40 == 0 ? release : 0) + "\n";
    }
    return data;
}

template <class T>
bool Contains(const std::vector<T>& values, const T& value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

class InstallRunTest : public WizardTest {
protected:
    // An entry whose package is served by the update server; its downloadsize is the package's size.
    EntryFields Entry(const std::string& name, const std::string& fileName, const std::string& content,
                      const std::string& package, const std::string& extra = "") {
        return {.name = name, .fileName = fileName, .content = content, .download = ServePackage(name, package),
                .downloadSize = static_cast<int>(package.size()), .extra = extra};
    }
    // The row status while a package downloads, with the bytes still to come.
    std::string Downloading(int32_t remaining) const {
        return FormatText(Text("MsgOV15"), {form->SizeText(remaining)});
    }
    // The download statuses of the row that stand for no byte count from 0 to the package's size.
    std::vector<std::string> StrayDownloadStatuses(int row, int32_t downloadSize, int32_t packageSize) const {
        const std::string format = Text("MsgOV15");
        const std::string prefix = format.substr(0, format.find('%'));
        const std::string suffix = format.substr(format.find('%') + 2);
        std::vector<std::string> stray;
        for (const std::string& status : window.ListViewItems.Row(row).statuses) {
            if (!status.starts_with(prefix) || !status.ends_with(suffix)) continue;
            bool known = false;
            for (int32_t count = 0; count <= packageSize && !known; ++count)
                known = status == Downloading(downloadSize - count);
            if (!known) stray.push_back(status);
        }
        return stray;
    }
    std::string PostInstallMarker() const { return programDir / "post.marker"; }
    // A waiting post-install program that leaves a marker.
    std::string PostInstallRun() {
        WriteScript("post.sh", "touch '" + PostInstallMarker() + "'");
        return "<postinstall><filename>" + (programDir / "post.sh") + "</filename></postinstall>";
    }
};

TEST_F(InstallRunTest, EachEntryIsPlacedByItsKindAndEveryRowReportsItsOutcome) {
    WriteMainProgram();
    WriteFile(programDir / "db.dat", "old database");
    fs::create_directories(programDir / "Tools");
    WriteFile(programDir / "Tools/tool.bin", "old tool");
    WriteFile(programDir / "keep.dat", "keep me");
    WriteFile(programDir / "remove.me", "bye");
    const std::string toolZip = Zip({{"bin/tool.bin", "new tool"}, {"tool.txt", "notes"}});
    const std::string customZip = Zip({{"inner/custom.cfg", "setting=1"}, {"extra.txt", "extra"}});
    OpenListPage(CatalogueXml(
        GroupXml("database", {Entry("Db", "db.dat", "new database", "new database"),
                              Entry("Crc", "keep.dat", "expected", "EXPECTED"),
                              Entry("Short", "short.dat", "abcdef", "abc"),
                              {.name = "Remove", .fileName = "remove.me", .removal = true},
                              Entry("Skip", "skip.dat", "skip", "skip")}) +
        GroupXml("tools", {Entry("Tool", "tool.bin", "new tool", toolZip)}) +
        GroupXml("program", {Entry("Broken", "missing\\prog.bin", "p", "p"),
                             Entry("Prog", "prog.bin", "new program", "new program")}) +
        GroupXml("custom", {Entry("Custom", "custom.cfg", "setting=1", customZip,
                                  "<destination>Custom\\Deep</destination>")})));
    enum { Db, Crc, Short, Remove, Skip, Tool, Broken, Prog, Custom, RowCount };
    RecordingListView& list = window.ListViewItems;
    ASSERT_EQ(list.RowCount(), RowCount);
    list.SetChecked(Skip, false);
    // While the program entry downloads, the one before it has failed to copy and left the main program alone.
    bool mainProgramKept = false;
    window.Window.UserAction = [&] {
        if (form->CurrentRow == Prog && list.ImageIndex(Broken) == riFailed)
            mainProgramKept = FileExists(MainProgramPath());
    };
    const size_t checkingPositions = window.ProgressBar.PositionHistory().size();
    Next();
    ASSERT_TRUE(window.Window.Exceptions().empty()) << window.Window.Exceptions().front();

    const int images[] = {riDone, riFailed, riFailed, riDone, riDone, riDone, riFailed, riDone, riDone};
    const std::string statuses[] = {Text("MsgOV9"),  Text("MsgOV18"), Text("MsgOV10"),
                                    Text("MsgOV17"), Text("MsgOV13"), Text("MsgOV9"),
                                    Text("MsgOV9"),  Text("MsgOV9"),  Text("MsgOV9")};
    int64_t downloadSizes = 0;
    for (int row = 0; row < RowCount; ++row) {
        EXPECT_EQ(list.ImageIndex(row), images[row]) << row;
        EXPECT_EQ(list.Status(row), statuses[row]) << row;
        if (row == Skip || row == Remove) continue;
        const int32_t downloadSize = form->Entries[row]->DownloadSize;
        downloadSizes += downloadSize;
        ASSERT_GE(list.Row(row).statuses.size(), 2u);
        EXPECT_EQ(list.Row(row).statuses[1], Downloading(downloadSize)) << row;
    }
    EXPECT_EQ(ReadFile(programDir / "db.dat"), "new database");
    EXPECT_EQ(ReadFile(programDir / "keep.dat"), "keep me");
    EXPECT_FALSE(FileExists(programDir / "short.dat"));
    EXPECT_FALSE(FileExists(programDir / "remove.me"));
    EXPECT_FALSE(FileExists(programDir / "skip.dat"));
    EXPECT_EQ(ReadFile(programDir / "Tools/tool.bin"), "new tool");
    EXPECT_EQ(ReadFile(programDir / "Tools/tool.txt"), "notes");
    EXPECT_FALSE(fs::exists(programDir / "missing"));
    EXPECT_TRUE(mainProgramKept);
    EXPECT_EQ(ReadFile(programDir / "prog.bin"), "new program");
    EXPECT_FALSE(FileExists(MainProgramPath()));
    EXPECT_EQ(ReadFile(programDir / "Custom/Deep/custom.cfg"), "setting=1");
    EXPECT_EQ(ReadFile(programDir / "Custom/Deep/extra.txt"), "extra");
    // Neither the packages that failed their test nor those installed leave a file behind.
    EXPECT_EQ(LeftInTemp(), std::vector<std::string>{});

    // One step for the run and one per checked row more than the package bytes: the bar never fills.
    const int checkedRows = RowCount - 1;
    EXPECT_EQ(window.ProgressBar.Maximum(), 1 + downloadSizes + checkedRows);
    EXPECT_EQ(window.ProgressBar.Position(), downloadSizes);
    const std::vector<int> positions(window.ProgressBar.PositionHistory().begin() + checkingPositions,
                                     window.ProgressBar.PositionHistory().end());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << ::testing::PrintToString(positions);
}

TEST_F(InstallRunTest, AnInstalledBaseTakesItsDifferenceAndAnyFailureOfItTakesThePackage) {
    const std::string base = Database(1), next = Database(2);
    std::string wrong = next, otherVersion = base;
    wrong[wrong.size() / 2] ^= 1;  // rebuilt at the right size, but not the entry's bytes
    otherVersion[10] ^= 1;         // the base's size, another SHA-256
    const TempDir work;
    const auto deltaTo = [&](const std::string& target) {
        WriteFile(work / "base", base);
        WriteFile(work / "target", target);
        MakeDelta(work / "base", work / "target", work / "delta");
        return ReadFile(work / "delta");
    };
    const std::string delta = deltaTo(next);
    std::string damaged = delta;
    damaged[damaged.size() / 2] ^= 0x55;
    const struct {
        std::string name, installed;
        std::string served;    // the difference offered; empty: offered but not served
        const char* fallback;  // the reason in the run log; nullptr: no difference failed
    } cases[] = {
        {"Base", base, delta, nullptr},
        {"Other", otherVersion, delta, nullptr},
        {"Damaged", base, damaged, "the difference cannot be applied"},
        {"Wrong", base, deltaTo(wrong), "the rebuilt file has the wrong CRC-32"},
        {"Missing", base, "", "404"},
    };
    std::vector<EntryFields> entries;
    for (const auto& c : cases) {
        WriteFile(programDir / c.name, c.installed);
        const std::string offered = c.served.empty() ? delta : c.served;
        // The damaged one has no SHA-256, so that its frame fails rather than its digest.
        const std::string sha256 = offered == damaged ? "" : "<sha256>" + Sha256Hex(offered) + "</sha256>";
        const std::string url = c.served.empty() ? server.Url("/none") : ServePackage(c.name + ".delta", c.served);
        entries.push_back(Entry(c.name, c.name, next, next,
                                "<delta><basesize>" + std::to_string(base.size()) + "</basesize><basesha256>" +
                                    Sha256Hex(base) + "</basesha256><size>" + std::to_string(offered.size()) +
                                    "</size>" + sha256 + "<download>" + url + "</download></delta>"));
    }
    OpenListPage(CatalogueXml(GroupXml("database", entries)));
    const size_t checkingPositions = window.ProgressBar.PositionHistory().size();
    Next();
    ASSERT_TRUE(window.Window.Exceptions().empty()) << window.Window.Exceptions().front();
    EXPECT_TRUE(window.Window.Boxes().empty());

    const std::vector<std::string> requests = Lines(server.AccessLog());
    const auto fetches = [&](const std::string& path) -> int {
        return std::count_if(requests.begin(), requests.end(),
                             [&](const std::string& line) { return line.find(path + " HTTP/") != std::string::npos; });
    };
    const int32_t packageSize = static_cast<int32_t>(next.size());
    int64_t fetched = 0, range = 1;
    for (int row = 0; row < static_cast<int>(std::size(cases)); ++row) {
        const auto& c = cases[row];
        const std::string& offered = c.served.empty() ? delta : c.served;
        const int32_t deltaSize = c.name == "Other" ? 0 : static_cast<int32_t>(offered.size());
        const int32_t firstFetch = deltaSize != 0 ? deltaSize : packageSize;
        const bool packageFetched = deltaSize == 0 || c.fallback;
        ASSERT_LT(deltaSize * 10, packageSize);
        EXPECT_EQ(ReadFile(programDir / c.name), next) << c.name;
        EXPECT_EQ(window.ListViewItems.ImageIndex(row), riDone) << c.name;
        // The list and the first download count what is fetched first; a fallback then counts the package.
        const std::vector<std::string>& statuses = window.ListViewItems.Row(row).statuses;
        ASSERT_GE(statuses.size(), 2u) << c.name;
        EXPECT_EQ(statuses[0], form->SizeText(firstFetch)) << c.name;
        EXPECT_EQ(statuses[1], Downloading(firstFetch)) << c.name;
        EXPECT_EQ(Contains(statuses, Downloading(packageSize)), packageFetched) << c.name;
        EXPECT_EQ(fetches("/packages/" + c.name + ".delta"), deltaSize != 0 && !c.served.empty() ? 1 : 0) << c.name;
        EXPECT_EQ(fetches("/packages/" + c.name), packageFetched ? 1 : 0) << c.name;
        const size_t logged = RunLog().find("The difference for " + (programDir / c.name) + " was not used (");
        ASSERT_EQ(logged != std::string::npos, c.fallback != nullptr) << c.name << "\n" << RunLog();
        if (c.fallback) {
            EXPECT_NE(RunLog().find(c.fallback, logged), std::string::npos) << c.name << "\n" << RunLog();
        }
        fetched += deltaSize + (packageFetched ? packageSize : 0);
        range += firstFetch + 1 + (c.fallback ? packageSize : 0);
    }
    // A failed difference's bytes stay counted, and the package's come after them.
    EXPECT_EQ(window.ProgressBar.Position(), fetched);
    EXPECT_EQ(window.ProgressBar.Maximum(), range);
    const std::vector<int> positions(window.ProgressBar.PositionHistory().begin() + checkingPositions,
                                     window.ProgressBar.PositionHistory().end());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << ::testing::PrintToString(positions);
    EXPECT_EQ(LeftInTemp(), std::vector<std::string>{});
}

TEST_F(InstallRunTest, DownloadProgressFollowsEachRowsOwnTransfer) {
    const std::string first(3000, 'a');
    const std::string second(1500, 'b');
    // The first package arrives in two parts; the second starts late and is larger than its downloadsize.
    ScriptedServer packages({{AwaitRequest(), Send(ResponseHead(first.size()) + first.substr(0, 1000)), Stall(150),
                              Send(first.substr(1000)), Close()},
                             {AwaitRequest(), Stall(150), Send(ResponseHead(second.size()) + second.substr(0, 1000)),
                              Stall(150), Send(second.substr(1000)), Close()}});
    OpenListPage(CatalogueXml(GroupXml(
        "database", {{.name = "First", .fileName = "first.dat", .content = first,
                      .download = packages.Url("/first"), .downloadSize = 3000},
                     {.name = "Second", .fileName = "second.dat", .content = second,
                      .download = packages.Url("/second"), .downloadSize = 100}})));
    Next();
    EXPECT_EQ(window.ListViewItems.ImageIndex(0), riDone);
    EXPECT_EQ(window.ListViewItems.ImageIndex(1), riDone);
    EXPECT_TRUE(Contains(window.ListViewItems.Row(0).statuses, Downloading(2000)));
    // A package larger than announced counts below zero.
    EXPECT_TRUE(Contains(window.ListViewItems.Row(1).statuses, Downloading(-900)));
    EXPECT_EQ(StrayDownloadStatuses(0, 3000, 3000), std::vector<std::string>{});
    EXPECT_EQ(StrayDownloadStatuses(1, 100, 1500), std::vector<std::string>{});

    const std::vector<int>& positions = window.ProgressBar.PositionHistory();
    EXPECT_TRUE(Contains(positions, 1000));
    EXPECT_TRUE(Contains(positions, 3000 + 1000));
    EXPECT_LE(*std::max_element(positions.begin(), positions.end()), 3000 + 1500);
    EXPECT_EQ(window.ProgressBar.Maximum(), 1 + 3001 + 101);
    EXPECT_EQ(window.ProgressBar.Position(), 3100);
}

TEST_F(InstallRunTest, CancelDuringADownloadStopsTheRun) {
    const std::string large(100000, 'x');
    ScriptedServer slow({{AwaitRequest(), Send(ResponseHead(large.size()) + large.substr(0, 1000))}});
    WriteMainProgram();
    OpenListPage(CatalogueXml(GroupXml("database", {{.name = "Slow", .fileName = "slow.dat", .content = large,
                                                     .download = slow.Url("/slow"), .downloadSize = 100000},
                                                    Entry("Next", "next.dat", "next", "next")}),
                              PostInstallRun()));
    RecordingListView& list = window.ListViewItems;
    bool gaveUpWaiting = false;
    window.Window.UserAction = [&] {
        if (form->Cancelled) return;
        gaveUpWaiting = window.Window.ProcessMessagesCalls() > 300;
        if (Contains(list.Row(0).statuses, Downloading(99000)) || gaveUpWaiting)
            Run([this] { form->ButtonCancelClick(); });
    };
    Next();
    EXPECT_FALSE(gaveUpWaiting) << "the first kilobyte never showed";
    EXPECT_TRUE(form->Cancelled);
    EXPECT_EQ(window.Window.Closes(), 1);
    EXPECT_TRUE(slow.WaitUntilFinished(0));
    EXPECT_EQ(list.ImageIndex(0), riFailed);
    EXPECT_EQ(list.Status(0), Text("MsgOV10"));
    EXPECT_EQ(list.ImageIndex(1), riDatabase);
    EXPECT_EQ(list.Row(1).statuses.size(), 1u);
    EXPECT_EQ(server.AccessLog().find("/packages/Next"), std::string::npos);
    EXPECT_FALSE(FileExists(PostInstallMarker()));
    EXPECT_EQ(window.LabelStatus.Caption(), Text("MsgOV12"));
    EXPECT_TRUE(window.Window.Boxes().empty());
    EXPECT_EQ(MainLogText(), "main:/U\n");

    // The download left behind ends with the form, logging how it ended.
    Run([this] { form->FormDestroy(); });
    form.reset();
    EXPECT_NE(RunLog().find(" TDownloadThread.Execute ERROR: "), std::string::npos) << RunLog();
    EXPECT_EQ(LeftInTemp(), std::vector<std::string>{});
}

TEST_F(InstallRunTest, AnErrorEscapingARowStopsTheRunWhereItStands) {
    const std::string damaged = LocalHeader("a.dat", 8, 0x12345678, RawDeflate("archive"), 7);
    OpenListPage(CatalogueXml(
        GroupXml("database", {Entry("Damaged", "a.dat", "archive", damaged), Entry("Next", "b.dat", "b", "b")}),
        PostInstallRun()));
    Next();
    ASSERT_EQ(window.Window.Exceptions().size(), 1u);
    EXPECT_EQ(form->Page, 4);
    EXPECT_FALSE(window.ButtonNext.Enabled());
    EXPECT_TRUE(window.ButtonCancel.Enabled());
    EXPECT_TRUE(window.ProgressBar.Visible());
    EXPECT_EQ(window.LabelStatus.Caption(), Text("MsgOV12"));
    EXPECT_FALSE(window.tmrSched.Enabled());
    EXPECT_EQ(window.ListViewItems.ImageIndex(0), riDatabase);
    EXPECT_EQ(window.ListViewItems.ImageIndex(1), riDatabase);
    EXPECT_EQ(window.ListViewItems.Row(1).statuses.size(), 1u);
    EXPECT_FALSE(FileExists(programDir / "a.dat"));
    EXPECT_FALSE(FileExists(programDir / "b.dat"));
    EXPECT_FALSE(FileExists(PostInstallMarker()));
    EXPECT_EQ(LeftInTemp(), std::vector<std::string>{});
}

TEST_F(InstallRunTest, FailedDownloadsAreLoggedAndShown) {
    OpenListPage(CatalogueXml(GroupXml(
        "database", {{.name = "One", .fileName = "one.dat", .content = "1", .download = server.Url("/none/1")},
                     {.name = "Two", .fileName = "two.dat", .content = "2", .download = server.Url("/none/2")}})));
    Next();
    const std::vector<RecordedBox>& boxes = window.Window.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    const std::vector<std::string> lines = Lines(RunLog());
    ASSERT_EQ(lines.size(), 3u) << RunLog();
    EXPECT_EQ(lines[0], CatalogueUrl() + "\r");
    const std::regex logged("[^ ]+ [^ ]+ TDownloadThread\\.Execute ERROR: (.*404.*)\r");
    for (size_t i = 0; i < boxes.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i + 1], match, logged)) << lines[i + 1];
        EXPECT_EQ(boxes[i].text, match[1].str());
        EXPECT_EQ(boxes[i].caption, "Orvane");
        EXPECT_EQ(boxes[i].flags, MB_OK);
        EXPECT_EQ(window.ListViewItems.ImageIndex(static_cast<int>(i)), riFailed);
        EXPECT_EQ(window.ListViewItems.Status(static_cast<int>(i)), Text("MsgOV10"));
    }
    EXPECT_EQ(LeftInTemp(), std::vector<std::string>{});
}

TEST_F(InstallRunTest, MainProgramIsClosedFirstAndStartedAgainAfterwards) {
    WriteMainProgram();
    for (const char* seconds : {"run 0.3", "run 0.5"})
        platform::StartProcess(MainProgramPath(), seconds, platform::Reaping::Automatically);
    ASSERT_TRUE(Eventually([this] { return Lines(MainLogText()).size() == 2; }));
    WriteScript("post.sh", "echo post >> '" + MainLog() + "'");
    OpenListPage(CatalogueXml(GroupXml("database", {Entry("Db", "db.dat", "db", "db")}),
                              "<postinstall><filename>" + (programDir / "post.sh") + "</filename></postinstall>"));
    // With no row checked the run still closes the main program and starts it again.
    window.ListViewItems.SetChecked(0, false);
    Next();
    EXPECT_TRUE(form->MainProgramClosed);
    EXPECT_EQ(window.ListViewItems.ImageIndex(0), riDone);
    EXPECT_EQ(window.ListViewItems.Status(0), Text("MsgOV13"));
    EXPECT_EQ(window.ProgressBar.Maximum(), 1);
    EXPECT_EQ(window.ProgressBar.Position(), 0);
    ASSERT_TRUE(Eventually([this] { return Lines(MainLogText()).size() == 7; })) << MainLogText();
    const std::vector<std::string> lines = Lines(MainLogText());
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()),
              (std::vector<std::string>{"main:/U", "ended 0.3", "ended 0.5", "post", "main:/H"}));
}

TEST_F(InstallRunTest, StandAloneStartsTheMainProgramOnlyThroughNext) {
    Settings.StandAlone = true;
    WriteMainProgram();
    OpenListPage(CatalogueXml(GroupXml("database", {Entry("Db", "db.dat", "db", "db")})));
    Next();
    EXPECT_EQ(form->Page, 4);
    Run([this] { form->ButtonCancelClick(); });
    usleep(200000);
    EXPECT_EQ(MainLogText(), "main:/U\n");
    Next();
    EXPECT_TRUE(Eventually([this] { return MainLogText() == "main:/U\nmain:\n"; })) << MainLogText();
    EXPECT_EQ(window.Window.Closes(), 2);
}

TEST_F(InstallRunTest, InstallProgramsRunBeforeTheChoiceAndAfterTheRun) {
    setenv("OVTEST_FOLDER", programDir.path().c_str(), 1);
    const std::string marker = programDir / "pre.marker";
    WriteScript("pre.sh", "printf '%s|' \"$@\" > '" + marker + "'");
    WriteScript("post-nowait.sh", "sleep 0.8; touch '" + (programDir / "nowait.marker") + "'");
    WriteScript("post-wait.sh", "sleep 0.2; touch '" + (programDir / "wait.marker") + "'");
    const std::string run =
        "<preinstall><filename>%OVTEST_FOLDER%pre.sh</filename><parameters>one \"two words\"</parameters>"
        "<statusmsg>Preparing</statusmsg></preinstall>"
        "<postinstall><filename>%OVTEST_FOLDER%post-nowait.sh</filename><nowait/></postinstall>"
        "<PostInstall><filename>%OVTEST_FOLDER%post-wait.sh</filename><statusmsg>Finishing</statusmsg>"
        "<runhidden/></PostInstall>"
        "<postinstall><filename>%OVTEST_FOLDER%missing.sh</filename></postinstall>";
    OpenListPage(CatalogueXml(GroupXml("database", {Entry("Db", "db.dat", "db", "db")}), run));
    EXPECT_EQ(ReadFile(marker), "one|two words|");
    EXPECT_EQ(window.LabelStatus.Caption(), "Preparing");
    EXPECT_FALSE(FileExists(programDir / "wait.marker"));

    Next();
    EXPECT_TRUE(FileExists(programDir / "wait.marker"));
    EXPECT_FALSE(FileExists(programDir / "nowait.marker"));
    const std::vector<std::string>& captions = window.LabelStatus.CaptionHistory();
    ASSERT_GE(captions.size(), 2u);
    EXPECT_EQ(captions[captions.size() - 2], "Finishing");
    EXPECT_EQ(captions.back(), Text("MsgOV14"));
    EXPECT_TRUE(Eventually([this] { return FileExists(programDir / "nowait.marker"); }));
    unsetenv("OVTEST_FOLDER");
}

}  // namespace
}  // namespace testsupport
