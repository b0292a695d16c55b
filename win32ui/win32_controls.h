#pragma once
// The form's controls over Win32 child windows: labels, buttons and panels take their caption as window text;
// the progress bar keeps its position inside its range; the list is a report-view ListView whose check boxes
// pass through a change guard; the timer is a window timer.
#include <functional>
#include <string>

#include "UnitOrvane/window_design.h"
#include "win32ui/windows_api.h"

namespace win32ui {

// A control that is hidden or disabled while it has the focus hands it to the next one that takes it (Next to
// Cancel during an install run); else no control would have it, and the window's keys (Esc) would reach nobody.
void HandOnFocus(HWND control);

// Visible and Enabled are the control's own settings, as designed, whatever its parent shows at the moment.
template <class TInterface = TControl>
class TWin32Control : public TInterface {
public:
    explicit TWin32Control(HWND window) : window_(window) {}
    void SetVisible(bool visible) override {
        if (!visible) HandOnFocus(window_);
        ShowWindow(window_, visible ? SW_SHOWNA : SW_HIDE);
    }
    bool Visible() const override { return (GetWindowLongW(window_, GWL_STYLE) & WS_VISIBLE) != 0; }
    void SetEnabled(bool enabled) override {
        if (!enabled) HandOnFocus(window_);
        EnableWindow(window_, enabled);
    }
    bool Enabled() const override { return (GetWindowLongW(window_, GWL_STYLE) & WS_DISABLED) == 0; }
    HWND Handle() const { return window_; }

protected:
    HWND window_;
};

// A label, button or panel. An auto-sized label fits itself to each new caption.
class TWin32CaptionControl : public TWin32Control<> {
public:
    explicit TWin32CaptionControl(HWND window, bool autoSize = false) : TWin32Control(window), autoSize_(autoSize) {}
    void SetCaption(const std::string& caption) override;
    std::string Caption() const override;

private:
    bool autoSize_;
};

class TWin32ProgressBar : public TWin32Control<TProgressBarControl> {
public:
    using TWin32Control::TWin32Control;
    // A progress bar shows no caption.
    void SetCaption(const std::string&) override {}
    std::string Caption() const override { return {}; }
    void SetRange(int minimum, int maximum) override;
    int Maximum() const override;
    // A position beyond the range stops at its end (the control itself does so too).
    void SetPosition(int position) override;
    int Position() const override;
};

// Answers whether the row's state (check mark, selection, focus) may change.
using TRowChangeGuard = std::function<bool(int row)>;

class TWin32ListView : public TWin32Control<TListViewControl>, public TColumnCaptions {
public:
    explicit TWin32ListView(HWND window);
    void SetGuard(TRowChangeGuard guard) { guard_ = std::move(guard); }
    // The answer to the list's LVN_ITEMCHANGING: true refuses the change.
    bool RefusesChange(const NMLISTVIEW& change) const;

    // A list shows no caption of its own; its columns have captions.
    void SetCaption(const std::string&) override {}
    std::string Caption() const override { return {}; }
    int ColumnCount() const override;
    void SetColumnCaption(int column, const std::string& caption) override;
    std::string ColumnCaption(int column) const;

    void Clear() override;
    int AddRow(const std::string& caption) override;
    int RowCount() const override;
    std::string RowCaption(int row) const override { return Text(row, 0); }
    bool Checked(int row) const override;
    void SetChecked(int row, bool checked) override;
    int ImageIndex(int row) const override;
    void SetImageIndex(int row, int image) override;
    std::string Status(int row) const override { return Text(row, 1); }
    void SetStatus(int row, const std::string& status) override;

private:
    std::string Text(int row, int column) const;
    void CheckRow(int row) const;

    TRowChangeGuard guard_;
    // The program's own changes of text and image are not the user's: the guard is not asked.
    bool unguarded_ = false;
};

class TWin32Timer : public TTimerControl {
public:
    TWin32Timer(HWND window, UINT_PTR id, UINT interval) : window_(window), id_(id), interval_(interval) {}
    void SetEnabled(bool enabled) override;
    bool Enabled() const override { return enabled_; }

private:
    HWND window_;
    UINT_PTR id_;
    UINT interval_;
    bool enabled_ = false;
};

// The window's text as UTF-8.
std::string WindowText(HWND window);

}  // namespace win32ui
