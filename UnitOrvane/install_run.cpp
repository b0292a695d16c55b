// The install run: the main product closed, every checked row installed or removed, the post-install programs,
// and the main product started again.
#include <algorithm>
#include <climits>
#include <iostream>

#include "OVCommon/OVCommon.h"
#include "UnitOrvane/UnitOrvane.h"
#include "delta/delta.h"
#include "http/header_list.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/temporary_paths.h"

namespace {

// A progress bar counts in int: larger byte counts stop at its end instead of wrapping.
int ProgressValue(int64_t value) { return static_cast<int>(std::clamp<int64_t>(value, 0, INT_MAX)); }

}  // namespace

void TFormOrvane::InstallSelected() {
    Controls.tmrSched->SetEnabled(false);
    Page = 4;
    TListViewControl& list = *Controls.ListViewItems;
    int64_t range = 1;
    for (int row = 0; row < list.RowCount(); ++row)
        if (list.Checked(row)) range += int64_t{BytesToFetch(*Entries[row])} + 1;
    Controls.ProgressBar->SetRange(0, ProgressValue(range));
    Controls.ProgressBar->SetPosition(0);
    Controls.ProgressBar->SetVisible(true);
    Controls.LabelUpdate->SetVisible(true);
    Controls.LabelUpdate->SetCaption(Message("MsgOV3"));
    SetButtons(false, false);
    Controls.ButtonNext->SetCaption(Message("MsgOV11"));
    Controls.LabelStatus->SetCaption(Message("MsgOV12"));
    Controls.Window->ProcessMessages();
    ProcessedBytes = 0;
    CloseMainProgram();
    for (int row = 0; row < list.RowCount(); ++row) {
        if (Cancelled) return;
        if (list.Checked(row)) {
            CurrentRow = row;
            TUpdateElement& entry = *Entries[row];
            const bool done = entry.Size != 0 ? InstallEntry(entry) : RemoveEntryFile(entry);
            list.SetImageIndex(row, done ? riDone : riFailed);
            ProcessedBytes += BytesToFetch(entry);
            Controls.ProgressBar->SetPosition(ProgressValue(ProcessedBytes));
        } else {
            list.SetImageIndex(row, riDone);
            list.SetStatus(row, Message("MsgOV13"));
        }
    }
    if (const TXmlDNode* run = FindRunElement(Catalogue.get())) RunInstallPrograms("postinstall", run);
    if (MainProgramClosed && !Settings.StandAlone) RunProgram(ProgramFolder + Settings.MainExe, "/H", false);
    HideProgress();
    Controls.ButtonNext->SetEnabled(true);
    Controls.ButtonCancel->SetEnabled(false);
    Controls.LabelStatus->SetCaption(Message("MsgOV14"));
    Controls.tmrSched->SetEnabled(true);
}

void TFormOrvane::CloseMainProgram() {
    RunProgram(ProgramFolder + Settings.MainExe, "/U", true);
    WaitForProcessEnd(Settings.MainExe);
    MainProgramClosed = true;
}

void TFormOrvane::WaitForProcessEnd(const std::string& exeName) {
    do {
        Controls.Window->Sleep(100);
    } while (!platform::ProcessSnapshot(exeName).empty());
}

bool TFormOrvane::InstallEntry(TUpdateElement& entry) {
    if (entry.Delta)
        if (const std::optional<bool> installed = InstallFromDelta(entry)) return *installed;
    return InstallFromPackage(entry);
}

void TFormOrvane::StartRowTransfer(int32_t bytes) {
    CurrentDownloadSize = bytes;
    ApplyWork(0);
}

bool TFormOrvane::InstallFromPackage(TUpdateElement& entry) {
    // The download and the unpacked members go on every way out of this entry (a failed test, an error, a
    // cancel, a closed console) but a kill; a download a cancel left running goes when its thread ends.
    const auto download =
        std::make_shared<const platform::TemporaryPath>(TempFileName(), platform::TemporaryPath::Kind::File);
    const platform::TemporaryPath unpacked(TempFolderPath() + "BR/", platform::TemporaryPath::Kind::Folder);
    StartRowTransfer(entry.DownloadSize);
    DownloadPackage(entry.Download, download);
    const std::optional<std::string> sha256 = ExpectedSha256(entry);
    const TPreparedPackage package =
        PreparePackage(download->Path(), entry.FileName, unpacked.Path(), sha256.has_value());
    TListViewControl& list = *Controls.ListViewItems;
    list.SetStatus(CurrentRow, Message("MsgOV9"));
    bool installed = false;
    const TCandidateCheck check = CheckCandidate(package, entry.Size, entry.Crc, sha256);
    LogRefusedPackage(entry, package, check);
    switch (check) {
        case TCandidateCheck::SizeDiffers: list.SetStatus(CurrentRow, Message("MsgOV10")); break;
        case TCandidateCheck::CrcDiffers:
        case TCandidateCheck::Sha256Differs:
        case TCandidateCheck::UnsignedMembers: list.SetStatus(CurrentRow, Message("MsgOV18")); break;
        case TCandidateCheck::Matches:
            installed = PlaceByKind(entry, package.Candidate);
            FinishStoredPackage(package, entry.FileName);
            break;
    }
    return installed;
}

