// The wizard's pages, its buttons, the scheduled run and the catalogue request.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "OVCommon/OVCommon.h"
#include "tests/UnitOrvane/wizard_fixture.h"

namespace testsupport {
namespace {

// What the window showed at one moment.
struct PageView {
    int page = 0;
    std::string status;
    bool listVisible = false;
    bool progressVisible = false;
    bool back = false;
    bool next = false;
    bool cancel = false;

    bool operator==(const PageView&) const = default;
};

std::ostream& operator<<(std::ostream& out, const PageView& view) {
    return out << "page " << view.page << " \"" << view.status << "\" list " << view.listVisible << " progress "
               << view.progressVisible << " back " << view.back << " next " << view.next << " cancel " << view.cancel;
}

PageView ViewOf(const TFormOrvane& form, RecordingWizardWindow& window) {
    return {form.Page,
            window.LabelStatus.Caption(),
            window.ListViewItems.Visible(),
            window.ProgressBar.Visible() && window.LabelUpdate.Visible(),
            window.ButtonBack.Enabled(),
            window.ButtonNext.Enabled(),
            window.ButtonCancel.Enabled()};
}

TEST_F(WizardTest, InteractiveRunWalksThePagesWithTheButtons) {
    const std::string database = "the new database";
    ServeCatalogue(CatalogueXml(GroupXml("database", {{.name = "Db",
                                                       .fileName = "db.dat",
                                                       .content = database,
                                                       .download = ServePackage("db.dat", database),
                                                       .downloadSize = static_cast<int>(database.size())}})));
    // The switch counts only as the first argument.
    Open({"orvane", "/x", "/SCHEDULED"});
    EXPECT_FALSE(form->Scheduled);
    EXPECT_TRUE(window.ButtonNext.Visible());
    EXPECT_TRUE(window.ButtonBack.Visible());
    EXPECT_EQ(window.WindowCaption(), "Brellium Update");
    EXPECT_EQ(window.ButtonNext.Caption(), "Next >");
    EXPECT_EQ(window.ColumnCaptions(), (std::vector<std::string>{"Product", "Status"}));
    EXPECT_EQ(ViewOf(*form, window), (PageView{1, Text("MsgOV1"), false, false, false, true, true}));
    // The timer ticks without effect in an interactive run.
    EXPECT_TRUE(Tick());
    EXPECT_EQ(form->Page, 1);

    PageView checking;
    window.Window.UserAction = [&] {
        if (window.Window.ProcessMessagesCalls() != 1) return;
        checking = ViewOf(*form, window);
        EXPECT_EQ(window.LabelUpdate.Caption(), Text("MsgOV3"));
        EXPECT_EQ(window.ProgressBar.Minimum(), 0);
        EXPECT_EQ(window.ProgressBar.Maximum(), 100);
        EXPECT_FALSE(window.tmrSched.Enabled());
        Next();  // does nothing on the checking page
        EXPECT_EQ(form->Page, 2);
    };
    Next();
    EXPECT_EQ(checking, (PageView{2, Text("MsgOV2"), false, true, false, true, true}));
    const std::vector<int>& positions = window.ProgressBar.PositionHistory();
    ASSERT_EQ(positions.size(), 5u);
    EXPECT_EQ(positions[0], 0);
    EXPECT_LT(positions[1], 20);
    EXPECT_TRUE(positions[2] >= 25 && positions[2] < 35) << positions[2];
    EXPECT_TRUE(positions[3] >= 60 && positions[3] < 80) << positions[3];
    EXPECT_EQ(positions[4], 100);
    EXPECT_EQ(RunLog(), CatalogueUrl() + "\r\n");

    EXPECT_EQ(ViewOf(*form, window), (PageView{3, Text("MsgOV8"), true, false, true, true, true}));
    EXPECT_TRUE(window.tmrSched.Enabled());
    Next();
    EXPECT_EQ(ViewOf(*form, window), (PageView{4, Text("MsgOV14"), true, false, false, true, false}));
    EXPECT_EQ(window.ButtonNext.Caption(), Text("MsgOV11"));
    EXPECT_EQ(ReadFile(programDir / "db.dat"), database);

    EXPECT_EQ(window.Window.Closes(), 0);
    Next();
    EXPECT_EQ(window.Window.Closes(), 1);
    EXPECT_FALSE(form->Cancelled);
    Run([this] { form->ButtonCancelClick(); });
    EXPECT_EQ(window.Window.Closes(), 2);
    EXPECT_TRUE(form->Cancelled);
    EXPECT_TRUE(window.Window.Boxes().empty());
    EXPECT_TRUE(window.Window.Exceptions().empty());
}

TEST_F(WizardTest, HelpOpensTheProductsHelpTextOrElseTheDefaultProducts) {
    Open();
    const auto help = [this](const std::string& product, const std::string& languageFile) {
        WriteFile(programDir / "OvLng/english.lng", languageFile);
        Localizer->SetLanguage("English");
        Settings.Product = product;
        Run([this] { form->ButtonHelpClick(); });
    };
    std::string shipped = ReadFile(programDir / "OvLng/english.lng");
    help("wiz", shipped);  // no "WIZ_HelpLink" text: the default product's
    help("", shipped);
    help("wiz", shipped + "[Messages]\nWIZ_HelpLink=Help/wiz.html::/start.htm\n");
    const size_t defaultLink = shipped.find("BR_HelpLink=");
    help("wiz", shipped.erase(defaultLink, shipped.find('\n', defaultLink) + 1 - defaultLink));
    const std::string defaultDocument = ProgramFolder + Text("BR_HelpLink");
    EXPECT_EQ(window.Window.HelpDocuments(), (std::vector<std::string>{defaultDocument, defaultDocument,
                                                                       ProgramFolder + "Help/wiz.html::/start.htm"}));
}

TEST_F(WizardTest, FailedCatalogueRequestReturnsToTheWelcomePage) {
    Open();
    Next();
    ASSERT_EQ(window.Window.Boxes().size(), 1u);
    EXPECT_EQ(window.Window.Boxes()[0].text, Text("MsgOV4"));
    EXPECT_EQ(window.Window.Boxes()[0].caption, "Orvane");
    EXPECT_EQ(window.Window.Boxes()[0].flags, MB_OK | MB_ICONERROR);
    EXPECT_EQ(ViewOf(*form, window), (PageView{1, Text("MsgOV1"), false, false, false, true, true}));
    EXPECT_EQ(RunLog(), CatalogueUrl() + "\r\n" + CatalogueUrl() + "\r\n");

    // A catalogue cut short fails the same way, however well its entries read.
    const std::string whole = CatalogueXml(GroupXml("database", {{.name = "Db", .fileName = "db.dat", .content = "x"}}));
    ServeCatalogue(whole.substr(0, whole.find("</database>")));
    Next();
    EXPECT_EQ(window.Window.Boxes().size(), 2u);
    EXPECT_EQ(ViewOf(*form, window), (PageView{1, Text("MsgOV1"), false, false, false, true, true}));
    EXPECT_EQ(RunLog(), CatalogueUrl() + "\r\n" + CatalogueUrl() + "\r\n");

    // Next tries again; this time nothing needs an update.
    ServeCatalogue(CatalogueXml(""));
    Next();
    EXPECT_EQ(ViewOf(*form, window), (PageView{5, Text("MsgOV16"), false, false, false, true, false}));
    EXPECT_EQ(window.ButtonNext.Caption(), Text("MsgOV11"));
    EXPECT_EQ(RunLog(), CatalogueUrl() + "\r\n");
    EXPECT_EQ(window.Window.Boxes().size(), 2u);
}

TEST_F(WizardTest, ScheduledRunPressesItsOwnButtonsAndOnlyLogsFailedDownloads) {
    const std::string database = "scheduled database";
    ServeCatalogue(CatalogueXml(GroupXml(
        "database", {{.name = "Lost", .fileName = "lost.dat", .content = "x", .download = server.Url("/missing")},
                     {.name = "Db", .fileName = "db.dat", .content = database,
                      .download = ServePackage("db.dat", database)}})));
    Open({"orvane", "/ScHeDuLeD"});
    EXPECT_TRUE(form->Scheduled);
    EXPECT_FALSE(window.ButtonNext.Visible());
    EXPECT_FALSE(window.ButtonBack.Visible());

    ASSERT_TRUE(Tick());
    EXPECT_EQ(form->Page, 3);
    ASSERT_TRUE(Tick());
    EXPECT_EQ(form->Page, 4);
    EXPECT_EQ(window.ListViewItems.ImageIndex(0), riFailed);
    EXPECT_EQ(window.ListViewItems.ImageIndex(1), riDone);
    EXPECT_EQ(ReadFile(programDir / "db.dat"), database);
    EXPECT_TRUE(window.Window.Boxes().empty());
    const std::regex logged(CatalogueUrl() +
                            "\r\n[^ ]+ [^ ]+ TDownloadThread\\.Execute ERROR: [^\r\n]*404[^\r\n]*\r\n");
    EXPECT_TRUE(std::regex_match(RunLog(), logged)) << RunLog();

    EXPECT_EQ(window.Window.Closes(), 0);
    ASSERT_TRUE(Tick());
    EXPECT_EQ(window.Window.Closes(), 1);
    EXPECT_FALSE(form->Cancelled);
}

TEST_F(WizardTest, ScheduledRunStaysOnTheCheckingPageWhenTheRequestFails) {
    Open({"orvane", "/scheduled", "more"});
    ASSERT_TRUE(Tick());
    EXPECT_EQ(form->Page, 2);
    EXPECT_TRUE(window.Window.Boxes().empty());
    EXPECT_FALSE(Tick());  // the timer stays stopped
    EXPECT_EQ(RunLog(), CatalogueUrl() + "\r\n" + CatalogueUrl() + "\r\n");
    EXPECT_EQ(window.Window.Closes(), 0);
}

TEST_F(WizardTest, WithoutAProductTheMainProgramSuppliesTheQueryText) {
    Settings.Product.clear();
    std::filesystem::copy_file(BRELLIUM_EXE, MainProgramPath());
    setenv("BRELLIUM_QUERY_TEXT", "&code=Q&version=9", 1);
    server.AddFile("brellium/orvane.php", CatalogueXml(""));
    Open();
    unsetenv("BRELLIUM_QUERY_TEXT");
    EXPECT_FALSE(window.Window.TerminatedBeforeShowing());
    Next();
    EXPECT_EQ(form->Page, 5);
    EXPECT_EQ(RunLog(), server.Url("/brellium/orvane.php?request=update&code=Q&version=9") + "\r\n");
}

TEST_F(WizardTest, WithoutAQueryTextTheWindowIsNeverShown) {
    Settings.Version.clear();
    Open();
    EXPECT_TRUE(window.Window.TerminatedBeforeShowing());
    EXPECT_TRUE(form->QueryText.empty());
}

// A second wizard in the same program folder says so and ends (a scheduled one quietly); once the first has
// gone, a wizard runs again. The lock is the windowless modes' own, so a client run holds off a wizard too.
TEST_F(WizardTest, ASecondWizardInTheProgramFolderSaysSoAndEnds) {
    Open();
    struct Case {
        const char* launch;
        std::vector<std::string> arguments;
        std::vector<std::string> boxTexts;
    };
    const Case cases[] = {{"interactive", {"orvane"}, {Text("MsgOV24")}}, {"scheduled", {"orvane", "/SCHEDULED"}, {}}};
    for (const Case& c : cases) {
        RecordingWizardWindow secondWindow;
        TFormOrvane second(secondWindow.Controls(), secondWindow, c.arguments);
        second.Dispatch([&] { second.FormCreate(); });
        EXPECT_TRUE(secondWindow.Window.TerminatedBeforeShowing()) << c.launch;
        std::vector<std::string> boxTexts;
        for (const RecordedBox& box : secondWindow.Window.Boxes()) boxTexts.push_back(box.text);
        EXPECT_EQ(boxTexts, c.boxTexts) << c.launch;
    }
    EXPECT_FALSE(window.Window.TerminatedBeforeShowing());
    EXPECT_EQ(platform::RunLock(ProgramFolder + RunLockFileName, std::chrono::milliseconds(0)).State(),
              platform::RunLockState::Busy);
    Run([this] { form->FormDestroy(); });
    form.reset();
    EXPECT_EQ(platform::RunLock(ProgramFolder + RunLockFileName, std::chrono::milliseconds(0)).State(),
              platform::RunLockState::Held);
}

}  // namespace
}  // namespace testsupport
