#pragma once
// The update wizard's logic: the pages, the buttons, the update list, the install run with its download thread,
// closing the main product, and the scheduled run. It knows no toolkit: it drives the window through the
// controls of UnitOrvane/controls.h, and the toolkit forwards the window's events to the handlers below.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "UnitOrvane/controls.h"
#include "catalogue/catalogue.h"
#include "http/http.h"
#include "localizer/localizer.h"
#include "platform/run_lock.h"
#include "platform/temporary_paths.h"
#include "xml/dom.h"

// Row images of the update list.
enum TRowImage { riDatabase = 0, riProgram = 1, riTools = 2, riDone = 3, riFailed = 4, riRequired = 5 };

class TFormOrvane;

// The bytes the install run fetches for an entry: its difference's when one fits the installed file, else its
// package's.
inline int32_t BytesToFetch(const TUpdateElement& entry) {
    return entry.Delta ? entry.Delta->Size : entry.DownloadSize;
}

// One package download on its own thread, with the form's HTTP client.
class TDownloadThread {
public:
    // The thread shares the target file's ownership: a download that a cancel leaves running still writes to it,
    // and it is removed only once the thread and the install run are both done with it. A quiet download keeps
    // its failure in Failure for the caller, neither logged nor shown.
    TDownloadThread(TFormOrvane& form, std::string url, std::shared_ptr<const platform::TemporaryPath> target,
                    bool scheduled, bool quiet = false);
    // Waits for the thread's end.
    ~TDownloadThread();
    TDownloadThread(const TDownloadThread&) = delete;
    TDownloadThread& operator=(const TDownloadThread&) = delete;

    std::string Url;
    std::string TargetFile;
    bool Scheduled;
    bool Quiet;
    // The client error that ended the transfer; written before the thread's end is signalled.
    std::string Failure;

    void Start();
    // The thread body: the GET into the target file; a client error is kept and, unless quiet, logged and,
    // unless scheduled, shown.
    void Execute();
    // Set by the thread when its body has ended.
    bool Terminated() const { return terminated_.load(); }
    // Waits at most the time for the body's end, and returns at once when it comes; true when it has ended.
    bool WaitForEnd(std::chrono::milliseconds limit);
    void WaitFor();

private:
    void ReportFailure();

    TFormOrvane& form_;
    std::shared_ptr<const platform::TemporaryPath> target_;
    std::atomic<bool> terminated_{false};
    std::mutex endLock_;
    std::condition_variable ended_;
    std::thread thread_;
};

class TFormOrvane {
public:
    // The designed window: controls by name; arguments are the program's (element 0 the program itself).
    TFormOrvane(const TFormOrvaneControls& controls, TTranslatableComponent& translatable,
                std::vector<std::string> arguments);
    ~TFormOrvane();
    TFormOrvane(const TFormOrvane&) = delete;
    TFormOrvane& operator=(const TFormOrvane&) = delete;

    // --- Designed components ---
    TFormOrvaneControls Controls;
    TIdHTTP IdHTTP1;

    // --- Form state ---
    bool Scheduled = false;
    int32_t CurrentRow = 0;
    int32_t CurrentDownloadSize = 0;
    std::vector<std::unique_ptr<TUpdateElement>> Entries;
    int32_t Page = 0;
    std::string CatalogueText;
    std::atomic<bool> Cancelled{false};
    TRef<TXmlDDocument> Catalogue;
    std::string QueryText;
    // Wider than a package size: the sum over a whole run must not overflow.
    int64_t ProcessedBytes = 0;
    bool MainProgramClosed = false;
    // Set by the catalogue request: the program folder has keys in OvKeys/, so files need their signed SHA-256.
    bool Verifying = false;
    // Set by the catalogue request when a verifying installation refused the catalogue: the kind and why.
    std::optional<std::pair<TRefusal, std::string>> CatalogueRefusal;

