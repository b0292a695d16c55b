// Shared-folder client mode: this machine's files brought up to date from the shared folder's "latest.xml".
#include <algorithm>

#include "OVCommon/OVCommon.h"
#include "dEM/dEM.h"
#include "platform/files.h"
#include "platform/stream.h"

namespace {

// True when every line break of the text is a CR LF pair.
template <typename IsLineBreak>
bool OnlyCrLfBreaks(const std::string& text, IsLineBreak isLineBreak) {
    for (auto at = std::find_if(text.cbegin(), text.cend(), isLineBreak); at != text.cend();
         at = std::find_if(at + 2, text.cend(), isLineBreak)) {
        if (*at != '\r' || at + 1 == text.cend() || at[1] != '\n') return false;
    }
    return true;
}

}  // namespace

void TdmEM::RunClient(const std::string& /*sharedFolder*/) {
    std::string text;
    if (LoadSharedCatalogue(text)) {
        LoadXml(Catalogue.get(), text);
        ForEachEntryCandidate(FindUpdateElement(Catalogue.get()),
                              [this](const TXmlDNode* entry, TUpdateKind kind) { ClientEntry(entry, kind); });
        // The copies were made complete one by one; they reach the device together.
        MakeCopiesDurable(ProgramFolder);
    }
    if (Observer) Observer->RunEnded(0, "");
}

bool TdmEM::LoadSharedCatalogue(std::string& text) {
    const std::string path = Settings.SharedFolder + "latest.xml";
    if (!platform::FileExists(path)) return false;
    TFileStream file(path, TFileStream::Mode::OpenRead);
    std::string content(static_cast<size_t>(file.Size()), '\0');
    content.resize(static_cast<size_t>(file.Read(content.data(), static_cast<int64_t>(content.size()))));
    // Read as text lines and joined again, each line ended by CR LF. The breaks are found with a plain scan:
    // find_first_of looks each character up in its set with a library call, which dominated large catalogues.
    const auto isLineBreak = [](char c) { return c == '\r' || c == '\n'; };
    if (OnlyCrLfBreaks(content, isLineBreak)) {
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

void TdmEM::ClientEntry(const TXmlDNode* entry, TUpdateKind kind) {
    TUpdateElementRec record;
    if (!ReadEntryRecord(entry, kind, record)) return;
    record.FileName = EntryPath(ProgramFolder, kind, record.FileName);
    RunProgram(ProgramFolder + Settings.MainExe, "/U", true);
    BringUpToDate(record, &TdmEM::CopyFromShare);
}

bool TdmEM::CopyFromShare(const TUpdateElementRec& entry) {
    platform::ForceDirectories(FolderOf(entry.FileName));
    // Opening the shared copy first names a missing one in the failure; the local file stays until the new
    // content is complete. Only a plain file is copied: a device or pipe would never end.
    TFileStream{entry.Download, TFileStream::Mode::OpenRead};
    if (!platform::IsPlainFile(entry.Download))
        throw EFOpenError("Cannot open file \"" + entry.Download + "\". It is not a plain file.");
    if (!CopyDeferred(entry.Download, entry.FileName))
        throw EFOpenError("Cannot create file \"" + entry.FileName + "\".");
    Tell(TEntryOutcome::Copied, entry.FileName);
    return true;
}
