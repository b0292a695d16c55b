// The wizard's native Win32 window under Wine (its null display driver: windows exist, nothing is drawn): the
// designed window, the form's pages through its buttons, the list's change guard refusing to let a required row
// go, Esc and the close box, boxes and work from other threads, and a scheduled run driven by the timer alone.
// The catalogue and packages come from the test stage's nginx (scripts/lib/wine.sh, serve_windows_tests).
// On a real display (scripts/screenshots-windows.sh) the walk through every page also leaves a screenshot of each.
#include "win32ui/wizard_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/win32/text.h"
#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wizard_window_fixture.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Package;
using testsupport::WriteFile;
using win32ui::TWin32WizardWindow;

// Handles the messages of this thread until the condition holds or the time is up.
bool PumpUntil(TWin32WizardWindow& wizard, const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) wizard.Handle(message);
        Sleep(5);
    }
    return true;
}

RECT ClientPlace(HWND control) {
    RECT place{};
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&place), 2);
    return place;
}

void ExpectPlace(HWND control, int left, int top, int width, int height, const char* name) {
    const RECT place = ClientPlace(control);
    EXPECT_EQ(place.left, left) << name;
    EXPECT_EQ(place.top, top) << name;
    EXPECT_EQ(place.right - place.left, width) << name;
    EXPECT_EQ(place.bottom - place.top, height) << name;
}

// On a real display, has the script that watches ORVANE_SCREENSHOT_REQUESTS photograph the window as the screen
// shows it: NAME.request gives the window's place, and the script answers with NAME.png. Wine's null display draws
// nothing, so there is nothing to photograph without that folder.
void Screenshot(HWND window, const std::string& name) {
    const char* folder = std::getenv("ORVANE_SCREENSHOT_REQUESTS");
    if (!folder || !*folder) return;
    for (int waited = 0; waited < 200 && !IsWindowVisible(window); ++waited) Sleep(10);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    // Wine hands what a window drew to the X server when its thread finds no message waiting, at most every 50 ms:
    // a look at the queue for a message nobody sends, after that, makes it do so now.
    Sleep(100);
    MSG none;
    PeekMessageW(&none, nullptr, WM_APP + 0x3FFF, WM_APP + 0x3FFF, PM_NOREMOVE);
    RECT frame{};
    GetWindowRect(window, &frame);
    const std::string request = std::string(folder) + "/" + name + ".request";
    WriteFile(request + ".new", std::to_string(frame.left) + " " + std::to_string(frame.top) + " " +
                                    std::to_string(frame.right - frame.left) + " " +
                                    std::to_string(frame.bottom - frame.top) + "\n");
    fs::rename(request + ".new", request);
    const fs::path picture = std::string(folder) + "/" + name + ".png";
    for (int waited = 0; waited < 3000 && !fs::exists(picture); ++waited) Sleep(10);
    EXPECT_TRUE(fs::exists(picture)) << "no screenshot " << name;
}

// What a thread timer of the test does while the window's own loop runs (a timer procedure takes no context).
std::function<void()> timerWork;
VOID CALLBACK RunTimerWork(HWND, UINT, UINT_PTR, DWORD) { timerWork(); }

// Presses a button as a click does: the window gets its BN_CLICKED.
void Click(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }

