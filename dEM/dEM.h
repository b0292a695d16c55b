#pragma once
// The data module of the two windowless modes: the mirror fills a shared folder from the update server, the
// client brings this machine's files up to date from that folder. Both report only through the process exit
// status; what a person at a console sees goes through an observer.
#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "dEM/downloads_ahead.h"
#include "http/http.h"
#include "platform/files.h"
#include "platform/run_lock.h"
#include "platform/temporary_paths.h"
#include "signing/signing.h"
#include "xml/dom.h"

// What happened to one entry, for whoever watches a run.
enum class TEntryOutcome {
    UpToDate,       // nothing to do
    Stored,         // mirror: a package was tested and stored in the shared folder
    Copied,         // client: the shared copy replaced the local file
    Removed,        // the file of a removal entry was deleted
    Mismatch,       // the package failed its size, CRC or SHA-256 test; the old file stays
    Failed,         // the store or removal did not work; the old file stays
    Refused,        // a verifying run refused the package or shared copy: tampering or corruption, always told
};

class TUpToDateChecks;

class TRunObserver {
public:
    virtual ~TRunObserver() = default;
    virtual void EntryDone(TEntryOutcome outcome, const std::string& path, const std::string& detail) = 0;
    // Bytes of the current download so far, and its stated length (-1 when unknown).
    virtual void DownloadProgress(const std::string& url, int64_t received, int64_t total) = 0;
    // A line for a person watching, about nothing anyone must act on (a difference given up for its package).
    virtual void Remark(const std::string& line) = 0;
    // The run ends here: with exit code 0 and no reason after a complete run, else with the code and why.
    virtual void RunEnded(int exitCode, const std::string& reason) = 0;
};

// Watches a run on standard error: everything on a terminal, else only why a run stopped early.
std::unique_ptr<TRunObserver> MakeConsoleObserver(const std::string& modeName);
// Where a console observer writes, and what it may write there.
struct TConsoleOutput {
    std::FILE* stream = nullptr;
    bool terminal = false;          // a person reads it: every entry and the progress line are shown
    bool controlSequences = false;  // the progress line may be rewritten with the terminal's erase sequence
};
std::unique_ptr<TRunObserver> MakeConsoleObserver(const std::string& modeName, const TConsoleOutput& output);
// A count of bytes as the console shows it: "512 bytes", "3.5 KB", "1.2 MB".
std::string ByteCount(int64_t bytes);

class TdmEM {
public:
    // Runs DataModuleCreate.
    TdmEM();
    // Runs DataModuleDestroy.
    ~TdmEM();
    TdmEM(const TdmEM&) = delete;
    TdmEM& operator=(const TdmEM&) = delete;

    TIdHTTP httpMain;
    std::string LastVersionFile;
    TRef<TXmlDDocument> Catalogue;
    TRef<TXmlDDocument> MirrorCatalogue;
    std::string QueryText;
    // Told about every entry and download; may stay null.
    TRunObserver* Observer = nullptr;
    // The run holds the shared folder's lock: what a killed run left in the folder is its to remove.
    bool OwnsShare = false;

    void DataModuleCreate();
    void DataModuleDestroy();

    // --- Mirror mode (the folder argument is not used: the run reads Settings.SharedFolder) ---
    void RunMirror(const std::string& sharedFolder);
    // The catalogue text from the update server; stops the process with ExitTransferFailed when the request fails.
    std::string FetchCatalogue();
    // True when the package was stored where clients will look for it.
    bool MirrorPackage(const TUpdateElementRec& entry);
    // Writes the body of a GET into a new file; stops the process with ExitTransferFailed on any failure.
    void DownloadToFile(const std::string& url, const std::string& fileName);
    bool PlaceFile(const TUpdateElementRec& entry, const std::string& testedFile);
    bool PlaceMainExe(const TUpdateElementRec& entry, const std::string& testedFile);
    bool RemoveEntryFile(const TUpdateElementRec& entry);

    // --- Shared-folder client mode ---
    void RunClient(const std::string& sharedFolder);
    bool LoadSharedCatalogue(std::string& text);
    // The entries of "latest.xml", for a client that does not verify; false when the share has none.
    bool SharedCatalogueEntries(std::vector<TUpdateElementRec>& entries);
    // The entry's fields and its local path; false for a child that is no entry.
    bool ReadClientEntry(const TXmlDNode* entry, TUpdateKind kind, TUpdateElementRec& record) const;
    // One entry, in catalogue order: the main program asked to close, then the work the entry needs.
    void ClientEntry(const TUpdateElementRec& entry, TUpToDateChecks& checks, std::size_t index);
    // Replaces the local file by the shared copy; raises when the shared copy cannot be read or the local file
    // cannot be written (the old local file then stays).
    bool CopyFromShare(const TUpdateElementRec& entry);
    // True when the shared copy, with every link followed, lies inside the shared folder.
    bool ResolvesInsideShare(const std::string& sharedCopy);

