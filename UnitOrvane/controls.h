#pragma once
// The narrow view of a window that the wizard's logic drives. A toolkit implements it over its own widgets (the
// Qt window in qt/); tests implement it with recording objects. Every call comes from the window's thread,
// except TWindowServices::RunOnWindowThread and ShowBoxFromWorker, which exist for the download thread.
#include <functional>
#include <string>

// Message box flags and answers, as the wizard asks for them.
constexpr unsigned MB_OK = 0x00;
constexpr unsigned MB_YESNO = 0x04;
constexpr unsigned MB_ICONERROR = 0x10;
constexpr unsigned MB_ICONWARNING = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// A label, button or panel: what every control of the window can do.
class TControl {
public:
    virtual ~TControl() = default;
    virtual void SetVisible(bool visible) = 0;
    virtual bool Visible() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual std::string Caption() const = 0;
};

class TProgressBarControl : public TControl {
public:
    virtual void SetRange(int minimum, int maximum) = 0;
    virtual int Maximum() const = 0;
    virtual void SetPosition(int position) = 0;
    virtual int Position() const = 0;
};

// The update list: rows with a caption, one status text, a check mark and an image index.
class TListViewControl : public TControl {
public:
    virtual void Clear() = 0;
    // Appends a row without check mark, image 0 and an empty status; returns its index.
    virtual int AddRow(const std::string& caption) = 0;
    virtual int RowCount() const = 0;
    virtual std::string RowCaption(int row) const = 0;
    virtual bool Checked(int row) const = 0;
    // Goes through the list's change guard, as a click does.
    virtual void SetChecked(int row, bool checked) = 0;
    virtual int ImageIndex(int row) const = 0;
    virtual void SetImageIndex(int row, int image) = 0;
    virtual std::string Status(int row) const = 0;
    virtual void SetStatus(int row, const std::string& status) = 0;
};

class TTimerControl {
public:
    virtual ~TTimerControl() = default;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
};

// What the window and its application do beyond single controls.
class TWindowServices {
public:
    virtual ~TWindowServices() = default;
    // Closes the main window; the program ends once the running handler has returned.
    virtual void Close() = 0;
    // The application is not to show its main window and ends as soon as its message loop starts.
    virtual void TerminateBeforeShowing() = 0;
    // Handles the window's pending messages once (repaint, clicks, work posted by the download thread).
    virtual void ProcessMessages() = 0;
    // Runs the work on the window's thread at its next message processing; callable from any thread.
    virtual void RunOnWindowThread(std::function<void()> work) = 0;
    // A message box owned by the window; returns the button pressed.
    virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
    // The framework's box for an error that escaped a handler: the error icon, the message and one OK button.
    virtual void ShowException(const std::string& message) = 0;
    // Opens a help document (a file below the program folder, with an optional "::topic" part).
    virtual void OpenHelp(const std::string& document) = 0;
    // Sleeps on the window's thread without handling messages.
    virtual void Sleep(int milliseconds) = 0;
};

// Every control of the wizard window, by its designed name.
struct TFormOrvaneControls {
    TControl* lblWelcometoOrvane = nullptr;
    TControl* LabelStatus = nullptr;
    TControl* LabelUpdate = nullptr;
    TControl* Panel1 = nullptr;
    TControl* Panel2 = nullptr;
    TControl* ButtonBack = nullptr;
    TControl* ButtonNext = nullptr;
    TControl* ButtonCancel = nullptr;
    TControl* ButtonHelp = nullptr;
    TProgressBarControl* ProgressBar = nullptr;
    TListViewControl* ListViewItems = nullptr;
    TTimerControl* tmrSched = nullptr;
    TWindowServices* Window = nullptr;
};
