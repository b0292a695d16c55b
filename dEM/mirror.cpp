// Mirror mode: the catalogue and every out-of-date package from the update server into the shared folder, and
// the reduced catalogue "latest.xml" whose download locations point at the shared copies.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <random>

#include "OVCommon/OVCommon.h"
#include "dEM/dEM.h"
#include "dEM/downloads_ahead.h"
#include "platform/files.h"
#include "platform/stream.h"

namespace {

// A copy of the element without its children, holding just the given text.
TXmlDNode* EmptyCopy(const TXmlDNode* element, const std::string& text) {
    TXmlDNode* copy = CloneNode(element, false);
    copy->SetText(text);
    return copy;
}

const std::string LeftOut = "; left out of latest.xml, so clients keep their copy";

std::string MismatchText(const TFetchedPackage& fetched) {
    switch (fetched.Check) {
        case TCandidateCheck::SizeDiffers: return "wrong size";
        case TCandidateCheck::CrcDiffers: return "wrong CRC";
        case TCandidateCheck::UnsignedMembers: {
            std::string names;
            for (const std::string& name : fetched.Package.UnsignedMembers) names += (names.empty() ? "" : ", ") + name;
            return "it holds files its signed entry does not name (" + names + ")";
        }
        default: return "wrong SHA-256";
    }
}

void AppendCopyOf(TXmlDNode* parent, const TXmlDNode* entry, std::string_view name) {
    if (const TXmlDNode* child = FindChild(entry, name)) AppendChild(parent, CloneNode(child, true));
}

}  // namespace

void TdmEM::RunMirror(const std::string& /*sharedFolder*/) {
    RemoveAbandonedWorkFolders();
    LoadFetchedCatalogue();
    const TXmlDNode* update = FindUpdateElement(Catalogue.get());
    RemoveAbandonedAheadFiles(update);
    if (FindErrorElement(Catalogue.get())) Stop(ExitServerError, "the update server reports an error");
    LoadXml(MirrorCatalogue.get(), "<xml> </xml>");
    if (update) {
        // Every package to fetch is known before the first store, so downloads run ahead of the stores, which
        // still go one by one in catalogue order.
        std::vector<TMirrorItem> plan = PlanMirror(update);
        for (TMirrorItem& item : plan) MirrorItem(item);
    }
    downloadsAhead_.reset();
    RemoveWorkFolder();
    // The stored files reach the device before the catalogue that points clients at them.
    MakeCopiesDurable();
    StoreSignedCatalogue();
    SaveToFile(MirrorCatalogue.get(), Settings.SharedFolder + "latest.xml");
    // Its new name reaches the device too: after a power cut clients find the new catalogue, not the old one.
    if (!platform::FlushFolder(Settings.SharedFolder))
        throw EStreamError("Cannot flush the folder \"" + Settings.SharedFolder + "\". " + std::strerror(errno));
    EndRun("packages refused and left out of latest.xml");
}

std::vector<TdmEM::TMirrorItem> TdmEM::PlanMirror(const TXmlDNode* update) {
    std::vector<TMirrorItem> plan;
    TXmlDNode* updateCopy = EmptyCopy(update, "");
    AppendChild(DocumentElement(MirrorCatalogue.get()), updateCopy);
    ForEachGroup(update, [&](TXmlDNode* group, TUpdateKind kind) {
        TXmlDNode* groupCopy = EmptyCopy(group, "");
        AppendChild(updateCopy, groupCopy);
        for (int i = 0; i < group->ChildNodes().Count(); ++i) {
            TMirrorItem& item = plan.emplace_back();
            item.entry = group->ChildNodes().Item(i);
            item.groupCopy = groupCopy;
            item.isEntry = ReadEntryRecord(item.entry, kind, item.record);
            if (!item.isEntry) continue;
            item.record.FileName = EntryPath(Settings.SharedFolder, kind, item.record.FileName);
            item.needsWork = SharedCopyNeedsUpdate(item.record);
            if (!item.needsWork || item.record.Size == 0) continue;
            item.deltas = ReadDeltas(item.entry);
            item.download = DownloadAhead(item.record, item.deltas);
        }
    });
    return plan;
}

