// What runs that were killed left behind: the files a mirror makes in the shared folder ahead of their stores, and
// the work folders of runs in the temporary folder. A run removes them at its start; what it cannot remove stays
// for a later run, and nothing of this run depends on it.
#include <algorithm>
#include <set>
#include <string_view>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "dEM/dEM.h"
#include "platform/files.h"
#include "platform/run_lock.h"

namespace {

bool StartsWith(const std::string& text, std::string_view start) { return text.compare(0, start.size(), start) == 0; }

bool IsWorkFolderName(const std::string& name) {
    const std::string_view start = TdmEM::WorkFolderStart;
    return StartsWith(name, start) && name.size() > start.size() &&
           name.find_first_not_of("0123456789", start.size()) == std::string::npos;
}

}  // namespace

// Any mirror run may do this, whatever its shared folder: a folder whose run is alive carries that run's mark.
void TdmEM::RemoveAbandonedWorkFolders() {
    std::string temp;
    try {
        temp = TempFolderPath();
    } catch (const std::exception&) {
        return;  // without a temporary folder there is nothing to remove; the first package says why it fails
    }
    std::vector<platform::FolderEntry> entries;
    if (!platform::ListFolder(temp, entries)) return;
    for (const auto& entry : entries)
        if (entry.isFolder && IsWorkFolderName(entry.name)) platform::RemoveAbandonedFolder(temp + entry.name + "/");
}

// Only the run that holds the shared folder's lock may: another run's files ahead are in use. A file of that name
// that the catalogue names is an entry's and stays.
void TdmEM::RemoveAbandonedAheadFiles(const TXmlDNode* update) {
    if (!OwnsShare) return;
    std::vector<std::string> names;
    if (!platform::ListFolderNames(Settings.SharedFolder, names)) return;
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& name) { return !StartsWith(name, AheadFileStart); }),
                names.end());
    // Most runs find none, and ask the catalogue nothing.
    if (names.empty()) return;
    std::set<std::string> named;
    if (update)
        ForEachEntryCandidate(update, [&](TXmlDNode* candidate, TUpdateKind kind) {
            TUpdateElementRec record;
            if (ReadEntryRecord(candidate, kind, record))
                named.insert(FoldedPath(EntryPath(Settings.SharedFolder, kind, record.FileName)));
        });
    // A folder of such a name is not deleted here.
    for (const std::string& name : names)
        if (!named.count(FoldedPath(Settings.SharedFolder + name))) platform::DeleteFile(Settings.SharedFolder + name);
}

// Marked as in use before anything goes in, so that no other run's removal of abandoned folders takes it. A mark
// that cannot be made in a folder that is still there is no race with such a removal.
bool TdmEM::MarkWorkFolder(const std::string& folder) {
    const std::string mark = folder + platform::kInUseMark;
    workFolderMark_ = std::make_unique<platform::RunLock>(mark, std::chrono::milliseconds(0));
    const platform::RunLockState state = workFolderMark_->State();
    if (state == platform::RunLockState::Unavailable && platform::DirectoryExists(folder))
        throw Exception("Cannot create the file \"" + mark + "\".");
    return state == platform::RunLockState::Held;
}

void TdmEM::RemoveWorkFolder() {
    // The mark first: a file still open cannot be deleted everywhere.
    workFolderMark_.reset();
    workFolder_.reset();
}