    // Ends the process with the exit code, telling the observer why.
    [[noreturn]] void Stop(int exitCode, const std::string& reason);
    // Ends the process for a memory shortage met during the named work.
    [[noreturn]] void StopOutOfMemory(const std::string& during);

    // Downloads fetched at once by a mirror run unless common.ini says otherwise ("Connections"), and the most.
    static constexpr int DefaultConnections = 6;
    static constexpr int MaxConnections = 16;
    // The bytes a mirror run fetches ahead of its stores, the one it waits for not counted.
    static constexpr int64_t BytesAhead = int64_t{32} << 20;
    // The names of a mirror run's work folders in the temporary folder ("mirror-" and a number), and the start of
    // the names of the files it makes in the shared folder ahead of their stores.
    static constexpr const char* WorkFolderStart = "mirror-";
    static constexpr const char* AheadFileStart = ".orvane-ahead-";

private:
    // One child of a catalogue group as the mirror run plans it: where its copy goes in "latest.xml", its
    // fields, whether it needs work, and its download ahead of the stores, if any.
    struct TMirrorItem {
        const TXmlDNode* entry = nullptr;
        TXmlDNode* groupCopy = nullptr;
        TUpdateElementRec record;
        bool isEntry = false;
        bool needsWork = false;
        std::vector<TDeltaRef> deltas;  // offered for a file that needs its package
        std::optional<std::size_t> download;
    };

    // The work an entry needs, if any: its store for a file to be present, its removal for one to be gone.
    // False when a file to be present is not.
    bool BringUpToDate(const TUpdateElementRec& entry, bool needsWork,
                       bool (TdmEM::*store)(const TUpdateElementRec&));
    void Tell(TEntryOutcome outcome, const std::string& path, const std::string& detail = "");
    void TellProgress(const std::string& url, int64_t received, int64_t total);
    bool StoreTested(const TUpdateElementRec& entry, const std::string& testedFile);
    void WriteVersionMarker();
    // The server's catalogue, loaded; a request that fails, a text cut short or a refused one stops the run.
    void LoadFetchedCatalogue();
    bool SharedCopyNeedsUpdate(const TUpdateElementRec& entry) const;
    // The reduced catalogue's update element with its groups, and every child of the groups with the downloads
    // it needs queued ahead.
    std::vector<TMirrorItem> PlanMirror(const TXmlDNode* update);
    // The item's copy in "latest.xml" and its work, when its turn comes.
    void MirrorItem(TMirrorItem& item);
    // Queues the package, or the difference offered for the shared copy, ahead of the stores; nothing when the
    // run fetches one package at a time.
    std::optional<std::size_t> DownloadAhead(const TUpdateElementRec& entry, const std::vector<TDeltaRef>& deltas);
    // What a worker needs to fetch, unpack and test the entry's package, or to rebuild it from a difference.
    TPackageOrder PackageOrder(const TUpdateElementRec& entry, const std::vector<TDeltaRef>& deltas,
                               const std::string& place, const std::string& unpackFolder) const;
    void SetUpWorker(TIdHTTP& http, TIdCookieManager& cookies);
    int MirrorConnections();
    // Waits for a package ahead that is no longer needed and deletes its files.
    void DiscardDownloadAhead(std::size_t number);
    // The package of the entry being stored, fetched, unpacked and tested ahead or now; stops the run when its
    // download failed or it could not be unpacked.
    TFetchedPackage ReceivePackage(const TUpdateElementRec& entry);
    TFetchedPackage FetchPackageNow(const TUpdateElementRec& entry);
    // A GET on the run's own connection, told as progress; returns why it failed, empty when it did not.
    std::string GetOnRunThread(const std::string& url, TStream& target);
    void TellDeltaNotUsed(const std::string& file, const std::string& reason);
    // The stored line's detail for a file rebuilt from a difference: what it fetched and what it saved.
    static std::string DeltaSaving(const TUpdateElementRec& entry, int64_t fetched);
    // Where the package ahead with the number makes its candidate.
    std::string AheadPlace(const TUpdateElementRec& entry, std::size_t number);
    static std::string FoldedPath(std::string path);
    void NoteChanged(const std::string& path);
    bool MayHaveChanged(const std::string& path);
    // The run's work folder; stops the run as a failed download of the URL when it cannot be made.
    std::string WorkFolderFor(const std::string& url);
    const std::string& WorkFolder();
    // Marks a folder just made as the run's work folder; false when another run's removal got to it first.
    bool MarkWorkFolder(const std::string& folder);
    void RemoveWorkFolder();
    // What killed runs left: work folders of runs no longer alive, and, for the run that owns the shared folder,
    // its files ahead that no entry of the catalogue names.
    void RemoveAbandonedWorkFolders();
    void RemoveAbandonedAheadFiles(const TXmlDNode* update);
    void AppendMirrorFields(const TXmlDNode* entry, TXmlDNode* entryCopy, const TUpdateElementRec& record,
                            bool isEntry);
    // Copies, and moves of the run's own tested files, that wait for the device write of the whole run; then that
    // write, of these files and their folders only.
    bool CopyDeferred(const std::string& source, const std::string& target);
    bool MoveDeferred(const std::string& source, const std::string& target);
    bool NoteDeferred(bool written, const std::string& target);
    void MakeCopiesDurable();

