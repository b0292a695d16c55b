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

void AppendCopyOf(TXmlDNode* parent, const TXmlDNode* entry, std::string_view name) {
    if (const TXmlDNode* child = FindChild(entry, name)) AppendChild(parent, CloneNode(child, true));
}

}  // namespace

void TdmEM::RunMirror(const std::string& /*sharedFolder*/) {
    LoadXml(Catalogue.get(), FetchCatalogue());
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
                TXmlDNode* entryCopy = CloneNode(entry, false);
                AppendChild(groupCopy, entryCopy);
                MirrorEntry(entry, entryCopy, kind);
            }
        });
    }
    if (!unpackFolder_.empty()) DeleteFolderTree(unpackFolder_);
    // The stored files reach the device before the catalogue that points clients at them.
    MakeCopiesDurable(Settings.SharedFolder);
    SaveToFile(MirrorCatalogue.get(), Settings.SharedFolder + "latest.xml");
    if (Observer) Observer->RunEnded(0, "");
}

std::string TdmEM::FetchCatalogue() {
    PrepareCatalogueRequest(httpMain);
    try {
        return httpMain.Get(CatalogueRequestUrl(DemoServerHost(), QueryText));
    } catch (const std::exception& failure) {
        Stop(ExitTransferFailed, std::string("the catalogue request failed: ") + failure.what());
    }
}

void TdmEM::MirrorEntry(const TXmlDNode* entry, TXmlDNode* entryCopy, TUpdateKind kind) {
    TUpdateElementRec record;
    const bool isEntry = ReadEntryRecord(entry, kind, record);
    if (isEntry) record.FileName = EntryPath(Settings.SharedFolder, kind, record.FileName);
    AppendMirrorFields(entry, entryCopy, record, isEntry);
    if (isEntry) BringUpToDate(record, NeedsUpdate(record), &TdmEM::MirrorPackage);
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
}

bool TdmEM::MirrorPackage(const TUpdateElementRec& entry) {
    const std::string download = TempFileName();
    DownloadToFile(entry.Download, download);
    try {
        const TPreparedPackage package = PreparePackage(download, entry.FileName);
        bool stored = false;
        const TCandidateCheck check = CheckCandidate(package, entry.Size, entry.Crc);
        if (check != TCandidateCheck::Matches) {
            Tell(TEntryOutcome::Mismatch, entry.FileName,
                 check == TCandidateCheck::SizeDiffers ? "wrong size" : "wrong CRC");
        } else {
            platform::ForceDirectories(FolderOf(entry.FileName));
            stored = StoreTested(entry, package.Candidate);
            FinishStoredPackage(package, entry.FileName);
            Tell(stored ? TEntryOutcome::Stored : TEntryOutcome::Failed, entry.FileName,
                 stored ? "" : "cannot write the shared copy");
        }
        EmptyUnpackFolder(package);
        if (!package.UnpackFolder.empty()) unpackFolder_ = package.UnpackFolder;
        return stored;
    } catch (const std::exception& failure) {
        Stop(ExitPackageFailed, "the package of " + entry.FileName + " failed: " + failure.what());
    }
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
