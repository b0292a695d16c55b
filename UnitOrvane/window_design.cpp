#include "UnitOrvane/window_design.h"

#include <stdexcept>

#include "UnitOrvane/UnitOrvane.h"

int ScaledToDpi(int pixels, int dpi) {
    const long long scaled = static_cast<long long>(pixels) * dpi;
    // Half a pixel away from zero, as Windows' MulDiv rounds.
    return static_cast<int>((scaled + (scaled >= 0 ? DesignedDpi / 2 : -DesignedDpi / 2)) / DesignedDpi);
}

TDesignedRect ScaledToDpi(const TDesignedRect& place, int dpi) {
    return {ScaledToDpi(place.Left, dpi), ScaledToDpi(place.Top, dpi), ScaledToDpi(place.Width, dpi),
            ScaledToDpi(place.Height, dpi)};
}

const TDesignedControl& DesignedControl(std::string_view name) {
    for (const TDesignedControl& control : WizardDesign) {
        if (name == control.Name) return control;
    }
    throw std::out_of_range("the wizard window has no control " + std::string(name));
}

TComponentKind TranslationKind(TDesignedKind kind) {
    switch (kind) {
        case TDesignedKind::Heading:
        case TDesignedKind::Text:
        case TDesignedKind::AutoLabel:
            return TComponentKind::Label;
        case TDesignedKind::Panel:
        case TDesignedKind::Separator:
            return TComponentKind::Panel;
        case TDesignedKind::Button:
            return TComponentKind::Button;
        case TDesignedKind::List:
            return TComponentKind::ListView;
        case TDesignedKind::Picture:
        case TDesignedKind::ProgressBar:
            break;
    }
    return TComponentKind::Other;
}

std::string WithMnemonic(const std::string& label) {
    return label.empty() || label.find('&') != std::string::npos ? label : "&" + label;
}

namespace {

// One owned control, wrapped for the time of a visit.
class TOwnedControl : public TTranslatableComponent {
public:
    TOwnedControl(const TDesignedControl& design, TControl& control) : design_(design), control_(control) {}
    std::string Name() const override { return design_.Name; }
    TComponentKind Kind() const override { return TranslationKind(design_.Kind); }
    void SetCaption(const std::string& caption) override { control_.SetCaption(caption); }
    int ColumnCount() const override { return Columns() ? Columns()->ColumnCount() : 0; }
    void SetColumnCaption(int index, const std::string& caption) override {
        if (Columns()) Columns()->SetColumnCaption(index, caption);
    }
    void ForEachOwned(const std::function<void(TTranslatableComponent&)>&) override {}

private:
    TColumnCaptions* Columns() const { return dynamic_cast<TColumnCaptions*>(&control_); }

    const TDesignedControl& design_;
    TControl& control_;
};

}  // namespace

TDesignedWindow::TDesignedWindow() : previousMessageBox_(AppMessageBoxFunction) {}

TDesignedWindow::~TDesignedWindow() = default;

TControl& TDesignedWindow::Control(std::string_view name) const {
    for (const auto& [controlName, control] : controls_) {
        if (controlName == name) return *control;
    }
    throw std::out_of_range("the wizard window has no control " + std::string(name));
}

void TDesignedWindow::AddControl(std::string_view name, std::unique_ptr<TControl> control) {
    controls_.emplace_back(std::string(name), std::move(control));
}

// In the order the window owns them. Its picture and progress bar take nothing from a language file, nor do its
// timer, image list and HTTP client, which are no controls here.
void TDesignedWindow::ForEachOwned(const std::function<void(TTranslatableComponent&)>& visit) {
    for (const TDesignedControl& design : WizardDesign) {
        if (TranslationKind(design.Kind) == TComponentKind::Other) continue;
        TOwnedControl owned(design, Control(design.Name));
        visit(owned);
    }
}

void TDesignedWindow::CreateForm(std::vector<std::string> arguments, TTimerControl& timer, TWindowServices& services,
                                 AppMessageBoxHandler appMessageBox) {
    TFormOrvaneControls controls;
    controls.lblWelcometoOrvane = &Control("lblWelcometoOrvane");
    controls.LabelStatus = &Control("LabelStatus");
    controls.LabelUpdate = &Control("LabelUpdate");
    controls.Panel1 = &Control("Panel1");
    controls.Panel2 = &Control("Panel2");
    controls.ButtonBack = &Control("ButtonBack");
    controls.ButtonNext = &Control("ButtonNext");
    controls.ButtonCancel = &Control("ButtonCancel");
    controls.ButtonHelp = &Control("ButtonHelp");
    controls.ProgressBar = &dynamic_cast<TProgressBarControl&>(Control("ProgressBar"));
    controls.ListViewItems = &dynamic_cast<TListViewControl&>(Control("ListViewItems"));
    controls.tmrSched = &timer;
    controls.Window = &services;
    form_ = std::make_unique<TFormOrvane>(controls, *this, std::move(arguments));
    AppMessageBoxFunction = std::move(appMessageBox);
}

void TDesignedWindow::DestroyForm() {
    AppMessageBoxFunction = previousMessageBox_;
    Dispatch(&TFormOrvane::FormDestroy);
    // The form goes before the toolkit's widgets, which its download thread's last work might still reach.
    form_.reset();
}

bool TDesignedWindow::Open() {
    Dispatch(&TFormOrvane::FormCreate);
    LanguageChosen();
    if (TerminatesBeforeShowing()) return false;
    ShowCentred();
    FocusNext();
    Dispatch(&TFormOrvane::FormShow);
    return Shown();
}

void TDesignedWindow::Dispatch(void (TFormOrvane::*handler)()) {
    RunAsHandler([this, handler] { form_->Dispatch([this, handler] { (form_.get()->*handler)(); }); });
}

void TDesignedWindow::RunAsHandler(const std::function<void()>& work) {
    ++handlersRunning_;
    work();
    --handlersRunning_;
    QuitWhenClosed();
}

bool TDesignedWindow::RowMayChange(int row) {
    bool allowed = false;
    form_->Dispatch([&] { allowed = form_->ListViewItemsChanging(row); });
    return allowed;
}

void (TFormOrvane::*TDesignedWindow::ClickHandler(std::string_view button))() {
    if (button == "ButtonNext") return &TFormOrvane::ButtonNextClick;
    if (button == "ButtonCancel") return &TFormOrvane::ButtonCancelClick;
    if (button == "ButtonHelp") return &TFormOrvane::ButtonHelpClick;
    return nullptr;
}

bool TDesignedWindow::Press(std::string_view button) {
    const TControl& control = Control(button);
    if (!control.Visible() || !control.Enabled()) return false;
    if (const auto handler = ClickHandler(button)) Dispatch(handler);
    return true;
}

bool TDesignedWindow::PressEnter(std::string_view focused) {
    const bool onButton = !focused.empty() && DesignedControl(focused).Kind == TDesignedKind::Button;
    return Press(onButton ? focused : "ButtonNext");
}

void TDesignedWindow::QuitWhenClosed() {
    if (looping_ && handlersRunning_ == 0 && !Shown()) EndLoop();
}
