// Mirror mode: the catalogue and every out-of-date package from the update server into the shared folder, and
// the reduced catalogue "latest.xml" whose download locations point at the shared copies.
#include "OVCommon/OVCommon.h"
#include "dEM/dEM.h"
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

std::string MismatchText(TCandidateCheck check) {
    switch (check) {
        case TCandidateCheck::SizeDiffers: return "wrong size";
        case TCandidateCheck::CrcDiffers: return "wrong CRC";
        default: return "wrong SHA-256";
    }
}

void AppendCopyOf(TXmlDNode* parent, const TXmlDNode* entry, std::string_view name) {
    if (const TXmlDNode* child = FindChild(entry, name)) AppendChild(parent, CloneNode(child, true));
}

}  // namespace

void TdmEM::RunMirror(const std::string& /*sharedFolder*/) {
    LoadFetchedCatalogue();
    if (FindErrorElement(Catalogue.get())) Stop(ExitServerError, "the update server reports an error");
    const TXmlDNode* update = FindUpdateElement(Catalogue.get());
    LoadXml(MirrorCatalogue.get(), "<xml> </xml>");
    if (update) {
        TXmlDNode* updateCopy = EmptyCopy(update, "");
        AppendChild(DocumentElement(MirrorCatalogue.get()), updateCopy);
        ForEachGroup(update, [&](TXmlDNode* group, TUpdateKind kind) {
            TXmlDNode* groupCopy = EmptyCopy(group, "");
            AppendChild(updateCopy, groupCopy);
            for (int i = 0; i < group->ChildNodes().Count(); ++i) {
                const TXmlDNode* entry = group->ChildNodes().Item(i);
                const TRef<TXmlDNode> entryCopy(CloneNode(entry, false));
                if (MirrorEntry(entry, entryCopy.get(), kind)) AppendChild(groupCopy, entryCopy.get());
            }
        });
    }
    workFolder_.reset();
    // The stored files reach the device before the catalogue that points clients at them.
    MakeCopiesDurable(Settings.SharedFolder);
    StoreSignedCatalogue();
    SaveToFile(MirrorCatalogue.get(), Settings.SharedFolder + "latest.xml");
    if (Observer) Observer->RunEnded(0, "");
}

void TdmEM::LoadFetchedCatalogue() {
    std::string text = FetchCatalogue();
    try {
        LoadCatalogue(Catalogue.get(), text);
    } catch (const ECatalogueCutShort& failure) {
        Stop(ExitTransferFailed, std::string("the catalogue request failed: ") + failure.what());
    }
    AcceptCatalogue(text, Catalogue.get(), "the catalogue request failed: ");
    fetchedCatalogue_ = std::move(text);
}

std::string TdmEM::FetchCatalogue() {
    PrepareCatalogueRequest(httpMain);
    try {
        return httpMain.Get(CatalogueRequestUrl(DemoServerHost(), QueryText));
    } catch (const std::exception& failure) {
        Stop(ExitTransferFailed, std::string("the catalogue request failed: ") + failure.what());
    }
}

bool TdmEM::MirrorEntry(const TXmlDNode* entry, TXmlDNode* entryCopy, TUpdateKind kind) {
    TUpdateElementRec record;
    const bool isEntry = ReadEntryRecord(entry, kind, record);
    if (isEntry) record.FileName = EntryPath(Settings.SharedFolder, kind, record.FileName);
    AppendMirrorFields(entry, entryCopy, record, isEntry);
    return !isEntry || BringUpToDate(record, NeedsUpdate(record), &TdmEM::MirrorPackage);
}

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
    const std::string download = DownloadToWorkFolder(entry.Download);
    bool listed = false;
    try {
        const std::optional<std::string> sha256 = ExpectedSha256(entry);
        const TPreparedPackage package = PreparePackage(download, entry.FileName, WorkFolder() + "BR/", sha256.has_value());
        const TCandidateCheck check = CheckCandidate(package, entry.Size, entry.Crc, sha256);
        if (check != TCandidateCheck::Matches) {
            Tell(TEntryOutcome::Mismatch, entry.FileName, MismatchText(check) + LeftOut);
        } else {
            platform::ForceDirectories(FolderOf(entry.FileName));
            const bool stored = StoreTested(entry, package.Candidate);
            FinishStoredPackage(package, entry.FileName);
            // A program entry is stored under the main program's name; clients look for it under its own.
            listed = stored && (entry.Kind != ukProgram || !NeedsUpdate(entry));
            Tell(stored ? TEntryOutcome::Stored : TEntryOutcome::Failed, entry.FileName,
                 !stored  ? std::string("cannot write the shared copy") + LeftOut
                 : listed ? ""
                          : "stored as " + Settings.MainExe + " only" + LeftOut);
        }
        EmptyUnpackFolder(package);
    } catch (const std::exception& failure) {
        Stop(ExitPackageFailed, "the package of " + entry.FileName + " failed: " + failure.what());
    }
    platform::DeleteFile(download);  // a download that failed its test is not kept
    return listed;
}

std::string TdmEM::DownloadToWorkFolder(const std::string& url) {
    std::string download;
    try {
        download = WorkFolder() + "download";
    } catch (const std::exception& failure) {
        Stop(ExitTransferFailed, "the download of " + url + " failed: " + failure.what());
    }
    DownloadToFile(url, download);
    return download;
}

// Each run has a folder of its own for its downloads and unpacked packages, so that runs into different shared
// folders never write into each other's files; it goes when the run ends, however it ends.
const std::string& TdmEM::WorkFolder() {
    if (!workFolder_) {
        const std::string temp = TempFolderPath();
        std::string folder;
        for (int number = 0; !platform::CreateDirectory(folder = temp + "mirror-" + std::to_string(number) + "/");)
            if (++number == 10000 || !platform::DirectoryExists(temp))
                throw Exception("Cannot create a work folder in \"" + temp + "\".");
        workFolder_ = std::make_unique<platform::TemporaryPath>(folder, platform::TemporaryPath::Kind::Folder);
    }
    return workFolder_->Path();
}

void TdmEM::DownloadToFile(const std::string& url, const std::string& fileName) {
    PrepareDownloadRequest(httpMain);
    downloadUrl_ = url;
    try {
        TFileStream target(fileName, TFileStream::Mode::Create);
        httpMain.Get(url, target);
    } catch (const std::exception& failure) {
        Stop(ExitTransferFailed, "the download of " + url + " failed: " + failure.what());
    }
    downloadUrl_.clear();
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
    return MoveDeferred(testedFile, Settings.SharedFolder + Settings.MainExe);
}

void TdmEM::WriteVersionMarker() {
    const std::string version = FileVersionString(Settings.SharedFolder + Settings.MainExe);
    if (version.empty()) return;
    if (!platform::ReplaceFileWithBytes(LastVersionFile, version + "\r\n"))
        throw EFOpenError("Cannot create file \"" + LastVersionFile + "\".");
}
