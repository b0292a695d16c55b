// One walk through the wizard's real window, run against each toolkit's window through its driver: the designed
// window in each language, the keyboard (the focus on Next, Enter, Esc also during an install run, Y/N and Д/Н in
// the question boxes), the list's change guard, every page with a screenshot of each and of the boxes, the end of
// the message loop after a Cancel, boxes and work from other threads, and a scheduled run driven by the timer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "OVCommon/OVCommon.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wizard_window_fixture.h"
#include "tests/support/zip_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

class WizardWindow : public WizardWindowTest {
protected:
    static std::unique_ptr<TWizardDriver> Open(std::vector<std::string> arguments = {"orvane"}) {
        auto wizard = OpenWizardDriver(std::move(arguments));
        EXPECT_TRUE(wizard->Open());
        return wizard;
    }
};

std::string Suffix(const std::string& language) { return language == "English" ? "" : "_" + language; }

// Bytes that deflate cannot shrink, so that a zip package takes as long to arrive as its file.
std::string Noise(size_t size) {
    std::mt19937 random(7);
    std::string content(size, '\0');
    for (char& byte : content) byte = static_cast<char>(random());
    return content;
}

bool FitsItsCaption(TDesignedKind kind) { return kind == TDesignedKind::Heading || kind == TDesignedKind::AutoLabel; }

struct TLanguageKeys {
    std::string Language;
    std::string Yes, No;                // the keys that answer a question box
    std::string YesLabel, NoLabel;      // its buttons, the mnemonic marked
};
const TLanguageKeys Languages[] = {{"English", "Y", "N", "&Yes", "&No"}, {"Russian", "Д", "Н", "&Да", "&Нет"}};

}  // namespace

TEST_F(WizardWindow, OpensAsDesignedInItsLanguageAndAnswersTheKeyboard) {
    for (const TLanguageKeys& keys : Languages) {
        SCOPED_TRACE(keys.Language);
        PrepareProgramFolder(keys.Language);
        TFileLocalizer expected(ORVANE_LANGUAGE_FOLDER);
        expected.SetLanguage(keys.Language);
        const auto caption = [&](const std::string& name) { return expected.Lookup("FormOrvane" + name); };

        auto wizard = Open();
        ASSERT_TRUE(wizard->Shown());
        TDesignedWindow& window = wizard->Window();
        EXPECT_NE(caption("FormOrvane"), "");
        EXPECT_EQ(wizard->Title(), caption("FormOrvane"));
        const int dpi = wizard->Dpi();
        EXPECT_EQ(wizard->ClientArea(), (TDesignedRect{0, 0, ScaledToDpi(DesignedClientWidth, dpi),
                                                       ScaledToDpi(DesignedClientHeight, dpi)}));
        for (const TDesignedControl& design : WizardDesign) {
            SCOPED_TRACE(design.Name);
            const TDesignedRect place = wizard->Place(design.Name);
            const TDesignedRect designed = ScaledToDpi(design.Place, dpi);
            if (FitsItsCaption(design.Kind)) {
                // Where designed, as large as its caption, so nothing of it is cut off.
                EXPECT_EQ(place.Left, designed.Left);
                EXPECT_EQ(place.Top, designed.Top);
                EXPECT_GT(place.Width, 20);
                EXPECT_GT(place.Height, 0);
            } else {
                EXPECT_EQ(place, designed);
            }
            const bool takesCaption = design.Kind == TDesignedKind::Button || FitsItsCaption(design.Kind);
            if (takesCaption) {
                EXPECT_EQ(window.Control(design.Name).Caption(), caption(design.Name));
            }
        }
        EXPECT_EQ(window.Control("LabelStatus").Caption(), expected.GetMessage("MsgOV1"));
        EXPECT_EQ(wizard->ColumnCaption(0) + "," + wizard->ColumnCaption(1), caption("ListViewItems"));
        EXPECT_EQ(wizard->Focused(), "ButtonNext");

        // The framework's box for an escaping error keeps the designed title in every language.
        wizard->ExpectBox("Enter", [](const TBoxSeen& box) {
            EXPECT_EQ(box.Title, "Orvane");
            EXPECT_EQ(box.Text, "The catalogue is damaged");
        });
        wizard->Form().Dispatch([] { throw Exception("The catalogue is damaged"); });
        EXPECT_TRUE(wizard->BoxesAnswered());
        EXPECT_TRUE(wizard->Shown());

        // Enter presses Next: no catalogue is served, so the request fails with its box, and the welcome page
        // comes back for another try.
        wizard->ExpectBox("Enter", [&](const TBoxSeen& box) {
            EXPECT_EQ(box.Title, "Orvane");
            EXPECT_EQ(box.Text, expected.GetMessage("MsgOV4"));
        }, "box_catalogue_failure" + Suffix(keys.Language));
        wizard->PressKey(TKey::Enter);
        EXPECT_TRUE(wizard->BoxesAnswered());
        EXPECT_EQ(wizard->Form().Page, 1);

        // The question before closing a running program answers its buttons' letters.
        const std::string question = FormatText(expected.GetMessage("MsgOV22"), {"Virus database", "brellium.exe"});
        TWindowServices& services = *wizard->Form().Controls.Window;
        for (const auto& [key, answer, screenshot] : {std::tuple{keys.Yes, IDYES, "box_killtask"},
                                                      std::tuple{keys.No, IDNO, ""}}) {
            wizard->ExpectBox(key, [&](const TBoxSeen& box) {
                EXPECT_EQ(box.Text, question);
                EXPECT_EQ(box.Buttons, (std::vector<std::string>{keys.YesLabel, keys.NoLabel}));
            }, *screenshot ? screenshot + Suffix(keys.Language) : "");
            EXPECT_EQ(services.MessageBox(question, "Orvane", MB_YESNO | MB_ICONWARNING), answer) << key;
            EXPECT_TRUE(wizard->BoxesAnswered());
        }
    }
}

