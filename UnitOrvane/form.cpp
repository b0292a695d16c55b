// The wizard window's life, its pages and its buttons.
#include <chrono>

#include "OVCommon/OVCommon.h"
#include "UnitOrvane/UnitOrvane.h"
#include "platform/files.h"

namespace {

constexpr const char* ApplicationTitle = "Orvane";
// The product whose texts stand in where none is named.
constexpr const char* DefaultProduct = "BR";

std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace

TFormOrvane::TFormOrvane(const TFormOrvaneControls& controls, TTranslatableComponent& translatable,
                         std::vector<std::string> arguments)
    : Controls(controls), translatable_(translatable), arguments_(std::move(arguments)),
      windowThread_(std::this_thread::get_id()) {
    // Attached for good; whether a work event counts is decided by the download that runs.
    IdHTTP1.OnWork = [this](TIdComponent*, TWorkMode mode, int32_t count) {
        if (workAttached_) IdHTTP1Work(mode, count);
    };
}

TFormOrvane::~TFormOrvane() { closing_ = true; }

void TFormOrvane::Dispatch(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& failure) {
        Controls.Window->ShowException(failure.what());
    }
}

void TFormOrvane::FormCreate() {
    RefAssign(Catalogue, new TXmlDDocument());
    Entries.clear();
    Cancelled = false;
    const bool hasCommonIni = platform::FileExists(ProgramFolder + "common.ini");
    const std::string language = hasCommonIni ? ReadCommonIni("Language") : "";
    Localizer->SetLanguage(language.empty() ? "English" : language);
    Localizer->Translate(translatable_);
    if (Settings.Product.empty() || Settings.Code.empty() || Settings.Version.empty()) {
        QueryText = MainProgramQueryText();
        if (QueryText.empty()) Controls.Window->TerminateBeforeShowing();
    }
    MainProgramClosed = false;
    Scheduled = arguments_.size() > 1 && UpperCase(arguments_[1]) == "/SCHEDULED";
    if (Scheduled) {
        Controls.ButtonNext->SetVisible(false);
        Controls.ButtonBack->SetVisible(false);
        // Nobody is there to press Cancel on a silent server.
        ApplyUnattendedReadTimeout(IdHTTP1);
    }
    if (!TakeProgramFolderLock()) return;
    ApplyProxySettings(IdHTTP1);
}

// Two wizards in one program folder would install everything twice, into each other's files: a second one says so
// (a scheduled one, which nobody watches, just ends). Where the lock cannot be made (a folder the user may not
// write) the wizard runs without it, as the windowless modes do.
bool TFormOrvane::TakeProgramFolderLock() {
    runLock_ = std::make_unique<platform::RunLock>(ProgramFolder + RunLockFileName, std::chrono::milliseconds(0));
    if (runLock_->State() != platform::RunLockState::Busy) return true;
    if (!Scheduled) Box(Message("MsgOV24"), MB_OK | MB_ICONINFORMATION);
    Controls.Window->TerminateBeforeShowing();
    return false;
}

void TFormOrvane::FormShow() {
    Entries.clear();
    ShowWelcomePage();
}

void TFormOrvane::FormDestroy() {
    closing_ = true;
    Localizer.reset();
    Entries.clear();
    RefDispose(Catalogue);
    EndAbandonedDownload();
}

// A download left running by a cancel uses this form's client, so it must end before the form does. A cancel
// that came before the thread had connected found nothing to close: the close is repeated until it lands.
void TFormOrvane::EndAbandonedDownload() {
    if (!abandoned_) return;
    while (!abandoned_->Terminated()) {
        IdHTTP1.CloseConnection();
        abandoned_->WaitForEnd(std::chrono::milliseconds(20));
    }
    abandoned_.reset();
}

std::string TFormOrvane::Message(const std::string& key) const { return Localizer ? Localizer->GetMessage(key) : ""; }

int TFormOrvane::Box(const std::string& text, unsigned flags) {
    return Controls.Window->MessageBox(text, ApplicationTitle, flags);
}

void TFormOrvane::HideProgress() {
    Controls.LabelUpdate->SetVisible(false);
    Controls.ProgressBar->SetVisible(false);
}

void TFormOrvane::SetButtons(bool back, bool next) {
    Controls.ButtonBack->SetEnabled(back);
    Controls.ButtonNext->SetEnabled(next);
}

void TFormOrvane::ShowWelcomePage() {
    Page = 1;
    Controls.ListViewItems->SetVisible(false);
    HideProgress();
    SetButtons(false, true);
    Controls.LabelStatus->SetCaption(Message("MsgOV1"));
}

void TFormOrvane::CheckForUpdates() {
    Controls.tmrSched->SetEnabled(false);
    Page = 2;
    Controls.ListViewItems->SetVisible(false);
    Controls.LabelUpdate->SetVisible(true);
    Controls.ProgressBar->SetVisible(true);
    Controls.ProgressBar->SetRange(0, 100);
    SetButtons(false, true);
    Controls.LabelStatus->SetCaption(Message("MsgOV2"));
    Controls.LabelUpdate->SetCaption(Message("MsgOV3"));
    Controls.ProgressBar->SetPosition(0);
    Controls.Window->ProcessMessages();
    if (getListOfUpdates(CatalogueText)) {
        BuildUpdateList();
    } else if (!Scheduled) {
        // A refused catalogue is no network fault: telling the user to check the connection would mislead.
        Box(CatalogueRefusal ? CatalogueRefusalText() : Message("MsgOV4"), MB_OK | MB_ICONERROR);
        ShowWelcomePage();
    }
}

void TFormOrvane::ShowNoUpdatesPage() { ShowFinishedPage(Message("MsgOV16")); }

void TFormOrvane::ShowFinishedPage(const std::string& text) {
    Page = 5;
    Controls.ListViewItems->SetVisible(false);
    HideProgress();
    SetButtons(false, true);
    Controls.ButtonNext->SetCaption(Message("MsgOV11"));
    Controls.ButtonCancel->SetEnabled(false);
    Controls.LabelStatus->SetCaption(text);
}

void TFormOrvane::ButtonNextClick() {
    switch (Page) {
        case 1: CheckForUpdates(); break;
        case 3: InstallSelected(); break;
        case 4:
        case 5:
            if (Settings.StandAlone) RunProgram(ProgramFolder + Settings.MainExe, "", false);
            Controls.Window->Close();
            break;
        default: break;
    }
}

void TFormOrvane::ButtonCancelClick() {
    Cancelled = true;
    Controls.Window->Close();
}

void TFormOrvane::ButtonHelpClick() {
    const std::string product = Settings.Product.empty() ? DefaultProduct : Settings.Product;
    // A product without a help text of its own shares the default product's.
    std::string document = Message(product + "_HelpLink");
    if (document.empty()) document = Message(std::string(DefaultProduct) + "_HelpLink");
    if (!document.empty()) Controls.Window->OpenHelp(ProgramFolder + document);
}

void TFormOrvane::tmrSchedTimer() {
    if (!Scheduled) return;
    switch (Page) {
        case 1: CheckForUpdates(); break;
        case 3: InstallSelected(); break;
        case 4:
        case 5: Controls.Window->Close(); break;
        default: break;
    }
}
