#pragma once
// The update wizard's window in Win32: the designed controls (UnitOrvane/window_design.h) at their places, scaled
// to the dots per inch of the window's monitor and laid out afresh when it moves to another (WM_DPICHANGED),
// forwarding every event to the toolkit-neutral form. While the window exists, the program's message boxes
// (AppMessageBox) are boxes owned by it.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "UnitOrvane/window_design.h"
#include "win32ui/win32_controls.h"
#include "win32ui/window_services.h"

namespace win32ui {

class TWin32WizardWindow : public TDesignedWindow {
public:
    // Builds the window (not shown yet) and its form; arguments are the program's, element 0 the program.
    explicit TWin32WizardWindow(std::vector<std::string> arguments);
    // FormDestroy runs here, once no more work from other threads can reach the window.
    ~TWin32WizardWindow() override;

    // Opens the window and runs the message loop until the window has closed and the handler running then has
    // returned; the exit status.
    int Exec();
    // Handles one message as the window's loops do (Esc, Enter, Tab), for callers that run a loop of their own.
    void Handle(MSG& message);
    HWND Window() const { return window_; }
    // The window of a designed control.
    HWND ControlWindow(std::string_view name) const;
    // The dots per inch the window is laid out for.
    int Dpi() const { return dpi_; }
    HIMAGELIST RowImageList() const { return images_; }
    HBITMAP Picture() const { return picture_; }

    void SetCaption(const std::string& caption) override;

protected:
    bool TerminatesBeforeShowing() const override { return services_.TerminatesBeforeShowing(); }
    void ShowCentred() override;
    void FocusNext() override { SetFocus(ControlWindow("ButtonNext")); }
    bool Shown() const override { return IsWindowVisible(window_) != 0; }
    void EndLoop() override { PostQuitMessage(0); }

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool PreTranslate(MSG& message);
    void CreateControl(const TDesignedControl& design, int id);
    void CreateList(HWND list);
    // Fonts, every control's place, the column widths and the pictures for the dots per inch.
    void LayOut(int dpi);
    void ReplacePictures(int dpi);
    void OnDpiChanged(int dpi, const RECT& suggested);
    void FitClientArea();
    std::string_view NameOf(HWND control) const;

    int dpi_;
    HWND window_;
    std::vector<HWND> children_;  // in the order of WizardDesign
    HFONT font_ = nullptr;
    HFONT boldFont_ = nullptr;
    HBITMAP picture_ = nullptr;
    HIMAGELIST images_ = nullptr;
    TWin32Timer tmrSched_;
    TWin32WindowServices services_;
    TWin32ListView* list_ = nullptr;
    bool inTimer_ = false;
};

}  // namespace win32ui
