#include "tests/UnitOrvane/recording_controls.h"

#include <gtest/gtest.h>

#include <chrono>

namespace testsupport {

void WindowThreadCheck::Check() const {
    if (std::this_thread::get_id() != owner_) ADD_FAILURE() << "a control was used outside the window's thread";
}

void RecordingProgressBar::SetRange(int minimum, int maximum) {
    Touch();
    minimum_ = minimum;
    maximum_ = maximum;
}

void RecordingProgressBar::SetPosition(int position) {
    Touch();
    positions_.push_back(position);
}

int RecordingProgressBar::Position() const { return positions_.empty() ? 0 : positions_.back(); }

void RecordingListView::Clear() {
    Touch();
    rows_.clear();
}

int RecordingListView::AddRow(const std::string& caption) {
    Touch();
    rows_.push_back(RecordedRow{.caption = caption, .statuses = {}});
    return static_cast<int>(rows_.size()) - 1;
}

int RecordingListView::RowCount() const { return static_cast<int>(rows_.size()); }

void RecordingListView::SetChecked(int row, bool checked) {
    RecordedRow& target = MutableRow(row);
    if (!Changing || Changing(row)) target.checked = checked;
}

std::string RecordingListView::Status(int row) const {
    const RecordedRow& target = Row(row);
    return target.statuses.empty() ? std::string() : target.statuses.back();
}

const RecordedRow& RecordingListView::Row(int row) const {
    Touch();
    return rows_.at(static_cast<size_t>(row));
}

RecordedRow& RecordingListView::MutableRow(int row) {
    Touch();
    return rows_.at(static_cast<size_t>(row));
}

void RecordingTimer::SetEnabled(bool enabled) {
    thread_.Check();
    enabled_ = enabled;
}

void RecordingWindow::Close() {
    thread_.Check();
    ++closes_;
}

void RecordingWindow::TerminateBeforeShowing() {
    thread_.Check();
    terminatedBeforeShowing_ = true;
}

void RecordingWindow::ProcessMessages() {
    thread_.Check();
    ++processMessagesCalls_;
    std::deque<std::function<void()>> work;
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        work.swap(queued_);
    }
    for (const auto& item : work) item();
    if (UserAction) UserAction();
}

void RecordingWindow::RunOnWindowThread(std::function<void()> work) {
    std::lock_guard<std::mutex> lock(queueLock_);
    queued_.push_back(std::move(work));
}

int RecordingWindow::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    thread_.Check();
    boxes_.push_back(RecordedBox{text, caption, flags});
    if (answers_.empty()) return IDOK;
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void RecordingWindow::ShowException(const std::string& message) {
    thread_.Check();
    exceptions_.push_back(message);
}

void RecordingWindow::OpenHelp(const std::string& document) {
    thread_.Check();
    helpDocuments_.push_back(document);
}

void RecordingWindow::Sleep(int milliseconds) {
    thread_.Check();
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds / sleepDivisor_));
}

TFormOrvaneControls RecordingWizardWindow::Controls() {
    TFormOrvaneControls controls;
    controls.lblWelcometoOrvane = &lblWelcometoOrvane;
    controls.LabelStatus = &LabelStatus;
    controls.LabelUpdate = &LabelUpdate;
    controls.Panel1 = &Panel1;
    controls.Panel2 = &Panel2;
    controls.ButtonBack = &ButtonBack;
    controls.ButtonNext = &ButtonNext;
    controls.ButtonCancel = &ButtonCancel;
    controls.ButtonHelp = &ButtonHelp;
    controls.ProgressBar = &ProgressBar;
    controls.ListViewItems = &ListViewItems;
    controls.tmrSched = &tmrSched;
    controls.Window = &Window;
    return controls;
}

namespace {

// One owned control as the localizer sees it, alive only while it is visited.
class OwnedComponent : public TTranslatableComponent {
public:
    OwnedComponent(std::string name, TComponentKind kind, TControl& control, std::vector<std::string>* columns)
        : name_(std::move(name)), kind_(kind), control_(control), columns_(columns) {}

    std::string Name() const override { return name_; }
    TComponentKind Kind() const override { return kind_; }
    void SetCaption(const std::string& caption) override { control_.SetCaption(caption); }
    int ColumnCount() const override { return columns_ ? static_cast<int>(columns_->size()) : 0; }
    void SetColumnCaption(int index, const std::string& caption) override {
        columns_->at(static_cast<size_t>(index)) = caption;
    }
    void ForEachOwned(const std::function<void(TTranslatableComponent&)>&) override {}

private:
    std::string name_;
    TComponentKind kind_;
    TControl& control_;
    std::vector<std::string>* columns_;
};

}  // namespace

void RecordingWizardWindow::ForEachOwned(const std::function<void(TTranslatableComponent&)>& visit) {
    const std::pair<const char*, TControl*> labels[] = {
        {"lblWelcometoOrvane", &lblWelcometoOrvane}, {"LabelStatus", &LabelStatus}, {"LabelUpdate", &LabelUpdate}};
    const std::pair<const char*, TControl*> buttons[] = {{"ButtonBack", &ButtonBack},
                                                         {"ButtonNext", &ButtonNext},
                                                         {"ButtonCancel", &ButtonCancel},
                                                         {"ButtonHelp", &ButtonHelp}};
    const std::pair<const char*, TControl*> panels[] = {{"Panel1", &Panel1}, {"Panel2", &Panel2}};
    const auto visitAll = [&visit](const auto& controls, TComponentKind kind) {
        for (const auto& [name, control] : controls) {
            OwnedComponent component(name, kind, *control, nullptr);
            visit(component);
        }
    };
    visitAll(labels, TComponentKind::Label);
    visitAll(panels, TComponentKind::Panel);
    visitAll(buttons, TComponentKind::Button);
    OwnedComponent list("ListViewItems", TComponentKind::ListView, ListViewItems, &columns_);
    visit(list);
}

}  // namespace testsupport
