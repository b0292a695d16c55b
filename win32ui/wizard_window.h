#pragma once
// The update wizard's window in Win32: the designed controls at their places, forwarding every event to the
// toolkit-neutral form (UnitOrvane) through its Dispatch, and serving the form through the controls interface.
// While the window exists, the program's message boxes (AppMessageBox) are boxes owned by it.
#include <memory>
#include <string>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "localizer/localizer.h"
#include "win32ui/win32_controls.h"
#include "win32ui/window_services.h"

namespace win32ui {

// The windows of the wizard, by their designed names; the main window owns the others.
struct TWizardHandles {
    HWND FormOrvane = nullptr;
    HWND lblWelcometoOrvane = nullptr;
    HWND LabelStatus = nullptr;
    HWND LabelUpdate = nullptr;
    HWND Panel1 = nullptr;
    HWND Image1 = nullptr;
    HWND Panel2 = nullptr;
    HWND ButtonBack = nullptr;
    HWND ButtonNext = nullptr;
    HWND ButtonCancel = nullptr;
    HWND ButtonHelp = nullptr;
    HWND ProgressBar = nullptr;
    HWND ListViewItems = nullptr;
    HFONT Font = nullptr;
    HFONT BoldFont = nullptr;
    HBITMAP Picture = nullptr;
    HIMAGELIST Images = nullptr;
};

// The window as the localizer sees it: the form, whose caption is the window title, and what it owns.
class TWin32TranslatableForm : public TTranslatableComponent {
public:
    struct TOwned {
        std::string Name;
        TComponentKind Kind = TComponentKind::Other;
        TControl* Control = nullptr;          // takes the caption
        TWin32ListView* Columns = nullptr;    // a list view's column captions
    };
    TWin32TranslatableForm(HWND window, std::vector<TOwned> owned) : window_(window), owned_(std::move(owned)) {}

    std::string Name() const override { return "FormOrvane"; }
    TComponentKind Kind() const override { return TComponentKind::Form; }
    void SetCaption(const std::string& caption) override;
    void ForEachOwned(const std::function<void(TTranslatableComponent&)>& visit) override;

private:
    HWND window_;
    std::vector<TOwned> owned_;
};

class TWin32WizardWindow {
public:
    // Builds the window (not shown yet) and its form; arguments are the program's, element 0 the program.
    explicit TWin32WizardWindow(std::vector<std::string> arguments);
    // FormDestroy runs here, once no more work from other threads can reach the window.
    ~TWin32WizardWindow();
    TWin32WizardWindow(const TWin32WizardWindow&) = delete;
    TWin32WizardWindow& operator=(const TWin32WizardWindow&) = delete;

    // Runs FormCreate; then, unless the form asked not to be shown, shows the window centred and runs FormShow.
    // Returns whether the window is on screen afterwards.
    bool Open();
    // Opens the window and runs the message loop until the window has closed and the handler running then has
    // returned; the exit status.
    int Exec();

    TFormOrvane& Form() { return *form_; }
    const TWizardHandles& Handles() const { return handles_; }
    // Handles one message as the window's loops do (Esc, Tab), for callers that run a loop of their own.
    void Handle(MSG& message);

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool PreTranslate(MSG& message);
    void Dispatch(void (TFormOrvane::*handler)());
    void QuitWhenClosed();
    TFormOrvaneControls FormControls();
    std::vector<TWin32TranslatableForm::TOwned> OwnedComponents();

    TWizardHandles handles_;
    TWin32CaptionControl lblWelcometoOrvane_;
    TWin32CaptionControl LabelStatus_;
    TWin32CaptionControl LabelUpdate_;
    TWin32CaptionControl Panel1_;
    TWin32CaptionControl Panel2_;
    TWin32CaptionControl ButtonBack_;
    TWin32CaptionControl ButtonNext_;
    TWin32CaptionControl ButtonCancel_;
    TWin32CaptionControl ButtonHelp_;
    TWin32ProgressBar ProgressBar_;
    TWin32ListView ListViewItems_;
    TWin32Timer tmrSched_;
    TWin32WindowServices services_;
    TWin32TranslatableForm translatable_;
    AppMessageBoxHandler previousMessageBox_;
    std::unique_ptr<TFormOrvane> form_;
    bool looping_ = false;
    bool inTimer_ = false;
    int handlersRunning_ = 0;
};

}  // namespace win32ui