    // --- A verifying installation (keys in OvKeys/): every catalogue signed, every file its signed SHA-256 ---
    // Loads the text into `into` once it passes; else stops the run as a failed catalogue request.
    void AcceptCatalogue(const std::string& text, const TProductLine& request, TXmlDDocument* into,
                         const std::string& stopReason);
    // The SHA-256 the entry's file must have when this installation verifies; nothing when it does not.
    std::optional<std::string> ExpectedSha256(const TUpdateElementRec& entry) const;
    // An entry left as it was, told even off a terminal; the run goes on and ends with ExitRefusedEntries.
    void Refuse(const std::string& path, const std::string& reason);
    // The run's end: exit 0, or ExitRefusedEntries with one line: `notUpToDate`, the count and the entries.
    void EndRun(const std::string& notUpToDate);
    // The server's signed catalogue, byte for byte, beside "latest.xml".
    void StoreSignedCatalogue();
    // Client: the text of the share's signed catalogue, only from a regular file of a sane size.
    std::string ReadSignedShareCatalogue(const std::string& refused);
    // Client: the entries the share's signed catalogue signs, in its order, with their shared copies where the
    // mirror stores them; stops the run when the catalogue is refused.
    std::vector<TUpdateElementRec> SignedShareEntries();
    // Client: why the shared copy is not the entry's signed file (empty when it is), reading it once, never past
    // the signed size, and handing each block to `consume`.
    std::string SignedCopyFault(const TUpdateElementRec& entry,
                                const std::function<bool(std::string_view block)>& consume);
    // Client: copies the shared copy while hashing it; the local file is replaced only when the hash matches.
    bool CopyVerified(const TUpdateElementRec& entry);

    TCatalogueVerifier verifier_;
    std::string fetchedCatalogue_;  // the server's text, stored on the share when it is signed
    std::vector<std::string> notUpToDate_;  // entries a verifying run refused

    std::string downloadUrl_;
    std::string sharedFolderResolved_;  // the shared folder with its links followed, once a copy needs it
    platform::DurableFiles durableFiles_;
    std::unique_ptr<platform::TemporaryPath> workFolder_;  // made for the first package
    std::unique_ptr<platform::RunLock> workFolderMark_;     // held while the work folder is in use
    // The shared folder and the start of the names of the files the run makes there ahead of their stores, and
    // every file so named, removed when the run ends.
    std::string aheadFilesStart_;
    std::unique_ptr<platform::TemporaryPath> aheadFiles_;
    // Paths this mirror run wrote or removed, and folders a zip package's members landed in, letter case folded:
    // the plan, made before the first store, may be out of date for them.
    std::set<std::string> changedFiles_;
    std::set<std::string> changedFolders_;
    std::optional<int> connections_;
    std::unique_ptr<TDownloadsAhead> downloadsAhead_;
    std::size_t aheadCount_ = 0;
    std::optional<std::size_t> aheadDownload_;  // the package ahead of the entry being stored
    std::vector<TDeltaRef> deltas_;              // the differences offered for the entry being stored
    // Observers are told from the run's own thread and from download workers: one at a time.
    std::mutex observerLock_;
};