TEST_F(WizardWindow, RequiredRowKeepsItsCheckMarkSelectionAndFocus) {
    PrepareProgramFolder("English");
    ServeCatalogue("<database>" + Entry("Virus database", "base.dat", Package(3000, 'a'), "<required/>") +
                   "</database><tools>" + Entry("Cleaning tool", "cleaner.bin", Package(700, 'k')) + "</tools>");
    auto wizard = Open();
    wizard->Click("ButtonNext");
    ASSERT_EQ(wizard->Form().Page, 3);
    TListViewControl& list = *wizard->Form().Controls.ListViewItems;
    ASSERT_EQ(list.RowCount(), 2);
    EXPECT_EQ(list.RowCaption(0), "Virus database");
    ASSERT_EQ(list.ImageIndex(0), riRequired);
    EXPECT_EQ(list.ImageIndex(1), riTools);
    EXPECT_TRUE(list.Checked(0));
    EXPECT_TRUE(list.Checked(1));

    // Clicks on the required row change nothing: not its check mark, and neither selection nor focus.
    wizard->ClickCheckBox(0);
    wizard->ClickRow(0);
    EXPECT_TRUE(list.Checked(0));
    EXPECT_FALSE(wizard->RowSelected(0));
    EXPECT_NE(wizard->FocusedRow(), 0);
    list.SetChecked(0, false);
    EXPECT_TRUE(list.Checked(0));

    // The other row follows the mouse and the keyboard.
    wizard->ClickCheckBox(1);
    EXPECT_FALSE(list.Checked(1));
    wizard->ClickRow(1);
    EXPECT_TRUE(wizard->RowSelected(1));
    EXPECT_EQ(wizard->FocusedRow(), 1);
    wizard->PressKey(TKey::Space);
    EXPECT_TRUE(list.Checked(1));

    // The focus cannot move onto the required row, so the keyboard cannot reach its check mark either.
    wizard->PressKey(TKey::Up);
    EXPECT_EQ(wizard->FocusedRow(), 1);
    EXPECT_FALSE(wizard->RowSelected(0));
    wizard->PressKey(TKey::Space);
    EXPECT_TRUE(list.Checked(0));
    EXPECT_FALSE(list.Checked(1));

    // Image and status updates are not the user's: they pass.
    list.SetStatus(0, "Installing...");
    list.SetImageIndex(0, riDone);
    EXPECT_EQ(list.Status(0), "Installing...");
    EXPECT_EQ(list.ImageIndex(0), riDone);
}