// With one connection nothing runs ahead: each package is fetched when its turn comes, as the stores need it.
std::optional<std::size_t> TdmEM::DownloadAhead(const TUpdateElementRec& entry,
                                                const std::vector<TDeltaRef>& deltas) {
    const int connections = MirrorConnections();
    if (connections == 1) return std::nullopt;
    const std::size_t number = aheadCount_;
    TPackageOrder order;
    try {
        // Folders are made here, on the run's own thread.
        order = PackageOrder(entry, deltas, AheadPlace(entry, number),
                             WorkFolder() + "unpack-" + std::to_string(number) + "/");
        if (!platform::ForceDirectories(FolderOf(order.Place))) return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;  // the package's own turn reports it, after the entries before it are done
    }
    if (!downloadsAhead_) {
        // The catalogue's kept connection would be one more than the run's share of the server.
        httpMain.CloseConnection();
        downloadsAhead_ = std::make_unique<TDownloadsAhead>(
            connections, BytesAhead, [this](TIdHTTP& http, TIdCookieManager& cookies) { SetUpWorker(http, cookies); },
            [this](const std::string& url, int64_t received, int64_t total) { TellProgress(url, received, total); },
            [this](const std::string& file, const std::string& reason) { TellDeltaNotUsed(file, reason); });
    }
    ++aheadCount_;
    return downloadsAhead_->Add(std::move(order));
}

TPackageOrder TdmEM::PackageOrder(const TUpdateElementRec& entry, const std::vector<TDeltaRef>& deltas,
                                  const std::string& place, const std::string& unpackFolder) const {
    return {entry.Download, entry.FileName, entry.Size, entry.Crc, ExpectedSha256(entry), place, unpackFolder, deltas};
}

// A worker's requests go as the run's own do: through the same proxy, with the same headers and the cookies the
// catalogue's answer set.
void TdmEM::SetUpWorker(TIdHTTP& http, TIdCookieManager& cookies) {
    ApplyProxySettings(http);
    PrepareDownloadRequest(http);
    http.ReadTimeout = httpMain.ReadTimeout;
    if (httpMain.CookieManager) cookies = *httpMain.CookieManager;
    http.CookieManager = &cookies;
}

int TdmEM::MirrorConnections() {
    if (!connections_)
        connections_ = std::clamp(TryTextToInt(ReadCommonIni("Connections")).value_or(DefaultConnections), 1,
                                  MaxConnections);
    return *connections_;
}

void TdmEM::MirrorItem(TMirrorItem& item) {
    const TRef<TXmlDNode> entryCopy(CloneNode(item.entry, false));
    AppendMirrorFields(item.entry, entryCopy.get(), item.record, item.isEntry);
    if (item.isEntry) {
        // An earlier store of this run may have written the file since the plan looked at it.
        if (MayHaveChanged(item.record.FileName)) item.needsWork = SharedCopyNeedsUpdate(item.record);
        if (item.download && !item.needsWork) DiscardDownloadAhead(*item.download);
        aheadDownload_ = item.needsWork ? item.download : std::nullopt;
        deltas_ = item.deltas;
        const bool listed = BringUpToDate(item.record, item.needsWork, &TdmEM::MirrorPackage);
        if (item.needsWork) NoteChanged(item.record.FileName);
        if (!listed) return;
    }
    AppendChild(item.groupCopy, entryCopy.get());
}

void TdmEM::DiscardDownloadAhead(std::size_t number) { DiscardPreparedPackage(downloadsAhead_->Take(number).Package); }

void TdmEM::LoadFetchedCatalogue() {
    std::string text = FetchCatalogue();
    const std::string failed = "the catalogue request failed: ";
    // A verifying run checks the bytes as they came before anything reads them.
    if (verifier_.Active()) {
        AcceptCatalogue(text, RequestedProductLine(QueryText), Catalogue.get(), failed);
    } else {
        try {
            LoadCatalogue(Catalogue.get(), text);
        } catch (const ECatalogueCutShort& failure) {
            Stop(ExitTransferFailed, failed + failure.what());
        }
    }
    fetchedCatalogue_ = std::move(text);
}

// A verifying run keeps no shared copy forged to the entry's size and CRC: its SHA-256 is taken in the same read.
bool TdmEM::SharedCopyNeedsUpdate(const TUpdateElementRec& entry) const {
    return NeedsUpdate(entry.FileName, entry.Size, entry.Crc, ExpectedSha256(entry));
}

std::string TdmEM::FetchCatalogue() {
    PrepareCatalogueRequest(httpMain);
    try {
        return httpMain.Get(CatalogueRequestUrl(DemoServerHost(), QueryText));
    } catch (const std::exception& failure) {
        Stop(ExitTransferFailed, "the catalogue request failed: " + TransferFailureText(failure, httpMain));
    }
}

