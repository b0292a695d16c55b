// The update list page: which entries become rows, how the rows look, and what runs while the list is built.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <regex>

#include "OVCommon/OVCommon.h"
#include "tests/UnitOrvane/wizard_fixture.h"
#include "tests/e2e/program_run.h"

namespace testsupport {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Captions(const RecordingListView& list) {
    std::vector<std::string> captions;
    for (int row = 0; row < list.RowCount(); ++row) captions.push_back(list.RowCaption(row));
    return captions;
}

TEST_F(WizardTest, ListShowsTheEntriesThatNeedWorkGroupedByKind) {
    WriteFile(programDir / "current.dat", "same");
    WriteFile(programDir / "old.dat", "to be removed");
    const std::vector<EntryFields> custom = {
        {.name = "Custom", .fileName = "c.cfg", .content = "c", .downloadSize = 2048,
         .extra = "<destination>Custom\\Deep</destination>"}};
    const std::vector<EntryFields> program = {
        {.name = "Program", .fileName = "p.bin", .content = "p", .downloadSize = 1}};
    const std::vector<EntryFields> tools = {
        {.name = "Tool", .fileName = "t.bin", .content = "t", .downloadSize = 1048576, .extra = "<required/>"},
        {.name = "Climber", .fileName = "..\\t.bin", .content = "t"}};
    const std::vector<EntryFields> database = {
        {.name = "Current", .fileName = "current.dat", .content = "same"},
        {.name = "Database", .fileName = "sub\\d.dat", .content = "d", .downloadSize = 1536},
        {.name = "NoSize", .fileName = "n.dat", .content = "n"},
        {.name = "Remove", .fileName = "old.dat", .removal = true},
        {.name = "Gone", .fileName = "gone.dat", .removal = true},
        {.name = "Absolute", .fileName = (programDir / "abs.dat"), .content = "a"},
        {.name = "Deep climber", .fileName = "sub/../../x.dat", .content = "x"}};
    OpenListPage(CatalogueXml(GroupXml("custom", custom) + GroupXml("program", program) + GroupXml("tools", tools) +
                              GroupXml("database", database) + "<unknown>" + EntryXml(program[0]) + "</unknown>"));

    const RecordingListView& list = window.ListViewItems;
    EXPECT_EQ(Captions(list), (std::vector<std::string>{"Database", "NoSize", "Remove", "Tool", "Program", "Custom"}));
    const std::vector<int> images = {riDatabase, riDatabase, riDatabase, riRequired, riProgram, riProgram};
    const std::vector<std::string> statuses = {"1.5 KB", "0 bytes", Text("MsgOV17"), "1.0 MB", "1 bytes", "2.0 KB"};
    ASSERT_EQ(list.RowCount(), 6);
    ASSERT_EQ(form->Entries.size(), 6u);
    for (int row = 0; row < list.RowCount(); ++row) {
        EXPECT_TRUE(list.Checked(row)) << row;
        EXPECT_EQ(list.ImageIndex(row), images[row]) << row;
        EXPECT_EQ(list.Status(row), statuses[row]) << row;
    }
    EXPECT_EQ(form->Entries[0]->FileName, programDir / "sub/d.dat");
    EXPECT_EQ(form->Entries[3]->FileName, programDir / "Tools/t.bin");
    EXPECT_EQ(form->Entries[5]->FileName, fs::canonical(programDir / "Custom/Deep").string() + "/c.cfg");

    // A required row keeps its check mark; the others follow the user.
    window.ListViewItems.SetChecked(3, false);
    window.ListViewItems.SetChecked(0, false);
    EXPECT_TRUE(list.Checked(3));
    EXPECT_FALSE(list.Checked(0));
    window.ListViewItems.SetChecked(0, true);
    EXPECT_TRUE(list.Checked(0));
}

TEST_F(WizardTest, SizeTextAtItsBoundaries) {
    Open();
    const std::vector<std::pair<int32_t, std::string>> sizes = {
        {0, "0 bytes"},          {1023, "1023 bytes"},          {1024, "1.0 KB"},
        {1536, "1.5 KB"},        {1048575, "1023.9 KB"},        {1048576, "1.0 MB"},
        {1073741823, "1023.9 MB"}, {1073741824, ""},            {INT32_MAX, ""},
        {-1, "-1 bytes"},        {INT32_MIN, "-2147483648 bytes"}};
    for (const auto& [bytes, text] : sizes) EXPECT_EQ(form->SizeText(bytes), text) << bytes;
}

TEST_F(WizardTest, ConversionErrorLeavesTheRowsBuiltSoFarForNext) {
    const std::string database = "database";
    const std::string marker = programDir / "pre.marker";
    WriteScript("pre.sh", "touch '" + marker + "'");
    ServeCatalogue(CatalogueXml(
        GroupXml("database", {{.name = "Db", .fileName = "db.dat", .content = database,
                               .download = ServePackage("db.dat", database)}}) +
            GroupXml("tools", {{.name = "Broken", .fileName = "t.bin", .content = "t",
                                .extra = "<downloadsize>lots</downloadsize>"}}),
        "<preinstall><filename>" + (programDir / "pre.sh") + "</filename></preinstall>"));
    Open();
    Next();
    ASSERT_EQ(window.Window.Exceptions().size(), 1u);
    EXPECT_NE(window.Window.Exceptions()[0].find("'lots'"), std::string::npos) << window.Window.Exceptions()[0];
    EXPECT_EQ(form->Page, 3);
    EXPECT_TRUE(window.ButtonBack.Enabled());
    EXPECT_TRUE(window.ButtonNext.Enabled());
    EXPECT_FALSE(window.ListViewItems.Visible());
    EXPECT_FALSE(window.tmrSched.Enabled());
    EXPECT_FALSE(FileExists(marker));
    ASSERT_EQ(window.ListViewItems.RowCount(), 1);

    Next();
    EXPECT_EQ(form->Page, 4);
    EXPECT_EQ(window.ListViewItems.ImageIndex(0), riDone);
    EXPECT_EQ(ReadFile(programDir / "db.dat"), database);
}

TEST_F(WizardTest, AStatusThatCannotBeFormattedKeepsRowsAndEntriesInStep) {
    // A translation whose byte count takes a text raises while a small row's status is formed.
    std::string english = ReadFile(programDir / "OvLng/english.lng");
    english.replace(english.find("MsgOV5=%d"), 9, "MsgOV5=%s");
    WriteFile(programDir / "OvLng/english.lng", english);
    const std::string database = "database";
    ServeCatalogue(CatalogueXml(GroupXml(
        "database", {{.name = "Db", .fileName = "db.dat", .content = database,
                      .download = ServePackage("db.dat", database), .downloadSize = 2048},
                     {.name = "Small", .fileName = "small.dat", .content = "s", .downloadSize = 10}})));
    Open();
    Next();
    ASSERT_EQ(window.Window.Exceptions().size(), 1u);
    ASSERT_EQ(window.ListViewItems.RowCount(), 2);
    ASSERT_EQ(form->Entries.size(), 2u);
    EXPECT_EQ(form->Entries[1]->Name, "Small");

    // The run reads the entry of every row: the first installs, the second raises again and ends the run.
    Next();
    EXPECT_EQ(window.Window.Exceptions().size(), 2u);
    EXPECT_EQ(form->Page, 4);
    EXPECT_EQ(window.ListViewItems.ImageIndex(0), riDone);
    EXPECT_EQ(ReadFile(programDir / "db.dat"), database);
}

TEST_F(WizardTest, ServerErrorReportEndsOnTheFinishedPageAndHoldsTheScheduledRun) {
    ServeCatalogue("<catalogue><error><title>Maintenance</title><description>Come back tomorrow</description></error>" +
                   std::string("<update>") + GroupXml("database", {{.name = "Db", .fileName = "d", .content = "d"}}) +
                   "</update></catalogue>");
    Open({"orvane", "/SCHEDULED"});
    ASSERT_TRUE(Tick());
    ASSERT_EQ(window.Window.Boxes().size(), 1u);
    EXPECT_EQ(window.Window.Boxes()[0].text, "Come back tomorrow");
    EXPECT_EQ(window.Window.Boxes()[0].caption, "Maintenance");
    EXPECT_EQ(window.Window.Boxes()[0].flags, MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(form->Page, 5);
    EXPECT_EQ(window.LabelStatus.Caption(), "Come back tomorrow");
    EXPECT_EQ(window.ButtonNext.Caption(), Text("MsgOV11"));
    EXPECT_FALSE(window.ButtonCancel.Enabled());
    EXPECT_EQ(window.ListViewItems.RowCount(), 0);
    EXPECT_FALSE(Tick());
    EXPECT_EQ(window.Window.Closes(), 0);
}

// Running copies of a program under a name of the test's own, ended when the test ends.
class RunningCopies {
public:
    RunningCopies(const std::string& program, const std::string& folder, const std::string& name, int count)
        : path_(folder + name) {
        fs::copy_file(program, path_);
        ProgramLaunch launch;
        launch.program = path_;
        launch.arguments = {"30"};
        for (int i = 0; i < count; ++i) pids_.push_back(StartProgram(launch));
        EXPECT_TRUE(Eventually([&] { return ProcessesOf(path_).size() == static_cast<size_t>(count); }));
    }
    ~RunningCopies() {
        for (pid_t pid : pids_) kill(pid, SIGKILL);
        for (pid_t pid : pids_) Eventually([pid] { return HasEnded(pid); });
    }
    const std::vector<pid_t>& pids() const { return pids_; }

private:
    std::string path_;
    std::vector<pid_t> pids_;
};

int CountEnded(const std::vector<pid_t>& pids) {
    return static_cast<int>(std::count_if(pids.begin(), pids.end(), [](pid_t pid) { return HasEnded(pid); }));
}

TEST_F(WizardTest, KilltaskClosesTheNamedProgramsWhileTheListIsBuilt) {
    const std::string asked = "ovk" + std::to_string(getpid());
    const std::string unasked = "ovq" + std::to_string(getpid());
    RunningCopies askedCopies("/usr/bin/sleep", scratch.path(), asked, 2);
    RunningCopies unaskedCopies("/usr/bin/sleep", scratch.path(), unasked, 1);
    const std::string marker = programDir / "pre.marker";
    WriteScript("pre.sh", "touch '" + marker + "'");
    WriteFile(programDir / "current.dat", "same");
    // The entries' own files are current: the programs are closed all the same.
    const auto killtask = [](const std::string& name, const std::string& ask) {
        return "<killtask><name>ignored</name><filename>" + name + "</filename>" + ask + "</killtask>";
    };
    window.Window.ScriptAnswers({IDYES, IDNO});
    ServeCatalogue(CatalogueXml(
        GroupXml("database", {{.name = "Scanner", .fileName = "current.dat", .content = "same",
                               .extra = killtask(asked, "<ask>y</ask>")},
                              {.name = "Quick", .fileName = "current.dat", .content = "same",
                               .extra = killtask("OVQ" + std::to_string(getpid()), "<ask>N</ask>")}}),
        "<preinstall><filename>" + (programDir / "pre.sh") + "</filename></preinstall>"));
    Open();
    Next();
    EXPECT_EQ(form->Page, 5);
    EXPECT_TRUE(FileExists(marker));  // pre-install programs run also when nothing is listed

    const RecordedBox question{FormatText(Text("MsgOV22"), {std::string("Scanner"), asked}), "Orvane",
                               MB_YESNO | MB_ICONWARNING};
    ASSERT_EQ(window.Window.Boxes().size(), 2u);
    for (const RecordedBox& box : window.Window.Boxes()) {
        EXPECT_EQ(box.text, question.text);
        EXPECT_EQ(box.caption, question.caption);
        EXPECT_EQ(box.flags, question.flags);
    }
    EXPECT_TRUE(Eventually([&] { return CountEnded(askedCopies.pids()) == 1; }));
    EXPECT_TRUE(Eventually([&] { return CountEnded(unaskedCopies.pids()) == 1; }));
    usleep(100000);
    EXPECT_EQ(CountEnded(askedCopies.pids()), 1);  // the one answered with No keeps running
}

TEST_F(WizardTest, KilltaskAsksWithTheTranslatedQuestionOnlyWhenItAsks) {
    // A translation whose question does not fit its arguments: asking fails, closing without asking does not.
    const std::string languageFile = programDir / "OvLng/english.lng";
    WriteFile(languageFile, std::regex_replace(ReadFile(languageFile), std::regex("MsgOV22=[^\r\n]*"),
                                               "MsgOV22=Close %d?"));
    const std::string asked = "ovk" + std::to_string(getpid());
    const std::string unasked = "ovq" + std::to_string(getpid());
    RunningCopies askedCopy("/usr/bin/sleep", scratch.path(), asked, 1);
    RunningCopies unaskedCopy("/usr/bin/sleep", scratch.path(), unasked, 1);
    WriteFile(programDir / "current.dat", "same");
    const auto entry = [](const std::string& program, const std::string& ask) {
        return EntryFields{.name = program, .fileName = "current.dat", .content = "same",
                           .extra = "<killtask><filename>" + program + "</filename><ask>" + ask + "</ask></killtask>"};
    };
    ServeCatalogue(CatalogueXml(GroupXml("database", {entry(unasked, "no"), entry(asked, "Y")})));
    Open();
    Next();
    EXPECT_EQ(form->Page, 5);
    EXPECT_TRUE(Eventually([&] { return CountEnded(unaskedCopy.pids()) == 1; }));
    ASSERT_EQ(window.Window.Boxes().size(), 1u);
    const std::string failure = Text("MsgOV23").substr(0, Text("MsgOV23").find('%'));
    EXPECT_TRUE(window.Window.Boxes()[0].text.starts_with(failure)) << window.Window.Boxes()[0].text;
    EXPECT_EQ(window.Window.Boxes()[0].flags, MB_OK | MB_ICONERROR);
    EXPECT_EQ(CountEnded(askedCopy.pids()), 0);
}

}  // namespace
}  // namespace testsupport