TEST_F(WizardWindow, WalksEveryPageAndLeavesAScreenshotOfEach) {
    for (const std::string language : {"English", "Russian"}) {
        SCOPED_TRACE(language);
        PrepareProgramFolder(language);
        const std::string suffix = Suffix(language);
        const std::string database = Package(96 * 1024, 'd');
        WriteFile(programFolder + "obsolete.dat", "old");
        std::string damaged = Entry("Brellium program", "brellium-new", Package(5000, 'p'));
        damaged.replace(damaged.find("<crc>"), damaged.find("</crc>") - damaged.find("<crc>"), "<crc>12345");
        ServeCatalogue("<database>" + Entry("Virus database", "base.dat", database, "<required/>", true) +
                       "<entry><name>Obsolete signatures</name><filename>obsolete.dat</filename></entry>" +
                       "</database><tools>" + Entry("Cleaning tool", "Cleaner.bin", Package(2500, 't')) +
                       "</tools><program>" + damaged + "</program>");
        auto wizard = Open();
        TFormOrvane& form = wizard->Form();
        wizard->Screenshot("welcome" + suffix);

        // The checking page is on screen while the window handles its messages once before the request.
        int checkingPage = 0;
        form.Controls.Window->RunOnWindowThread([&] {
            checkingPage = form.Page;
            wizard->Screenshot("checking" + suffix);
        });
        wizard->Click("ButtonNext");
        EXPECT_EQ(checkingPage, 2);
        ASSERT_EQ(form.Page, 3);
        TListViewControl& list = *form.Controls.ListViewItems;
        ASSERT_EQ(list.RowCount(), 4);
        EXPECT_EQ(list.ImageIndex(0), riRequired);
        EXPECT_EQ(list.ImageIndex(1), riDatabase);
        EXPECT_EQ(list.ImageIndex(2), riTools);
        EXPECT_EQ(list.ImageIndex(3), riProgram);
        wizard->ClickCheckBox(2);
        EXPECT_FALSE(list.Checked(2));
        wizard->Screenshot("list" + suffix);

        // During the slow download the row counts down what is left and the bar moves; Next, disabled, has
        // handed the focus to Cancel, so Esc would still reach it.
        bool downloadSeen = false;
        std::string focusedDuringRun;
        wizard->Watch([&] {
            if (downloadSeen || form.Page != 4 || form.Controls.ProgressBar->Position() <= 0) return;
            downloadSeen = true;
            focusedDuringRun = wizard->Focused();
            wizard->Screenshot("install" + suffix);
        }, [&] { wizard->Click("ButtonNext"); });
        EXPECT_TRUE(downloadSeen);
        EXPECT_EQ(focusedDuringRun, "ButtonCancel");
        ASSERT_TRUE(wizard->PumpUntil([&] { return form.Controls.ButtonNext->Enabled(); }));
        EXPECT_EQ(ReadFile(programFolder + "base.dat"), database);
        EXPECT_FALSE(fs::exists(programFolder + "obsolete.dat"));
        EXPECT_FALSE(fs::exists(programFolder + "Tools/Cleaner.bin"));
        EXPECT_FALSE(fs::exists(programFolder + "brellium-new"));
        for (const auto& [row, image] : {std::pair{0, riDone}, {1, riDone}, {2, riDone}, {3, riFailed}})
            EXPECT_EQ(list.ImageIndex(row), image) << row;
        EXPECT_FALSE(form.Controls.ProgressBar->Visible());
        wizard->Screenshot("install_done" + suffix);

        form.Dispatch([&] { form.ShowNoUpdatesPage(); });
        EXPECT_FALSE(list.Visible());
        wizard->Screenshot("finished" + suffix);
        wizard->Click("ButtonNext");
        EXPECT_FALSE(wizard->Shown());
        EXPECT_FALSE(form.Cancelled);
    }
}

TEST_F(WizardWindow, EscAndCancelCancelWhileCancelIsEnabledAndTheCloseBoxDoesNot) {
    for (const bool byKey : {true, false}) {
        SCOPED_TRACE(byKey ? "Esc" : "Cancel");
        PrepareProgramFolder("English");
        auto wizard = Open();
        if (byKey) wizard->PressKey(TKey::Escape);
        else wizard->Click("ButtonCancel");
        EXPECT_TRUE(wizard->Form().Cancelled);
        EXPECT_FALSE(wizard->Shown());
    }
    PrepareProgramFolder("English");
    auto wizard = Open();
    wizard->Form().Dispatch([&] { wizard->Form().ShowNoUpdatesPage(); });
    // On the last page Cancel is not to be pressed: Esc does nothing.
    wizard->PressKey(TKey::Escape);
    EXPECT_TRUE(wizard->Shown());
    wizard->CloseBox();
    EXPECT_FALSE(wizard->Shown());
    EXPECT_FALSE(wizard->Form().Cancelled);
}

