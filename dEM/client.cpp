// Shared-folder client mode: this machine's files brought up to date from the shared folder's "latest.xml".
#include <algorithm>
#include <cstring>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "dEM/dEM.h"
#include "dEM/up_to_date_checks.h"
#include "platform/files.h"
#include "platform/stream.h"

namespace {

// Calls Visit with each position of C in the text, in order, until it says false; true when it never did.
// memchr finds them many bytes at a time, where a scan byte by byte dominated large catalogues.
template <typename Visit>
bool AllOccurrences(const std::string& text, char c, Visit visit) {
    const char* const end = text.data() + text.size();
    for (const char* at = text.data();
         (at = static_cast<const char*>(std::memchr(at, c, static_cast<size_t>(end - at)))); ++at)
        if (!visit(static_cast<size_t>(at - text.data()))) return false;
    return true;
}

// True when every line break of the text is a CR LF pair: each LF follows a CR, and each CR comes before an LF.
bool OnlyCrLfBreaks(const std::string& text) {
    return AllOccurrences(text, '\n', [&](size_t at) { return at > 0 && text[at - 1] == '\r'; }) &&
           AllOccurrences(text, '\r', [&](size_t at) { return at + 1 < text.size() && text[at + 1] == '\n'; });
}

// True when the path names a file below the folder (which ends with a separator) without climbing out of it.
bool LiesInside(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           IsSafeEntryFileName(path.substr(folder.size()));
}

}  // namespace

void TdmEM::RunClient(const std::string& /*sharedFolder*/) {
    std::vector<TUpdateElementRec> entries;
    if (verifier_.Active())
        entries = SignedShareEntries();
    else if (!SharedCatalogueEntries(entries))
        return EndRun("");
    TUpToDateChecks checks(entries);
    for (std::size_t i = 0; i < entries.size(); ++i) ClientEntry(entries[i], checks, i);
    // The copies were made complete one by one; they reach the device together.
    MakeCopiesDurable();
    EndRun("entries not brought up to date");
}

bool TdmEM::SharedCatalogueEntries(std::vector<TUpdateElementRec>& entries) {
    std::string text;
    if (!LoadSharedCatalogue(text)) return false;
    try {
        LoadCatalogue(Catalogue.get(), text);
    } catch (const ECatalogueCutShort& failure) {
        Stop(ExitTransferFailed, "the shared catalogue cannot be used: " + std::string(failure.what()));
    }
    ForEachEntryCandidate(FindUpdateElement(Catalogue.get()), [&](const TXmlDNode* entry, TUpdateKind kind) {
        if (TUpdateElementRec record; ReadClientEntry(entry, kind, record)) entries.push_back(std::move(record));
    });
    return true;
}

bool TdmEM::LoadSharedCatalogue(std::string& text) {
    const std::string path = Settings.SharedFolder + "latest.xml";
    if (!platform::FileExists(path)) return false;
    TFileStream file(path, TFileStream::Mode::OpenRead);
    std::string content(static_cast<size_t>(file.Size()), '\0');
    content.resize(static_cast<size_t>(file.Read(content.data(), static_cast<int64_t>(content.size()))));
    // Read as text lines and joined again, each line ended by CR LF. The breaks of other text are found with a
    // plain scan: find_first_of looks each character up in its set with a library call.
    const auto isLineBreak = [](char c) { return c == '\r' || c == '\n'; };
    if (OnlyCrLfBreaks(content)) {
        // Joined again, such text is itself with its last line ended: no copy of a large catalogue is needed.
        if (!content.empty() && !content.ends_with("\r\n")) content += "\r\n";
        text = std::move(content);
        return true;
    }
    text.clear();
    auto start = content.cbegin();
    while (start != content.cend()) {
        const auto end = std::find_if(start, content.cend(), isLineBreak);
        text.append(start, end);
        text += "\r\n";
        if (end == content.cend()) break;
        start = end + (*end == '\r' && end + 1 != content.cend() && end[1] == '\n' ? 2 : 1);
    }
    return true;
}

bool TdmEM::ReadClientEntry(const TXmlDNode* entry, TUpdateKind kind, TUpdateElementRec& record) const {
    if (!ReadEntryRecord(entry, kind, record)) return false;
    // A download outside this machine's shared folder (written by a mirror that mounts the share elsewhere, or
    // run from another folder, or naming any file at all) is not read: the copy is where the mirror stores it.
    if (!LiesInside(record.Download, Settings.SharedFolder))
        record.Download = EntryPath(Settings.SharedFolder, kind, record.FileName);
    record.FileName = EntryPath(ProgramFolder, kind, record.FileName);
    return true;
}

void TdmEM::ClientEntry(const TUpdateElementRec& entry, TUpToDateChecks& checks, std::size_t index) {
    // A started main program may change files on its way out; answers found before it are not trusted.
    if (RunProgram(ProgramFolder + Settings.MainExe, "/U", true)) checks.Abandon();
    const bool needsWork = checks.NeedsUpdate(index);
    if (needsWork) checks.Abandon();  // a later entry may name the same file
    if (!verifier_.Active()) {
        BringUpToDate(entry, needsWork, &TdmEM::CopyFromShare);
        return;
    }
    // One refused file must not keep the entries after it from their updates.
    try {
        BringUpToDate(entry, needsWork, &TdmEM::CopyFromShare);
    } catch (const std::exception& failure) {
        Refuse(entry.FileName, failure.what());
    }
}

bool TdmEM::CopyFromShare(const TUpdateElementRec& entry) {
    // Only a plain file is copied, and nothing else is even opened: a device or pipe would never end. Opening the
    // shared copy names a missing one in the failure; the local file stays until the new content is complete.
    if (platform::FileExists(entry.Download) && !platform::IsPlainFile(entry.Download))
        throw EFOpenError("Cannot open file \"" + entry.Download + "\". It is not a plain file.");
    TFileStream{entry.Download, TFileStream::Mode::OpenRead};
    if (!ResolvesInsideShare(entry.Download))
        throw EFOpenError("Cannot open file \"" + entry.Download + "\". It leads out of the shared folder.");
    if (!verifier_.Active()) platform::ForceDirectories(FolderOf(entry.FileName));
    if (!(verifier_.Active() ? CopyVerified(entry) : CopyDeferred(entry.Download, entry.FileName)))
        throw EFOpenError("Cannot create file \"" + entry.FileName + "\".");
    Tell(TEntryOutcome::Copied, entry.FileName);
    return true;
}

// A link inside the share may lead anywhere; what is read must lie in the share once links are followed.
bool TdmEM::ResolvesInsideShare(const std::string& sharedCopy) {
    if (sharedFolderResolved_.empty())
        sharedFolderResolved_ = AddBackslash(platform::ResolvedPath(Settings.SharedFolder));
    const std::string resolved = platform::ResolvedPath(sharedCopy);
    return !resolved.empty() && LiesInside(resolved, sharedFolderResolved_);
}