// Nothing when the difference failed and the package is to be fetched instead; a cancel ends the entry here.
std::optional<bool> TFormOrvane::InstallFromDelta(TUpdateElement& entry) {
    // Removed on every way out, as a package's download is.
    const auto download =
        std::make_shared<const platform::TemporaryPath>(TempFileName(), platform::TemporaryPath::Kind::File);
    StartRowTransfer(entry.Delta->Size);
    std::string failure;
    DownloadPackage(entry.Delta->Download, download, &failure);
    if (Cancelled) return false;
    try {
        if (!failure.empty()) throw EDeltaError(failure);
        return RebuildAndPlace(entry, download->Path());
    } catch (const Exception& reason) {
        FallBackToPackage(entry, reason.Message());
        return std::nullopt;
    }
}

// Raises when the difference does not rebuild the entry's file; false when the rebuilt file could not be placed.
bool TFormOrvane::RebuildAndPlace(const TUpdateElement& entry, const std::string& deltaFile) {
    // Named once the difference's file exists, so that the two names differ.
    const platform::TemporaryPath candidate(TempFileName(), platform::TemporaryPath::Kind::File);
    const TPreparedPackage rebuilt =
        RebuildFromDelta(*entry.Delta, entry.FileName, deltaFile, candidate.Path(), entry.Size, Verifying);
    const TCandidateCheck check = CheckCandidate(rebuilt, entry.Size, entry.Crc, ExpectedSha256(entry));
    if (check != TCandidateCheck::Matches) throw EDeltaError(RebuiltFileFault(check));
    Controls.ListViewItems->SetStatus(CurrentRow, Message("MsgOV9"));
    return PlaceByKind(entry, rebuilt.Candidate);
}

// The entry goes on with its package as if no difference had been offered; the difference's bytes stay counted
// as fetched, and the progress makes room for the package's.
void TFormOrvane::FallBackToPackage(TUpdateElement& entry, const std::string& reason) {
    const std::string line =
        "The difference for " + entry.FileName + " was not used (" + reason + "); the full package is fetched.";
    AppendToRunLog(line);
    if (platform::StandardErrorIsTerminal()) std::cerr << line << std::endl;
    ProcessedBytes += entry.Delta->Size;
    TProgressBarControl& progress = *Controls.ProgressBar;
    progress.SetRange(0, ProgressValue(int64_t{progress.Maximum()} + entry.DownloadSize));
    entry.Delta.reset();
}

// The new file replaces the old one only once it is complete; the main executable that a program entry stands
// for goes only after its successor is in place.
bool TFormOrvane::PlaceByKind(const TUpdateElement& entry, const std::string& candidate) {
    // The candidate is the run's own and is deleted right after: moved into place, it is not written twice.
    const bool placed = platform::MoveFileOver(candidate, entry.FileName);
    const std::string mainExe = ProgramFolder + Settings.MainExe;
    if (placed && entry.Kind == ukProgram && entry.FileName != mainExe) platform::DeleteFile(mainExe);
    return placed;
}

bool TFormOrvane::RemoveEntryFile(const TUpdateElement& entry) {
    return platform::FileExists(entry.FileName) && platform::DeleteFile(entry.FileName);
}

void TFormOrvane::RunInstallPrograms(const std::string& name, const TXmlDNode* run) {
    for (int i = 0; i < run->ChildNodes().Count(); ++i) {
        const TXmlDNode* program = run->ChildNodes().Item(i);
        if (!httptext::SameText(std::string(program->NodeName()), name)) continue;
        const std::string path = platform::ExpandEnvironmentStrings(ChildText(program, "filename").value_or(""));
        const std::string parameters = ChildText(program, "parameters").value_or("");
        const std::string status = ChildText(program, "statusmsg").value_or("");
        if (!status.empty()) Controls.LabelStatus->SetCaption(status);
        // Show states mean nothing to the programs started here; waiting is what matters.
        const bool wait = FindChild(program, "nowait") == nullptr;
        const auto process = platform::StartProcess(
            path, parameters, wait ? platform::Reaping::ByCaller : platform::Reaping::Automatically);
        if (process && wait) platform::WaitForProcess(*process);
    }
}