    // Runs a handler as the window's framework does: an error that escapes it is shown in the framework's error
    // box and the window stays as it is. The toolkit calls every handler below through it.
    void Dispatch(const std::function<void()>& handler);

    // --- Handlers ---
    void FormCreate();
    void FormShow();
    void FormDestroy();
    void ButtonNextClick();
    void ButtonCancelClick();
    void ButtonHelpClick();
    void tmrSchedTimer();
    // The list's change guard: a row that shows the required image keeps its state.
    bool ListViewItemsChanging(int row) const;
    // A work event of the client; from the download thread it reaches the controls on the window's thread.
    void IdHTTP1Work(TWorkMode mode, int64_t count);

    // --- Pages ---
    void ShowWelcomePage();
    void CheckForUpdates();
    void ShowNoUpdatesPage();
    void ShowFinishedPage(const std::string& text);

    // --- Update list ---
    void BuildUpdateList();
    void BuildUpdateRow(const TXmlDNode* entry, TUpdateKind kind);
    void CloseKilltaskPrograms(const std::string& entryName, const TXmlDNode* killTask);
    std::string SizeText(int32_t bytes) const;

    // --- Install run ---
    void InstallSelected();
    void CloseMainProgram();
    void WaitForProcessEnd(const std::string& exeName);
    bool InstallEntry(TUpdateElement& entry);
    bool RemoveEntryFile(const TUpdateElement& entry);
    void RunInstallPrograms(const std::string& name, const TXmlDNode* run);

    // --- Transfers ---
    bool getListOfUpdates(std::string& catalogueText);
    // Fetches the URL into the target on a download thread while the window handles its messages. A failure is
    // logged and shown there; given `failure`, it is only written into it, for the caller to handle.
    void DownloadPackage(const std::string& url, std::shared_ptr<const platform::TemporaryPath> target,
                         std::string* failure = nullptr);
    // Why a verifying installation refuses the catalogue text; empty when it accepts it or does not verify.
    std::string SignedCatalogueRefusal(const std::string& catalogueText);
    // The message that tells the user why the catalogue was refused.
    std::string CatalogueRefusalText() const;
    // The SHA-256 a downloaded file must have: nothing when this installation does not verify.
    std::optional<std::string> ExpectedSha256(const TUpdateElement& entry) const;
    // A verifying installation writes every package it refused to the run log.
    void LogRefusedPackage(const TUpdateElement& entry, const TPreparedPackage& package, TCandidateCheck check);

    // For the download thread: shows a failed download's message on the window's thread and waits until it is
    // answered, unless the window is closing.
    void ShowDownloadError(const std::string& message);

private:
    std::string Message(const std::string& key) const;
    int Box(const std::string& text, unsigned flags);
    void ReportServerError(const TXmlDNode* error);
    void HideProgress();
    void SetButtons(bool back, bool next);
    void ApplyWork(int64_t count);
    void EndAbandonedDownload();
    bool TakeProgramFolderLock();
    bool PlaceByKind(const TUpdateElement& entry, const std::string& candidate);
    void StartRowTransfer(int32_t bytes);
    bool InstallFromPackage(TUpdateElement& entry);
    std::optional<bool> InstallFromDelta(TUpdateElement& entry);
    bool RebuildAndPlace(const TUpdateElement& entry, const std::string& deltaFile);
    void FallBackToPackage(TUpdateElement& entry, const std::string& reason);

    TTranslatableComponent& translatable_;
    std::vector<std::string> arguments_;
    std::thread::id windowThread_;
    std::atomic<bool> closing_{false};
    std::atomic<bool> workAttached_{false};
    // The newest work count of the running download, and whether its display is already queued.
    std::atomic<int64_t> pendingWork_{0};
    std::atomic<bool> workQueued_{false};
    // A download left to end on its own after a cancel; its end is awaited when the form goes away.
    std::unique_ptr<TDownloadThread> abandoned_;
    // Held while the window lives: one wizard per program folder.
    std::unique_ptr<platform::RunLock> runLock_;
};
