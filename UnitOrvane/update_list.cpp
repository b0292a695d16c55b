// The update list page: the catalogue's entries that need work on this machine, one checked row each.
#include "OVCommon/OVCommon.h"
#include "UnitOrvane/UnitOrvane.h"
#include "http/header_list.h"
#include "platform/process.h"

namespace {

int KindImage(TUpdateKind kind) {
    switch (kind) {
        case ukDatabase: return riDatabase;
        case ukTools: return riTools;
        case ukProgram:
        case ukCustom: break;
    }
    return riProgram;
}

}  // namespace

void TFormOrvane::BuildUpdateList() {
    Page = 3;
    Controls.ListViewItems->Clear();
    HideProgress();
    SetButtons(true, true);
    Controls.LabelStatus->SetCaption(Message("MsgOV8"));
    LoadXml(Catalogue.get(), CatalogueText);
    if (const TXmlDNode* error = FindErrorElement(Catalogue.get())) {
        ReportServerError(error);
        return;
    }
    ForEachEntryCandidate(FindUpdateElement(Catalogue.get()),
                          [this](const TXmlDNode* entry, TUpdateKind kind) { BuildUpdateRow(entry, kind); });
    if (const TXmlDNode* run = FindRunElement(Catalogue.get())) RunInstallPrograms("preinstall", run);
    if (Controls.ListViewItems->RowCount() > 0)
        Controls.ListViewItems->SetVisible(true);
    else
        ShowNoUpdatesPage();
    Controls.tmrSched->SetEnabled(true);
}

// The server's description, titled by its title. A report lacking either still ends the checking: what is
// there is shown, and with neither the page says the list could not be obtained.
void TFormOrvane::ReportServerError(const TXmlDNode* error) {
    const std::string title = ChildText(error, "title").value_or("");
    std::string description = ChildText(error, "description").value_or(title);
    if (description.empty()) description = Message("MsgOV4");
    Controls.Window->MessageBox(description, title.empty() ? "Orvane" : title, MB_OK | MB_ICONINFORMATION);
    ShowFinishedPage(description);
}

void TFormOrvane::BuildUpdateRow(const TXmlDNode* entry, TUpdateKind kind) {
    const TKillTaskHook closePrograms = [this](const std::string& name, const TXmlDNode* kill) {
        CloseKilltaskPrograms(name, kill);
    };
    TBuiltEntry built = BuildUpdateElement(entry, kind, ProgramFolder, closePrograms);
    if (!built.Element || !NeedsUpdate(*built.Element)) return;
    // The entry comes before its row: whatever raises while the row is filled (a status text that does not fit
    // its translation, say), every row has its entry for the install run.
    Entries.push_back(std::move(built.Element));
    TUpdateElement& element = *Entries.back();
    // The installed file may be the base of an offered difference: then the difference is what is fetched.
    if (element.Size != 0) element.Delta = DeltaForLocalFile(element.Deltas, element.FileName);
    TListViewControl& list = *Controls.ListViewItems;
    const int row = list.AddRow(element.Name);
    // The check mark comes first: the change guard refuses every change of a row that shows the required image.
    list.SetChecked(row, true);
    list.SetImageIndex(row, built.Required ? riRequired : KindImage(kind));
    list.SetStatus(row, element.Size != 0 ? SizeText(BytesToFetch(element)) : Message("MsgOV17"));
}

void TFormOrvane::CloseKilltaskPrograms(const std::string& entryName, const TXmlDNode* killTask) {
    const std::string fileName = ChildText(killTask, "filename").value_or("");
    const bool ask = httptext::SameText(ChildText(killTask, "ask").value_or(""), "Y");
    if (fileName.empty()) return;
    try {
        // The image name is the file name alone here, so it is both the name and its file-name part.
        const auto processes = platform::ProcessSnapshot(fileName, platform::LetterCase::Ignored);
        for (const platform::ProcessEntry& process : processes) {
            // The question is formed only when it is asked: a translation that does not fit it must not keep a
            // program from being closed without asking.
            const bool close = !ask || Box(FormatText(Message("MsgOV22"), {entryName, fileName}),
                                           MB_YESNO | MB_ICONWARNING) == IDYES;
            if (close) platform::TerminateProcess(process.process);
        }
    } catch (const std::exception& failure) {
        Box(FormatText(Message("MsgOV23"), {std::string(failure.what())}), MB_OK | MB_ICONERROR);
    }
}

std::string TFormOrvane::SizeText(int32_t bytes) const {
    const int64_t n = bytes;
    if (n < 1024) return FormatText(Message("MsgOV5"), {n});
    if (n < 1048576) return FormatText(Message("MsgOV6"), {n / 1024, n * 10 / 1024 % 10});
    if (n < 1073741824) {
        const int64_t kibibytes = n / 1024;
        return FormatText(Message("MsgOV7"), {kibibytes / 1024, kibibytes * 10 / 1024 % 10});
    }
    return {};
}

bool TFormOrvane::ListViewItemsChanging(int row) const { return Controls.ListViewItems->ImageIndex(row) != riRequired; }
