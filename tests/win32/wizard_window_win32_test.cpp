// The wizard's native Win32 window under Wine: the driver through which the walk-through suite drives it (clicks
// and keys as the controls' own messages, boxes found and answered from a watching thread), and what only Win32
// decides: the frame, font and pictures as designed, and the layout at another monitor's dots per inch.
// The catalogue and packages come from the test stage's nginx (scripts/lib/wine.sh, serve_windows_tests).
// With Wine's null display nothing is drawn; on a real display (scripts/screenshots-windows.sh) the window is
// placed off-centre, so that no box lies wholly inside it, and every page and box leaves a screenshot.
#include "win32ui/wizard_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "platform/win32/text.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wizard_window_fixture.h"

namespace testsupport {

const char* const WizardTestMainExe = "orvane-win32-test-main.exe";

namespace {

namespace fs = std::filesystem;
using platform::win32::Utf8;
using platform::win32::Wide;
using win32ui::TWin32WizardWindow;
using win32ui::WindowText;

const char* ScreenshotRequests() {
    const char* folder = std::getenv("ORVANE_SCREENSHOT_REQUESTS");
    return folder && *folder ? folder : nullptr;
}

// On a real display, has the script that watches ORVANE_SCREENSHOT_REQUESTS photograph the window as the screen
// shows it: NAME.request gives the window's place, and the script answers with NAME.png.
void Photograph(HWND window, const std::string& name) {
    const char* folder = ScreenshotRequests();
    if (!folder) return;
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

// A box titled "Orvane" of this process: the window tests run side by side, each showing boxes of its own.
HWND FindOwnBox(const std::set<HWND>& answered) {
    for (HWND box = nullptr; (box = FindWindowExW(nullptr, box, L"#32770", L"Orvane")) != nullptr;) {
        DWORD process = 0;
        GetWindowThreadProcessId(box, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(box) && !answered.contains(box)) return box;
    }
    return nullptr;
}

// Where the screenshot runs put the window: off-centre, so that boxes, which Windows centres, do not lie wholly
// inside it (Wine leaves such a box black on a screen without a window manager).
void PlaceOffCentre(HWND window) {
    if (ScreenshotRequests()) SetWindowPos(window, nullptr, 8, 8, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// What the timers of the test do while the window's own loops run (a timer procedure takes no context).
std::function<void()> startWork, tickWork;
VOID CALLBACK RunStart(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    startWork();
}
VOID CALLBACK RunTick(HWND, UINT, UINT_PTR, DWORD) { tickWork(); }

class TWin32WizardDriver : public TWizardDriver {
public:
    explicit TWin32WizardDriver(std::vector<std::string> arguments)
        : window_(std::make_unique<TWin32WizardWindow>(std::move(arguments))),
          windowHandle_(window_->Window()),
          thread_(GetCurrentThreadId()),
          watcher_([this] { WatchBoxes(); }) {}
    ~TWin32WizardDriver() override {
        stop_ = true;
        watcher_.join();
    }

    TDesignedWindow& Window() override { return *window_; }
    TWin32WizardWindow& Wizard() { return *window_; }
    // Presses a button as a click does: the window gets its BN_CLICKED.
    void Click(std::string_view button) override { SendMessageW(Control(button), BM_CLICK, 0, 0); }

    // Keys go to the control with the focus; with none, Windows gives them to the active window as system keys.
    void PressKey(TKey key) override {
        const WPARAM keys[] = {VK_ESCAPE, VK_RETURN, VK_UP, VK_SPACE};
        HWND focused = GetFocus();
        MSG message{focused ? focused : window_->Window(), static_cast<UINT>(focused ? WM_KEYDOWN : WM_SYSKEYDOWN),
                    keys[static_cast<int>(key)], 0, 0, {}};
        window_->Handle(message);
    }

    std::string Focused() override {
        HWND focused = GetFocus();
        for (const TDesignedControl& design : WizardDesign) {
            if (focused && focused == window_->ControlWindow(design.Name)) return design.Name;
        }
        return "";
    }

    // A user's change of a row's state, sent to the list as its own mouse and keyboard handling sends it.
    void ClickCheckBox(int row) override {
        const bool checked = ListView_GetCheckState(List(), row) != 0;
        SetRowState(row, INDEXTOSTATEIMAGEMASK(checked ? 1 : 2), LVIS_STATEIMAGEMASK);
    }
    void ClickRow(int row) override {
        SetFocus(List());
        SetRowState(row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }
    bool RowSelected(int row) override {
        return (SendMessageW(List(), LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED) != 0;
    }
    int FocusedRow() override {
        return static_cast<int>(SendMessageW(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    }

    TDesignedRect Place(std::string_view control) override {
        HWND window = Control(control);
        RECT place{};
        GetWindowRect(window, &place);
        MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&place), 2);
        return {place.left, place.top, place.right - place.left, place.bottom - place.top};
    }
    TDesignedRect ClientArea() override {
        RECT client{};
        GetClientRect(window_->Window(), &client);
        return {client.left, client.top, client.right, client.bottom};
    }
    int Dpi() override { return window_->Dpi(); }
    std::string Title() override { return WindowText(window_->Window()); }
    std::string ColumnCaption(int column) override {
        return static_cast<win32ui::TWin32ListView&>(window_->Control("ListViewItems")).ColumnCaption(column);
    }
    bool Shown() override { return IsWindowVisible(window_->Window()) != 0; }
    void CloseBox() override { SendMessageW(window_->Window(), WM_CLOSE, 0, 0); }

    void PumpOnce() override {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (window_) {
                window_->Handle(message);
            } else {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }

    void Watch(const std::function<void()>& tick, const std::function<void()>& action) override {
        tickWork = tick;
        const UINT_PTR timer = SetTimer(nullptr, 0, 50, RunTick);
        action();
        KillTimer(nullptr, timer);
    }

    // A run that does not end by itself is ended with another status, and fails.
    int Exec(const std::function<void()>& start, const std::function<void()>& tick,
             std::chrono::milliseconds limit) override {
        startWork = start;
        tickWork = tick;
        SetTimer(nullptr, 0, 0, RunStart);
        const UINT_PTR ticks = SetTimer(nullptr, 0, 20, RunTick);
        std::atomic<bool> ended{false};
        std::thread watchdog([&] {
            const auto deadline = std::chrono::steady_clock::now() + limit;
            while (!ended && std::chrono::steady_clock::now() < deadline) Sleep(10);
            if (!ended) PostThreadMessageW(thread_, WM_QUIT, 2, 0);
        });
        const int status = window_->Exec();
        ended = true;
        watchdog.join();
        KillTimer(nullptr, ticks);
        return status;
    }

    bool OnWindowThread() override { return GetCurrentThreadId() == thread_; }
    void Screenshot(const std::string& name) override { Photograph(window_->Window(), name); }

    void DestroyWindow() override { window_.reset(); }

protected:
    void Arrange() override { PlaceOffCentre(window_->Window()); }

private:
    HWND Control(std::string_view name) { return window_->ControlWindow(name); }
    HWND List() { return Control("ListViewItems"); }
    void SetRowState(int row, UINT state, UINT mask) {
        LVITEMW item{};
        item.stateMask = mask;
        item.state = state;
        SendMessageW(List(), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    }

    static TBoxSeen Seen(HWND box, DWORD windowThread, HWND window) {
        wchar_t text[1024] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 1023);
        TBoxSeen seen{WindowText(box), Utf8(text), {}, GetWindowThreadProcessId(box, nullptr) == windowThread,
                      window && GetWindow(box, GW_OWNER) == window};
        for (const int button : {IDOK, IDYES, IDNO}) {
            if (HWND shown = GetDlgItem(box, button)) seen.Buttons.push_back(WindowText(shown));
        }
        return seen;
    }

    // Types the key into the box as its own message loop gets it (a mnemonic letter as a character, Enter as a
    // key), and waits for the box to close.
    static void Type(HWND box, const std::string& key) {
        HWND button = GetDlgItem(box, IDOK) ? GetDlgItem(box, IDOK) : GetDlgItem(box, IDYES);
        if (key == "Enter") PostMessageW(button, WM_KEYDOWN, VK_RETURN, 0);
        else PostMessageW(button, WM_CHAR, Wide(key).at(0), 0);
        for (int waited = 0; waited < 500 && IsWindow(box) && IsWindowVisible(box); ++waited) Sleep(10);
        EXPECT_FALSE(IsWindow(box) && IsWindowVisible(box)) << "the key " << key << " left the box open";
    }

    // Boxes appear on the window's thread, which waits in them: another thread finds and answers them.
    void WatchBoxes() {
        std::set<HWND> answered;
        while (!stop_) {
            Sleep(10);
            HWND box = FindOwnBox(answered);
            if (!box) continue;
            answered.insert(box);
            const TBoxSeen seen = Seen(box, thread_, windowHandle_);
            AnswerBox(seen, {[box](const std::string& name) { Photograph(box, name); },
                             [box](const std::string& key) { Type(box, key); },
                             [box] {
                                 for (int answer : {IDOK, IDNO})
                                     PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(answer), 0);
                             }});
        }
    }

    std::unique_ptr<TWin32WizardWindow> window_;
    HWND windowHandle_;  // for the watching thread, which must not look at window_
    DWORD thread_;
    std::atomic<bool> stop_{false};
    std::thread watcher_;
};

// The test program is per-monitor aware, as orvane.exe is by its manifest, so that the window sees the dots per
// inch of the screen it is on.
void BecomeDpiAware() {
    using TSetAwareness = BOOL(WINAPI*)(HANDLE);
    const auto setAwareness = reinterpret_cast<TSetAwareness>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    if (setAwareness) setAwareness(reinterpret_cast<HANDLE>(-4));  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
}

}  // namespace

std::unique_ptr<TWizardDriver> OpenWizardDriver(std::vector<std::string> arguments) {
    static const bool aware = (BecomeDpiAware(), true);
    (void)aware;
    auto driver = std::make_unique<TWin32WizardDriver>(std::move(arguments));
    return driver;
}

namespace {

class Win32WizardWindow : public WizardWindowTest {};

TEST_F(Win32WizardWindow, HasTheDesignedFrameFontAndPictures) {
    PrepareProgramFolder("English");
    TWin32WizardDriver driver({"orvane"});
    ASSERT_TRUE(driver.Window().Open());
    TWin32WizardWindow& wizard = driver.Wizard();
    const int dpi = wizard.Dpi();
    const LONG style = GetWindowLongW(wizard.Window(), GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    // Centred in the work area of its monitor.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(wizard.Window(), MONITOR_DEFAULTTONEAREST), &monitor);
    RECT frame{};
    GetWindowRect(wizard.Window(), &frame);
    EXPECT_LE(std::abs((frame.left - monitor.rcWork.left) - (monitor.rcWork.right - frame.right)), 1);
    EXPECT_LE(std::abs((frame.top - monitor.rcWork.top) - (monitor.rcWork.bottom - frame.bottom)), 1);
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(wizard.ControlWindow("ButtonNext"), WM_GETFONT, 0, 0)), sizeof font,
               &font);
    EXPECT_EQ(font.lfHeight, -ScaledToDpi(DesignedFontPixels, dpi));
    EXPECT_EQ(std::wstring(font.lfFaceName), L"Arial");
    // The list: a report with check boxes and the six row images.
    HWND list = wizard.ControlWindow("ListViewItems");
    EXPECT_TRUE(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES);
    EXPECT_EQ(GetWindowLongW(list, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_EQ(ImageList_GetImageCount(wizard.RowImageList()), 6);
    // Next is the default button.
    EXPECT_EQ(GetWindowLongW(wizard.ControlWindow("ButtonNext"), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
}

// A window moved to a monitor of another resolution gets WM_DPICHANGED with the place Windows suggests: every
// control, the fonts, the column widths, the row images and the picture follow, drawn from the artwork at sizes of
// their own, and the client area is the designed one at the new resolution.
TEST_F(Win32WizardWindow, LaysItselfOutAfreshForAMonitorOfAnotherResolution) {
    PrepareProgramFolder("English");
    ServeCatalogue("<database>" + Entry("Virus database", "base.dat", Package(3000, 'a'), "<required/>") +
                   "</database><tools>" + Entry("Cleaning tool", "cleaner.bin", Package(700, 'k')) + "</tools>");
    TWin32WizardDriver driver({"orvane"});
    ASSERT_TRUE(driver.Open());
    TWin32WizardWindow& wizard = driver.Wizard();
    driver.Click("ButtonNext");
    ASSERT_EQ(driver.Form().Page, 3);
    struct Case {
        int dpi, font, rowImage, picture;
    };
    for (const Case& test : {Case{144, 17, 24, 180}, Case{192, 22, 32, 240}, Case{120, 14, 20, 120}}) {
        SCOPED_TRACE(test.dpi);
        RECT frame{};
        GetWindowRect(wizard.Window(), &frame);
        RECT suggested{frame.left, frame.top, frame.left + MulDiv(frame.right - frame.left, test.dpi, wizard.Dpi()),
                       frame.top + MulDiv(frame.bottom - frame.top, test.dpi, wizard.Dpi())};
        SendMessageW(wizard.Window(), 0x02E0, MAKEWPARAM(test.dpi, test.dpi), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(wizard.Dpi(), test.dpi);
        EXPECT_EQ(driver.ClientArea(), (TDesignedRect{0, 0, ScaledToDpi(DesignedClientWidth, test.dpi),
                                                      ScaledToDpi(DesignedClientHeight, test.dpi)}));
        RECT moved{};
        GetWindowRect(wizard.Window(), &moved);
        EXPECT_EQ(moved.left, suggested.left);
        EXPECT_EQ(moved.top, suggested.top);
        for (const TDesignedControl& design : WizardDesign) {
            if (design.Kind == TDesignedKind::Heading || design.Kind == TDesignedKind::AutoLabel) continue;
            EXPECT_EQ(driver.Place(design.Name), ScaledToDpi(design.Place, test.dpi)) << design.Name;
        }
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(wizard.ControlWindow("LabelStatus"), WM_GETFONT, 0, 0)),
                   sizeof font, &font);
        EXPECT_EQ(font.lfHeight, -test.font);
        int width = 0, height = 0;
        ImageList_GetIconSize(wizard.RowImageList(), &width, &height);
        EXPECT_EQ(width, test.rowImage);
        EXPECT_EQ(height, test.rowImage);
        EXPECT_EQ(SendMessageW(wizard.ControlWindow("ListViewItems"), LVM_GETCOLUMNWIDTH, 0, 0),
                  ScaledToDpi(DesignedListColumns[0].Width, test.dpi));
        BITMAP picture{};
        ASSERT_NE(GetObjectW(wizard.Picture(), sizeof picture, &picture), 0);
        EXPECT_EQ(picture.bmWidth, test.picture);
        driver.Screenshot("list_at_" + std::to_string(test.dpi) + "_dpi");
    }
}

}  // namespace

}  // namespace testsupport