bool Selected(HWND list, int row) {
    return (SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

// A user's change of a row's state, sent to the list as its own mouse and keyboard handling sends it.
void SetRowState(HWND list, int row, UINT state, UINT mask) {
    LVITEMW item{};
    item.stateMask = mask;
    item.state = state;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// A box titled "Orvane" of this process: the window tests run side by side, each showing boxes of its own.
HWND FindOwnBox() {
    for (HWND box = nullptr; (box = FindWindowExW(nullptr, box, L"#32770", L"Orvane")) != nullptr;) {
        DWORD process = 0;
        GetWindowThreadProcessId(box, &process);
        if (process == GetCurrentProcessId()) return box;
    }
    return nullptr;
}

// Finds the next box titled "Orvane" on any thread of this process, hands it to inspect and presses the button.
std::thread AnswerNextBox(int button, std::function<void(HWND box)> inspect) {
    return std::thread([button, inspect] {
        for (int tries = 0; tries < 2000; ++tries) {
            if (HWND box = FindOwnBox()) {
                inspect(box);
                PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
                return;
            }
            Sleep(10);
        }
        ADD_FAILURE() << "no box appeared";
    });
}

// While it exists, a box that no test step expects fails the test with its text and is closed, so a test that
// meets one ends instead of waiting for a user.
class UnexpectedBoxes {
public:
    UnexpectedBoxes()
        : watcher_([this] {
              while (!stop_) {
                  if (HWND box = FindOwnBox()) {
                      wchar_t text[1024] = {};
                      GetDlgItemTextW(box, 0xFFFF, text, 1023);
                      ADD_FAILURE() << "box: " << platform::win32::Utf8(text);
                      for (int answer : {IDOK, IDNO}) PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(answer), 0);
                  }
                  Sleep(50);
              }
          }) {}
    ~UnexpectedBoxes() {
        stop_ = true;
        watcher_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread watcher_;
};

class Win32WizardWindow : public testsupport::WizardWindowTest {
protected:
    Win32WizardWindow() : WizardWindowTest("orvane-win32-test-main.exe") {}
};

}  // namespace

TEST_F(Win32WizardWindow, OpensAsDesignedWithTheCaptionsOfItsLanguage) {
    for (const std::string language : {"English", "Russian"}) {
        SCOPED_TRACE(language);
        PrepareProgramFolder(language);
        TFileLocalizer expected(ORVANE_LANGUAGE_FOLDER);
        expected.SetLanguage(language);
        const auto caption = [&](const std::string& name) { return expected.Lookup("FormOrvane" + name); };

        TWin32WizardWindow wizard({"orvane"});
        ASSERT_TRUE(wizard.Open());
        const win32ui::TWizardHandles& handles = wizard.Handles();
        HWND window = handles.FormOrvane;
        RECT client{};
        GetClientRect(window, &client);
        EXPECT_EQ(client.right, 480);
        EXPECT_EQ(client.bottom, 314);
        const LONG style = GetWindowLongW(window, GWL_STYLE);
        EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
        EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
        // Centred in the work area.
        RECT work{}, frame{};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        GetWindowRect(window, &frame);
        EXPECT_LE(std::abs((frame.left - work.left) - (work.right - frame.right)), 1);
        EXPECT_LE(std::abs((frame.top - work.top) - (work.bottom - frame.bottom)), 1);
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(handles.ButtonNext, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_EQ(font.lfHeight, -11);
        EXPECT_EQ(std::wstring(font.lfFaceName), L"Arial");

        EXPECT_NE(caption("FormOrvane"), "");
        EXPECT_EQ(win32ui::WindowText(window), caption("FormOrvane"));
        for (auto [control, name] : {std::pair{handles.ButtonBack, "ButtonBack"}, {handles.ButtonNext, "ButtonNext"},
                                     {handles.ButtonCancel, "ButtonCancel"}, {handles.ButtonHelp, "ButtonHelp"},
                                     {handles.lblWelcometoOrvane, "lblWelcometoOrvane"},
                                     {handles.LabelUpdate, "LabelUpdate"}}) {
            EXPECT_EQ(win32ui::WindowText(control), caption(name)) << name;
        }
        EXPECT_EQ(win32ui::WindowText(handles.LabelStatus), expected.GetMessage("MsgOV1"));
        auto& list = static_cast<win32ui::TWin32ListView&>(*wizard.Form().Controls.ListViewItems);
        EXPECT_EQ(list.ColumnCaption(0) + "," + list.ColumnCaption(1), caption("ListViewItems"));

        ExpectPlace(handles.ButtonBack, 149, 280, 75, 25, "ButtonBack");
        ExpectPlace(handles.ButtonNext, 224, 280, 75, 25, "ButtonNext");
        ExpectPlace(handles.ButtonCancel, 312, 280, 75, 25, "ButtonCancel");
        ExpectPlace(handles.ButtonHelp, 400, 280, 75, 25, "ButtonHelp");
        ExpectPlace(handles.ListViewItems, 136, 64, 337, 161, "ListViewItems");
        ExpectPlace(handles.ProgressBar, 136, 248, 337, 17, "ProgressBar");
        ExpectPlace(handles.LabelStatus, 137, 32, 335, 168, "LabelStatus");
        ExpectPlace(handles.Panel1, 8, 8, 120, 257, "Panel1");
        // The auto-sized label is as wide as its caption, so nothing of it is cut off.
        const RECT label = ClientPlace(handles.LabelUpdate);
        EXPECT_GT(label.right - label.left, 20);
        EXPECT_GT(label.bottom - label.top, 0);

        // The list: a report with check boxes and the six row images.
        const auto extended = SendMessageW(handles.ListViewItems, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
        EXPECT_TRUE(extended & LVS_EX_CHECKBOXES);
        EXPECT_EQ(GetWindowLongW(handles.ListViewItems, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
        EXPECT_EQ(ImageList_GetImageCount(handles.Images), 6);
        BITMAP picture{};
        ASSERT_NE(GetObjectW(handles.Picture, sizeof picture, &picture), 0);
        EXPECT_EQ(picture.bmWidth, 120);
        EXPECT_EQ(picture.bmHeight, 257);
    }
}

TEST_F(Win32WizardWindow, NextWalksThePagesAndTheRequiredRowRefusesToBeLeftOut) {
    PrepareProgramFolder("English");
    const std::string database = Package(30000, 'd');
    const std::string tool = Package(2500, 't');
    ServeCatalogue("<database>" + Entry("Virus database", "base.dat", database, "<required/>") +
                   "</database><tools>" + Entry("Cleaning tool", "Cleaner.bin", tool) + "</tools>");
    UnexpectedBoxes boxes;
    TWin32WizardWindow wizard({"orvane"});
    ASSERT_TRUE(wizard.Open());
    TFormOrvane& form = wizard.Form();
    const win32ui::TWizardHandles& handles = wizard.Handles();
    ASSERT_EQ(form.Page, 1);

    Click(handles.ButtonNext);
    ASSERT_EQ(form.Page, 3);
    TListViewControl& list = *form.Controls.ListViewItems;
    ASSERT_EQ(list.RowCount(), 2);
    EXPECT_EQ(list.RowCaption(0), "Virus database");
    EXPECT_EQ(list.ImageIndex(0), riRequired);
    EXPECT_EQ(list.ImageIndex(1), riTools);
    EXPECT_TRUE(list.Checked(0));
    EXPECT_TRUE(list.Checked(1));

    // The required row keeps its check mark, whether the change comes from the program or from the list itself,
    // and cannot be selected either.
    list.SetChecked(0, false);
    EXPECT_TRUE(list.Checked(0));
    SetRowState(handles.ListViewItems, 0, INDEXTOSTATEIMAGEMASK(1), LVIS_STATEIMAGEMASK);
    EXPECT_TRUE(list.Checked(0));
    SetRowState(handles.ListViewItems, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    EXPECT_FALSE(Selected(handles.ListViewItems, 0));
    // The other row follows.
    SetRowState(handles.ListViewItems, 1, INDEXTOSTATEIMAGEMASK(1), LVIS_STATEIMAGEMASK);
    EXPECT_FALSE(list.Checked(1));
    SetRowState(handles.ListViewItems, 1, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_TRUE(Selected(handles.ListViewItems, 1));

    // Install: the required file arrives, the left-out one does not; then Next closes the window.
    Click(handles.ButtonNext);
    ASSERT_TRUE(PumpUntil(wizard, [&] { return list.ImageIndex(0) == riDone; }));
    EXPECT_EQ(testsupport::ReadFile(programFolder + "base.dat"), database);
    EXPECT_FALSE(fs::exists(programFolder + "Tools/Cleaner.bin"));
    EXPECT_GE(form.Page, 4);
    ASSERT_TRUE(PumpUntil(wizard, [&] { return IsWindowEnabled(handles.ButtonNext) != 0; }));
    Click(handles.ButtonNext);
    EXPECT_FALSE(IsWindowVisible(handles.FormOrvane));
    EXPECT_FALSE(form.Cancelled);
}

TEST_F(Win32WizardWindow, EscAndTheCancelButtonCancelWhileEnabledAndTheCloseBoxDoesNot) {
    PrepareProgramFolder("English");
    {
        TWin32WizardWindow wizard({"orvane"});
        ASSERT_TRUE(wizard.Open());
        MSG escape{wizard.Handles().ButtonNext, WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
        wizard.Handle(escape);
        EXPECT_TRUE(wizard.Form().Cancelled);
        EXPECT_FALSE(IsWindowVisible(wizard.Handles().FormOrvane));
    }
    PrepareProgramFolder("English");
    {
        TWin32WizardWindow wizard({"orvane"});
        ASSERT_TRUE(wizard.Open());
        Click(wizard.Handles().ButtonCancel);
        EXPECT_TRUE(wizard.Form().Cancelled);
        EXPECT_FALSE(IsWindowVisible(wizard.Handles().FormOrvane));
    }
    PrepareProgramFolder("English");
    {
        TWin32WizardWindow wizard({"orvane"});
        ASSERT_TRUE(wizard.Open());
        wizard.Form().Dispatch([&] { wizard.Form().ShowNoUpdatesPage(); });
        // On the last page Cancel is not to be pressed: Esc does nothing.
        MSG escape{wizard.Handles().FormOrvane, WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
        wizard.Handle(escape);
        EXPECT_TRUE(IsWindowVisible(wizard.Handles().FormOrvane));
        SendMessageW(wizard.Handles().FormOrvane, WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindowVisible(wizard.Handles().FormOrvane));
        EXPECT_FALSE(wizard.Form().Cancelled);
    }
}

TEST_F(Win32WizardWindow, BoxesAndWorkFromOtherThreadsReachTheWindowThread) {
    PrepareProgramFolder("Russian");
    bool lateWorkRan = false;
    {
        TWin32WizardWindow wizard({"orvane"});
        ASSERT_TRUE(wizard.Open());
        TWindowServices& services = *wizard.Form().Controls.Window;
        const DWORD windowThread = GetCurrentThreadId();
        HWND window = wizard.Handles().FormOrvane;

        std::thread answering = AnswerNextBox(IDYES, [&](HWND box) {
            EXPECT_EQ(GetWindow(box, GW_OWNER), window);
            EXPECT_EQ(GetWindowThreadProcessId(box, nullptr), windowThread);
            // The buttons speak the language file's language, not the one Windows was installed in.
            EXPECT_EQ(win32ui::WindowText(GetDlgItem(box, IDYES)), "Да");
            EXPECT_EQ(win32ui::WindowText(GetDlgItem(box, IDNO)), "Нет");
        });
        std::atomic<int> answer{0};
        std::thread asking([&] { answer = AppMessageBox("Закрыть программу сейчас?", MB_YESNO | MB_ICONWARNING); });
        EXPECT_TRUE(PumpUntil(wizard, [&] { return answer != 0; }));
        asking.join();
        answering.join();
        EXPECT_EQ(answer, IDYES);

        std::atomic<bool> ranOnWindowThread{false};
        std::thread posting([&] {
            services.RunOnWindowThread([&] { ranOnWindowThread = GetCurrentThreadId() == windowThread; });
        });
        posting.join();
        EXPECT_TRUE(PumpUntil(wizard, [&] { return ranOnWindowThread.load(); }));
        services.RunOnWindowThread([&] { lateWorkRan = true; });
    }
    // The window went away before its thread handled the work: the work is dropped.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    EXPECT_FALSE(lateWorkRan);
}

TEST_F(Win32WizardWindow, ScheduledRunIsDrivenByTheTimerToItsEnd) {
    PrepareProgramFolder("English");
    const std::string database = Package(20000, 's');
    ServeCatalogue("<database>" + Entry("Virus database", "base.dat", database) + "</database>");
    UnexpectedBoxes boxes;
    TWin32WizardWindow wizard({"orvane", "/SCHEDULED"});
    // A run that does not end by itself is ended with another status, and fails.
    const DWORD windowThread = GetCurrentThreadId();
    std::atomic<bool> ended{false};
    std::thread watchdog([&] {
        for (int waited = 0; waited < 3000 && !ended; ++waited) Sleep(10);
        if (!ended) PostThreadMessageW(windowThread, WM_QUIT, 2, 0);
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(wizard.Exec(), 0);
    ended = true;
    watchdog.join();
    // Three ticks at least: check, install, close.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1000));
    EXPECT_FALSE(IsWindowVisible(wizard.Handles().FormOrvane));
    EXPECT_FALSE(IsWindowVisible(wizard.Handles().ButtonNext));
    EXPECT_EQ(testsupport::ReadFile(programFolder + "base.dat"), database);
    EXPECT_EQ(wizard.Form().Controls.ListViewItems->ImageIndex(0), riDone);
    EXPECT_FALSE(wizard.Form().Cancelled);
}

TEST_F(Win32WizardWindow, WalksEveryPageAndLeavesAScreenshotOfEach) {
    for (const std::string language : {"English", "Russian"}) {
        SCOPED_TRACE(language);
        PrepareProgramFolder(language);
        const std::string suffix = language == "English" ? "" : "_" + language;
        const std::string database = Package(96 * 1024, 'd');
        WriteFile(programFolder + "obsolete.dat", "old");
        std::string damaged = Entry("Brellium program", "brellium-new", Package(5000, 'p'));
        damaged.replace(damaged.find("<crc>"), damaged.find("</crc>") - damaged.find("<crc>"), "<crc>12345");
        ServeCatalogue("<database>" + Entry("Virus database", "base.dat", database, "<required/>", true) +
                       "<entry><name>Obsolete signatures</name><filename>obsolete.dat</filename></entry>" +
                       "</database><tools>" + Entry("Cleaning tool", "Cleaner.bin", Package(2500, 't')) +
                       "</tools><program>" + damaged + "</program>");
        UnexpectedBoxes boxes;
        TWin32WizardWindow wizard({"orvane"});
        ASSERT_TRUE(wizard.Open());
        TFormOrvane& form = wizard.Form();
        const win32ui::TWizardHandles& handles = wizard.Handles();
        Screenshot(handles.FormOrvane, "welcome" + suffix);

        // The checking page is on screen while the window handles its messages once before the request.
        int checkingPage = 0;
        form.Controls.Window->RunOnWindowThread([&] {
            checkingPage = form.Page;
            Screenshot(handles.FormOrvane, "checking" + suffix);
        });
        Click(handles.ButtonNext);
        EXPECT_EQ(checkingPage, 2);
        ASSERT_EQ(form.Page, 3);
        TListViewControl& list = *form.Controls.ListViewItems;
        ASSERT_EQ(list.RowCount(), 4);
        EXPECT_EQ(list.ImageIndex(1), riDatabase);
        EXPECT_EQ(list.ImageIndex(3), riProgram);
        SetRowState(handles.ListViewItems, 2, INDEXTOSTATEIMAGEMASK(1), LVIS_STATEIMAGEMASK);
        EXPECT_FALSE(list.Checked(2));
        Screenshot(handles.FormOrvane, "list" + suffix);

        // During the slow download the row counts down what is left and the bar moves; Next returns when the
        // install is over, so a timer looks in while the window's own loop runs.
        bool downloadSeen = false;
        timerWork = [&] {
            if (downloadSeen || form.Page != 4 || form.Controls.ProgressBar->Position() <= 0) return;
            downloadSeen = true;
            Screenshot(handles.FormOrvane, "install" + suffix);
        };
        const UINT_PTR timer = SetTimer(nullptr, 0, 50, RunTimerWork);
        Click(handles.ButtonNext);
        KillTimer(nullptr, timer);
        EXPECT_TRUE(downloadSeen);
        ASSERT_TRUE(PumpUntil(wizard, [&] { return IsWindowEnabled(handles.ButtonNext) != 0; }));
        EXPECT_EQ(testsupport::ReadFile(programFolder + "base.dat"), database);
        EXPECT_FALSE(fs::exists(programFolder + "obsolete.dat"));
        EXPECT_FALSE(fs::exists(programFolder + "Tools/Cleaner.bin"));
        EXPECT_EQ(list.ImageIndex(0), riDone);
        EXPECT_EQ(list.ImageIndex(3), riFailed);
        EXPECT_FALSE(IsWindowVisible(handles.ProgressBar));
        Screenshot(handles.FormOrvane, "install_done" + suffix);

        form.Dispatch([&] { form.ShowNoUpdatesPage(); });
        EXPECT_FALSE(IsWindowVisible(handles.ListViewItems));
        Screenshot(handles.FormOrvane, "finished" + suffix);
        Click(handles.ButtonNext);
        EXPECT_FALSE(IsWindowVisible(handles.FormOrvane));
        EXPECT_FALSE(form.Cancelled);
    }
}
