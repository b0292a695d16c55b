// The data module of the windowless modes: set-up and tear-down, shared by the mirror and the client.
#include "dEM/dEM.h"

#include "OVCommon/OVCommon.h"
#include "dEM/downloads_ahead.h"
#include "platform/files.h"

namespace {

// The data module as the localizer sees it: a named component owning the HTTP client, neither with a caption.
class TdmEMComponent : public TTranslatableComponent {
public:
    explicit TdmEMComponent(std::string name, bool ownsClient = false)
        : name_(std::move(name)), ownsClient_(ownsClient) {}
    std::string Name() const override { return name_; }
    TComponentKind Kind() const override { return TComponentKind::Other; }
    void SetCaption(const std::string&) override {}
    void ForEachOwned(const std::function<void(TTranslatableComponent&)>& visit) override {
        if (!ownsClient_) return;
        TdmEMComponent client("httpMain");
        visit(client);
    }

private:
    std::string name_;
    bool ownsClient_;
};

}  // namespace

TdmEM::TdmEM() : verifier_(ProgramFolder) {
    // A work event may come before the transfer states its length; the observer then shows bytes alone.
    httpMain.OnWorkBegin = [this](TIdComponent*, TWorkMode mode, int32_t countMax) {
        if (mode == wmRead && !downloadUrl_.empty()) TellProgress(downloadUrl_, 0, countMax);
    };
    httpMain.OnWork = [this](TIdComponent*, TWorkMode mode, int32_t count) {
        if (mode == wmRead && !downloadUrl_.empty())
            TellProgress(downloadUrl_, count, httpMain.Response().ContentLength);
    };
    DataModuleCreate();
}

TdmEM::~TdmEM() { DataModuleDestroy(); }

void TdmEM::DataModuleCreate() {
    const std::string language = ReadCommonIni("Language");
    Localizer->SetLanguage(language.empty() ? "English" : language);
    TdmEMComponent self("dmEM", true);
    Localizer->Translate(self);
    RefAssign(Catalogue, new TXmlDDocument());
    RefAssign(MirrorCatalogue, new TXmlDDocument());
    ApplyProxySettings(httpMain);
    ApplyUnattendedReadTimeout(httpMain);
    LastVersionFile = AddBackslash(Settings.SharedFolder) + Settings.Product + "LastVersion.txt";
    if (platform::FileExists(LastVersionFile)) platform::DeleteFile(LastVersionFile);
}

void TdmEM::DataModuleDestroy() {
    RefClear(Catalogue);
    RefClear(MirrorCatalogue);
}

bool TdmEM::BringUpToDate(const TUpdateElementRec& entry, bool needsWork,
                          bool (TdmEM::*store)(const TUpdateElementRec&)) {
    if (!needsWork)
        Tell(TEntryOutcome::UpToDate, entry.FileName);
    else if (entry.Size != 0)
        return (this->*store)(entry);
    else
        RemoveEntryFile(entry);
    return true;
}

bool TdmEM::RemoveEntryFile(const TUpdateElementRec& entry) {
    if (!platform::FileExists(entry.FileName)) return false;
    const bool removed = platform::DeleteFile(entry.FileName);
    Tell(removed ? TEntryOutcome::Removed : TEntryOutcome::Failed, entry.FileName, removed ? "" : "cannot delete");
    return removed;
}

bool TdmEM::CopyDeferred(const std::string& source, const std::string& target) {
    return NoteDeferred(CopyFileContents(source, target, platform::Durability::Deferred), target);
}

bool TdmEM::MoveDeferred(const std::string& source, const std::string& target) {
    return NoteDeferred(platform::MoveFileOver(source, target, platform::Durability::Deferred), target);
}

bool TdmEM::NoteDeferred(bool written, const std::string& target) {
    if (written) durableFiles_.Note(target);
    return written;
}

// Only the run's own files are waited for, not other programs' writes to the same file system.
void TdmEM::MakeCopiesDurable() { durableFiles_.Finish(); }

void TdmEM::Stop(int exitCode, const std::string& reason) {
    // Downloads that ran ahead are broken off and deleted before the process goes.
    if (downloadsAhead_) downloadsAhead_->Cancel();
    workFolderMark_.reset();  // so that the work folder can be removed on the way out
    std::lock_guard guard(observerLock_);
    if (Observer) Observer->RunEnded(exitCode, reason);
    StopProcess(exitCode);
}

// A shortage of memory is this machine's, not the server's or the package's: it ends the run as any other failure
// of the program does (status 1), saying what it is.
void TdmEM::StopOutOfMemory(const std::string& during) { Stop(1, "not enough memory for " + during); }

void TdmEM::Tell(TEntryOutcome outcome, const std::string& path, const std::string& detail) {
    std::lock_guard guard(observerLock_);
    if (Observer) Observer->EntryDone(outcome, path, detail);
}

void TdmEM::TellProgress(const std::string& url, int64_t received, int64_t total) {
    std::lock_guard guard(observerLock_);
    if (Observer) Observer->DownloadProgress(url, received, total);
}