// Named children only: whatever else the server's entry holds (its differences, which name the server's files and
// bases the clients do not hold) stays out of "latest.xml".
void TdmEM::AppendMirrorFields(const TXmlDNode* entry, TXmlDNode* entryCopy, const TUpdateElementRec& record,
                               bool isEntry) {
    AppendCopyOf(entryCopy, entry, "name");
    if (!isEntry) return;
    AppendCopyOf(entryCopy, entry, "filename");
    AppendCopyOf(entryCopy, entry, "crc");
    if (const TXmlDNode* download = FindChild(entry, "download"))
        AppendChild(entryCopy, EmptyCopy(download, record.FileName));
    if (const TXmlDNode* size = FindChild(entry, "size")) AppendChild(entryCopy, EmptyCopy(size, size->GetText()));
    AppendCopyOf(entryCopy, entry, "action");
    AppendCopyOf(entryCopy, entry, "sha256");
}

bool TdmEM::MirrorPackage(const TUpdateElementRec& entry) {
    const TFetchedPackage fetched = ReceivePackage(entry);
    const TPreparedPackage& package = fetched.Package;
    bool listed = false;
    try {
        // A zip package's other members land beside the file.
        if (!package.UnpackFolder.empty()) changedFolders_.insert(FoldedPath(FolderOf(entry.FileName)));
        if (fetched.Check != TCandidateCheck::Matches && verifier_.Active()) {
            // Not what the key holder published: tampering or corruption, which the operator must hear of.
            Refuse(entry.FileName, MismatchText(fetched) + LeftOut);
        } else if (fetched.Check != TCandidateCheck::Matches) {
            Tell(TEntryOutcome::Mismatch, entry.FileName, MismatchText(fetched) + LeftOut);
        } else {
            platform::ForceDirectories(FolderOf(entry.FileName));
            const bool stored = StoreTested(entry, package.Candidate);
            FinishStoredPackage(package, entry.FileName);
            // A program entry is stored under the main program's name; clients look for it under its own.
            listed = stored && (entry.Kind != ukProgram || !NeedsUpdate(entry));
            Tell(stored ? TEntryOutcome::Stored : TEntryOutcome::Failed, entry.FileName,
                 !stored             ? std::string("cannot write the shared copy") + LeftOut
                 : !listed           ? "stored as " + Settings.MainExe + " only" + LeftOut
                 : fetched.FromDelta ? DeltaSaving(entry, *fetched.FromDelta)
                                     : "");
        }
    } catch (const std::bad_alloc&) {
        StopOutOfMemory("the package of " + entry.FileName);
    } catch (const std::exception& failure) {
        Stop(ExitPackageFailed, "the package of " + entry.FileName + " failed: " + failure.what());
    }
    DiscardPreparedPackage(package);  // a package that failed its test is not kept
    return listed;
}

// The entry's package, fetched, unpacked and tested ahead or now; a failed download or package stops the run.
TFetchedPackage TdmEM::ReceivePackage(const TUpdateElementRec& entry) {
    const TFetchedPackage fetched = aheadDownload_ ? downloadsAhead_->Take(*aheadDownload_) : FetchPackageNow(entry);
    if (fetched.OutOfMemory) StopOutOfMemory("the package of " + entry.FileName);
    if (!fetched.TransferFailure.empty())
        Stop(ExitTransferFailed, "the download of " + entry.Download + " failed: " + fetched.TransferFailure);
    if (!fetched.PackageFailure.empty())
        Stop(ExitPackageFailed, "the package of " + entry.FileName + " failed: " + fetched.PackageFailure);
    return fetched;
}

// The difference or the package, downloaded into a file of the work folder, as a run of one connection always
// has.
TFetchedPackage TdmEM::FetchPackageNow(const TUpdateElementRec& entry) {
    const std::string folder = WorkFolderFor(entry.Download);
    const TPackageOrder order = PackageOrder(entry, deltas_, folder + "package", folder + "package.d/");
    return FetchDeltaElsePackage(
        order, [this](const std::string& url, TStream& target) { return GetOnRunThread(url, target); },
        [this](const std::string& file, const std::string& reason) { TellDeltaNotUsed(file, reason); },
        [&] {
            DownloadToFile(entry.Download, folder + "download");
            return PrepareFetchedPackage({"", folder + "download"}, order);
        });
}

std::string TdmEM::WorkFolderFor(const std::string& url) {
    try {
        return WorkFolder();
    } catch (const std::exception& failure) {
        Stop(ExitTransferFailed, "the download of " + url + " failed: " + failure.what());
    }
}

void TdmEM::DownloadToFile(const std::string& url, const std::string& fileName) {
    std::string failure;
    try {
        TFileStream target(fileName, TFileStream::Mode::Create);
        failure = GetOnRunThread(url, target);
    } catch (const std::bad_alloc&) {
        StopOutOfMemory("the download of " + url);
    } catch (const std::exception& error) {
        failure = TransferFailureText(error, httpMain);
    }
    if (!failure.empty()) Stop(ExitTransferFailed, "the download of " + url + " failed: " + failure);
}

