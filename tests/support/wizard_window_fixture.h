#pragma once
// What the wizard window tests of both toolkits start from: a fresh program folder with the shipped language
// files and the language chosen in common.ini, the product "br" 5.1, code 1234, known, and its catalogue and
// packages served by the test's nginx (packages below "slow/" at a limited rate); and the driver through which
// one suite of walk-through tests (wizard_window_walkthrough.cpp) clicks, types, pumps and photographs the
// window of either toolkit as a user would. Needs the program's common library, whose globals it sets.
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "UnitOrvane/UnitOrvane.h"
#include "UnitOrvane/window_design.h"
#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"

namespace testsupport {

// Bytes with a repeating pattern that starts at the seed.
std::string Package(std::size_t size, char seed);

enum class TKey { Escape, Enter, Up, Space };

// A message box as the user sees it.
struct TBoxSeen {
    std::string Title;
    std::string Text;
    std::vector<std::string> Buttons;  // their labels, in the box's order
    bool OnWindowThread = false;       // shown by the window's thread
    bool OwnedByWindow = false;        // in front of the wizard's window, which it blocks
};
using TBoxCheck = std::function<void(const TBoxSeen&)>;

// One toolkit's wizard window as a user drives it. Every call comes from the window's thread.
class TWizardDriver {
public:
    virtual ~TWizardDriver() = default;
    virtual TDesignedWindow& Window() = 0;
    TFormOrvane& Form() { return Window().Form(); }
    // Opens the window as the program does, then places it where the toolkit's screenshots want it.
    bool Open() {
        const bool shown = Window().Open();
        Arrange();
        return shown;
    }

    // A click on a button.
    virtual void Click(std::string_view button) = 0;
    // A key pressed where the keyboard focus is: on the focused control, else on the window as its active one.
    virtual void PressKey(TKey key) = 0;
    // The designed name of the control with the keyboard focus; empty when none has it.
    virtual std::string Focused() = 0;
    virtual void ClickCheckBox(int row) = 0;
    // A click on the row's caption, which also gives the list the focus.
    virtual void ClickRow(int row) = 0;
    virtual bool RowSelected(int row) = 0;
    // The list row that has the focus mark, -1 when none has.
    virtual int FocusedRow() = 0;
    // The control's place in its parent's client area, in the window's pixels.
    virtual TDesignedRect Place(std::string_view control) = 0;
    virtual TDesignedRect ClientArea() = 0;
    // The dots per inch the window is laid out for (the toolkit's logical ones where it scales by itself).
    virtual int Dpi() = 0;
    virtual std::string Title() = 0;
    virtual std::string ColumnCaption(int column) = 0;
    virtual bool Shown() = 0;
    // The close box of the title bar.
    virtual void CloseBox() = 0;
    // Handles the window's messages until the condition holds or the time is up.
    bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Runs the action while calling tick every 50 ms from the window's message handling (an action such as Next
    // on the list page returns only once the install run is over).
    virtual void Watch(const std::function<void()>& tick, const std::function<void()>& action) = 0;
    // Runs the window's own message loop (Exec), calling start once it runs and tick every 20 ms meanwhile; ends
    // it with 2 after limit.
    virtual int Exec(const std::function<void()>& start, const std::function<void()>& tick,
                     std::chrono::milliseconds limit) = 0;
    // Destroys the window; the driver still handles the thread's messages.
    virtual void DestroyWindow() = 0;

    virtual bool OnWindowThread() = 0;
    // A picture of the window as it is on the screen, named for the reviewer.
    virtual void Screenshot(const std::string& name) = 0;
    // The next box that appears, on any thread, is handed to check, photographed when a name is given, and
    // answered with the key ("Enter", or the letter of a button's mnemonic). A box nobody expects fails the test
    // and is answered as Esc would answer it.
    void ExpectBox(const std::string& key, TBoxCheck check, const std::string& screenshot = "");
    // Whether every expected box has been answered, handling the window's messages meanwhile.
    bool BoxesAnswered();

protected:
    virtual void Arrange() {}
    // Handles the messages waiting for the window's thread.
    virtual void PumpOnce() = 0;
    // What the toolkit does with a box it found.
    struct TBoxHands {
        std::function<void(const std::string& name)> Photograph;
        std::function<void(const std::string& key)> Type;
        std::function<void()> Dismiss;  // as Esc would
    };
    // Hands a box that appeared to the oldest expectation, or fails the test when none waits; from any thread.
    void AnswerBox(const TBoxSeen& seen, const TBoxHands& hands);

private:
    struct TExpectedBox {
        std::string Key;
        TBoxCheck Check;
        std::string Screenshot;
    };
    std::mutex boxesLock_;
    std::deque<TExpectedBox> expected_;
};

// The toolkit's driver over a new window for the program's arguments (element 0 the program); each toolkit's
// test program defines it.
std::unique_ptr<TWizardDriver> OpenWizardDriver(std::vector<std::string> arguments);
// The main program's name in the toolkit's tests: one no process has, so that an install run does not wait for it.
extern const char* const WizardTestMainExe;

class WizardWindowTest : public ::testing::Test {
protected:
    WizardWindowTest() = default;

    // Each call makes a fresh folder, and the program's folder is that one from then on.
    void PrepareProgramFolder(const std::string& language);
    void ServeCatalogue(const std::string& groups);
    // An entry whose package (the content itself unless given) is served, below "slow/" at a limited rate.
    std::string Entry(const std::string& name, const std::string& fileName, const std::string& content,
                      const std::string& extra = "", bool slow = false,
                      const std::optional<std::string>& package = std::nullopt);

    TempDir folder;
    int folders = 0;
    std::string programFolder;
    NginxServer server{"location ~ /slow/ { limit_rate 64k; }"};
};

}  // namespace testsupport
