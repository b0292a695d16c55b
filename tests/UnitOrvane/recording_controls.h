#pragma once
// A headless wizard window: every control records what the form does to it, and the window's services answer
// from a script, so tests drive the form's logic as the toolkit would. Controls may be used on the window's
// thread only (the thread that built them); a use from any other thread fails the running test.
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "UnitOrvane/controls.h"
#include "localizer/localizer.h"

namespace testsupport {

// Remembers the window's thread and fails the running test when a control is used from another one.
class WindowThreadCheck {
public:
    void Check() const;

private:
    std::thread::id owner_ = std::this_thread::get_id();
};

// The state every control shares, over any of the control interfaces; captions keep their history.
template <class Interface>
class RecordedControl : public Interface {
public:
    void SetVisible(bool visible) override {
        Touch();
        visible_ = visible;
    }
    bool Visible() const override {
        Touch();
        return visible_;
    }
    void SetEnabled(bool enabled) override {
        Touch();
        enabled_ = enabled;
    }
    bool Enabled() const override {
        Touch();
        return enabled_;
    }
    void SetCaption(const std::string& caption) override {
        Touch();
        captions_.push_back(caption);
    }
    std::string Caption() const override {
        Touch();
        return captions_.empty() ? std::string() : captions_.back();
    }
    const std::vector<std::string>& CaptionHistory() const { return captions_; }

protected:
    void Touch() const { thread_.Check(); }

private:
    WindowThreadCheck thread_;
    bool visible_ = true;
    bool enabled_ = true;
    std::vector<std::string> captions_;
};

using RecordingControl = RecordedControl<TControl>;

class RecordingProgressBar : public RecordedControl<TProgressBarControl> {
public:
    void SetRange(int minimum, int maximum) override;
    int Minimum() const { return minimum_; }
    int Maximum() const override { return maximum_; }
    void SetPosition(int position) override;
    int Position() const override;
    // Every position set, in order.
    const std::vector<int>& PositionHistory() const { return positions_; }

private:
    int minimum_ = 0;
    int maximum_ = 100;
    std::vector<int> positions_;
};

struct RecordedRow {
    std::string caption;
    bool checked = false;
    int image = 0;
    // Every status text set, in order.
    std::vector<std::string> statuses;
};

class RecordingListView : public RecordedControl<TListViewControl> {
public:
    // The form's change guard; a click, and so SetChecked, changes a row only when it allows the change.
    std::function<bool(int row)> Changing;

    void Clear() override;
    int AddRow(const std::string& caption) override;
    int RowCount() const override;
    std::string RowCaption(int row) const override { return Row(row).caption; }
    bool Checked(int row) const override { return Row(row).checked; }
    void SetChecked(int row, bool checked) override;
    int ImageIndex(int row) const override { return Row(row).image; }
    void SetImageIndex(int row, int image) override { MutableRow(row).image = image; }
    std::string Status(int row) const override;
    void SetStatus(int row, const std::string& status) override { MutableRow(row).statuses.push_back(status); }
    const RecordedRow& Row(int row) const;

private:
    RecordedRow& MutableRow(int row);

    std::vector<RecordedRow> rows_;
};

class RecordingTimer : public TTimerControl {
public:
    void SetEnabled(bool enabled) override;
    bool Enabled() const override { return enabled_; }

private:
    WindowThreadCheck thread_;
    bool enabled_ = true;  // the timer runs from the moment the window exists
};

struct RecordedBox {
    std::string text;
    std::string caption;
    unsigned flags = 0;
};

class RecordingWindow : public TWindowServices {
public:
    // Sleeps last the asked time divided by sleepDivisor, so polling loops stay fast in tests.
    explicit RecordingWindow(int sleepDivisor = 10) : sleepDivisor_(sleepDivisor) {}

    void Close() override;
    void TerminateBeforeShowing() override;
    // Runs the work queued so far, then the scripted user action, as the window's message handling would.
    void ProcessMessages() override;
    void RunOnWindowThread(std::function<void()> work) override;
    // Records the box and answers with the next scripted answer, or IDOK when none is left.
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    void ShowException(const std::string& message) override;
    void OpenHelp(const std::string& document) override;
    void Sleep(int milliseconds) override;

    // Called at the end of every ProcessMessages: the user's clicks while the form waits.
    std::function<void()> UserAction;
    void ScriptAnswers(std::initializer_list<int> answers) { answers_.insert(answers_.end(), answers); }

    int Closes() const { return closes_; }
    bool TerminatedBeforeShowing() const { return terminatedBeforeShowing_; }
    int ProcessMessagesCalls() const { return processMessagesCalls_; }
    const std::vector<RecordedBox>& Boxes() const { return boxes_; }
    const std::vector<std::string>& Exceptions() const { return exceptions_; }
    const std::vector<std::string>& HelpDocuments() const { return helpDocuments_; }

private:
    WindowThreadCheck thread_;
    int sleepDivisor_;
    int closes_ = 0;
    bool terminatedBeforeShowing_ = false;
    int processMessagesCalls_ = 0;
    std::deque<int> answers_;
    std::vector<RecordedBox> boxes_;
    std::vector<std::string> exceptions_;
    std::vector<std::string> helpDocuments_;
    std::mutex queueLock_;
    std::deque<std::function<void()>> queued_;
};

// Every control of the wizard window by its designed name, the window's services, and the window as the
// localizer sees it: the form "FormOrvane" owning its labels, buttons, panels and the two-column list.
class RecordingWizardWindow : public TTranslatableComponent {
public:
    explicit RecordingWizardWindow(int sleepDivisor = 10) : Window(sleepDivisor) {}

    RecordingControl lblWelcometoOrvane, LabelStatus, LabelUpdate, Panel1, Panel2;
    RecordingControl ButtonBack, ButtonNext, ButtonCancel, ButtonHelp;
    RecordingProgressBar ProgressBar;
    RecordingListView ListViewItems;
    RecordingTimer tmrSched;
    RecordingWindow Window;

    TFormOrvaneControls Controls();
    const std::string& WindowCaption() const { return caption_; }
    const std::vector<std::string>& ColumnCaptions() const { return columns_; }

    std::string Name() const override { return "FormOrvane"; }
    TComponentKind Kind() const override { return TComponentKind::Form; }
    void SetCaption(const std::string& caption) override { caption_ = caption; }
    void ForEachOwned(const std::function<void(TTranslatableComponent&)>& visit) override;

private:
    std::string caption_;
    std::vector<std::string> columns_ = {"", ""};
};

}  // namespace testsupport