TEST_F(WizardWindow, EscDuringAZipDownloadEndsTheProgramOnceItsBoxIsAnswered) {
    PrepareProgramFolder("English");
    const std::string database = Noise(2 << 20);
    ServeCatalogue("<database>" +
                   Entry("Virus database", "base.dat", database, "", true, ZipArchive({{"base.dat", database}})) +
                   "</database>");
    std::string boxText;
    int cancelledAt = 0;
    auto wizard = OpenWizardDriver({"orvane"});
    TFormOrvane& form = wizard->Form();
    wizard->ExpectBox("Enter", [&](const TBoxSeen& box) { boxText = box.Text; });
    // The user: Next to the list and Next to install; meanwhile Esc once the package is arriving.
    const int status = wizard->Exec(
        [&] {
            wizard->Click("ButtonNext");
            wizard->Click("ButtonNext");
        },
        [&] {
            if (form.Page != 4 || form.Cancelled || form.Controls.ProgressBar->Position() <= 0) return;
            cancelledAt = form.Controls.ProgressBar->Position();
            wizard->PressKey(TKey::Escape);
        },
        std::chrono::seconds(20));
    EXPECT_EQ(status, 0) << "the program went on after its window had closed";
    EXPECT_TRUE(form.Cancelled);
    EXPECT_TRUE(wizard->BoxesAnswered());
    EXPECT_GT(cancelledAt, 0);
    EXPECT_LT(cancelledAt, static_cast<int>(database.size()) / 2) << "Cancel came too late to break off the download";
    EXPECT_FALSE(fs::exists(programFolder + "base.dat"));
    // The one box is the broken archive's: the cancelled download's failure is only logged.
    const std::string log = ReadFile(programFolder + "OVLog.txt");
    const std::string logged = " TDownloadThread.Execute ERROR: ";
    ASSERT_NE(log.find(logged), std::string::npos) << log;
    const size_t errorStart = log.find(logged) + logged.size();
    EXPECT_NE(boxText, log.substr(errorStart, log.find("\r\n", errorStart) - errorStart));
}

TEST_F(WizardWindow, BoxesAndWorkFromOtherThreadsReachTheWindowThreadWhileItExists) {
    PrepareProgramFolder("Russian");
    auto wizard = Open();
    TWindowServices& services = *wizard->Form().Controls.Window;
    wizard->ExpectBox("Д", [](const TBoxSeen& box) {
        EXPECT_EQ(box.Title, "Orvane");
        EXPECT_EQ(box.Text, "Закрыть программу сейчас?");
        EXPECT_TRUE(box.OnWindowThread);
        EXPECT_TRUE(box.OwnedByWindow);
    });
    std::atomic<int> answer{0};
    std::thread asking([&] { answer = AppMessageBox("Закрыть программу сейчас?", MB_YESNO | MB_ICONWARNING); });
    EXPECT_TRUE(wizard->PumpUntil([&] { return answer != 0; }));
    asking.join();
    EXPECT_EQ(answer, IDYES);

    std::atomic<bool> ranOnWindowThread{false};
    std::thread posting([&] { services.RunOnWindowThread([&] { ranOnWindowThread = wizard->OnWindowThread(); }); });
    posting.join();
    EXPECT_TRUE(wizard->PumpUntil([&] { return ranOnWindowThread.load(); }));

    // The window goes away before its thread handles the work: the work is dropped.
    bool lateWorkRan = false;
    services.RunOnWindowThread([&] { lateWorkRan = true; });
    wizard->DestroyWindow();
    wizard->PumpUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_FALSE(lateWorkRan);
}

TEST_F(WizardWindow, ScheduledRunIsDrivenByTheTimerToItsEnd) {
    PrepareProgramFolder("English");
    const std::string database = Package(20000, 's');
    ServeCatalogue("<database>" + Entry("Virus database", "base.dat", database) + "</database>");
    auto wizard = OpenWizardDriver({"orvane", "/SCHEDULED"});
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(wizard->Exec([] {}, [] {}, std::chrono::seconds(30)), 0);
    // Three ticks at least: check, install, close.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1000));
    EXPECT_FALSE(wizard->Shown());
    EXPECT_FALSE(wizard->Form().Controls.ButtonNext->Visible());
    EXPECT_EQ(ReadFile(programFolder + "base.dat"), database);
    EXPECT_EQ(wizard->Form().Controls.ListViewItems->ImageIndex(0), riDone);
    EXPECT_FALSE(wizard->Form().Cancelled);
}