std::string TdmEM::GetOnRunThread(const std::string& url, TStream& target) {
    PrepareDownloadRequest(httpMain);
    downloadUrl_ = url;
    std::string failure = GetInto(httpMain, url, target, WaitForBusyServer);
    downloadUrl_.clear();
    return failure;
}

void TdmEM::TellDeltaNotUsed(const std::string& file, const std::string& reason) {
    std::lock_guard guard(observerLock_);
    if (Observer) Observer->Remark("difference of " + file + " not used (" + reason + "); fetching its package");
}

// Set against the package the entry names (its download size, else the file's size when the catalogue gives
// none).
std::string TdmEM::DeltaSaving(const TUpdateElementRec& entry, int64_t fetched) {
    const int64_t package = entry.DownloadSize > 0 ? entry.DownloadSize : entry.Size;
    return "from a difference, " + ByteCount(fetched) + " fetched instead of " + ByteCount(package) + " (" +
           std::to_string((package - fetched) * 100 / package) + "% saved)";
}

// A package whose file goes into the shared folder itself is made there, under a name of the run's own, and its
// store is a rename in that folder: on a network share nothing is copied across the network a second time, and on
// a local disk the file system gives it a place near the share's other files rather than near the temporary
// folder's. Packages for sub-folders, which may not exist yet, are made in the work folder.
std::string TdmEM::AheadPlace(const TUpdateElementRec& entry, std::size_t number) {
    if (FolderOf(entry.FileName) != Settings.SharedFolder) return WorkFolder() + "ahead/" + std::to_string(number);
    if (!aheadFiles_) {
        // A start no catalogue can know beforehand: no entry's file is ever among those removed.
        aheadFilesStart_ = Settings.SharedFolder + AheadFileStart +
                           std::to_string(std::random_device{}() % 1000000000u) + "-";
        aheadFiles_ = std::make_unique<platform::TemporaryPath>(aheadFilesStart_,
                                                                platform::TemporaryPath::Kind::FilesNamedFrom);
    }
    return aheadFilesStart_ + std::to_string(number);
}

// Each run has a folder of its own for its downloads and unpacked packages, so that runs into different shared
// folders never write into each other's files; it goes when the run ends, and a later run removes it when the run
// was killed.
const std::string& TdmEM::WorkFolder() {
    if (!workFolder_) {
        const std::string temp = TempFolderPath();
        std::string folder;
        for (int number = 0;; ++number) {
            folder = temp + WorkFolderStart + std::to_string(number) + "/";
            if (platform::CreateDirectory(folder) && MarkWorkFolder(folder)) break;
            if (number == 9999 || !platform::DirectoryExists(temp))
                throw Exception("Cannot create a work folder in \"" + temp + "\".");
        }
        workFolder_ = std::make_unique<platform::TemporaryPath>(folder, platform::TemporaryPath::Kind::Folder);
    }
    return workFolder_->Path();
}

bool TdmEM::StoreTested(const TUpdateElementRec& entry, const std::string& testedFile) {
    if (entry.Kind != ukProgram) return PlaceFile(entry, testedFile);
    const bool stored = PlaceMainExe(entry, testedFile);
    WriteVersionMarker();
    return stored;
}

// The tested file is the run's own and goes right after its store, so it is moved into place rather than copied
// and deleted. It replaces the old file only once complete, so a failed store keeps the previous shared copy; the
// stored files reach the device together, before "latest.xml" is written.
bool TdmEM::PlaceFile(const TUpdateElementRec& entry, const std::string& testedFile) {
    return MoveDeferred(testedFile, entry.FileName);
}

bool TdmEM::PlaceMainExe(const TUpdateElementRec& /*entry*/, const std::string& testedFile) {
    NoteChanged(Settings.SharedFolder + Settings.MainExe);
    return MoveDeferred(testedFile, Settings.SharedFolder + Settings.MainExe);
}

// Letter case is folded: on some file systems two spellings name one file, and a needless second look is cheap.
std::string TdmEM::FoldedPath(std::string path) {
    for (char& c : path)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return path;
}

void TdmEM::NoteChanged(const std::string& path) { changedFiles_.insert(FoldedPath(path)); }

bool TdmEM::MayHaveChanged(const std::string& path) {
    return changedFiles_.count(FoldedPath(path)) || changedFolders_.count(FoldedPath(FolderOf(path)));
}

void TdmEM::WriteVersionMarker() {
    const std::string version = FileVersionString(Settings.SharedFolder + Settings.MainExe);
    if (version.empty()) return;
    if (!platform::ReplaceFileWithBytes(LastVersionFile, version + "\r\n"))
        throw EFOpenError("Cannot create file \"" + LastVersionFile + "\".");
}
