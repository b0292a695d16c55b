// Reading a loaded catalogue: its elements, its groups, the entries and the paths they name.
#include "OVCommon/OVCommon.h"
#include "catalogue/catalogue.h"
#include "platform/environment.h"
#include "platform/files.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Catalogues are written with '\' separators; the file system may know another one. From: where the catalogue's
// part of the path starts.
std::string LocalSeparators(std::string path, size_t from = 0) {
    for (size_t i = from; i < path.size(); ++i)
        if (path[i] == '\\') path[i] = platform::kPathDelimiter;
    return path;
}

int32_t EntryNumber(const TXmlDNode* entry, std::string_view name) {
    const auto text = ChildText(entry, name);
    if (!text) return 0;
    const auto value = TryTextToInt(*text);
    if (!value) throw EConvertError("'" + *text + "' is not a valid integer value");
    return *value;
}

}  // namespace

void LoadCatalogue(TXmlDDocument* catalogue, std::string_view text) {
    LoadXml(catalogue, text);
    if (catalogue->EndedInsideElement)
        throw ECatalogueCutShort("The catalogue ends before its elements are closed; it was cut short.");
}

bool IsCutShortCatalogue(std::string_view text) {
    const TRef<TXmlDDocument> probe(new TXmlDDocument());
    try {
        LoadXml(probe.get(), text);
    } catch (const std::exception&) {
        return false;  // whoever loads it for real meets the error
    }
    return probe->EndedInsideElement;
}

TXmlDNode* FindErrorElement(const TXmlDDocument* catalogue) {
    const TXmlDElement* root = DocumentElement(catalogue);
    return root ? FindChild(root, "error") : nullptr;
}

TXmlDNode* FindUpdateElement(const TXmlDDocument* catalogue) {
    const TXmlDElement* root = DocumentElement(catalogue);
    return root ? FindChild(root, "update") : nullptr;
}

TXmlDNode* FindRunElement(const TXmlDDocument* catalogue) { return FindChild(catalogue, "run"); }

void ForEachGroup(const TXmlDNode* update, const std::function<void(TXmlDNode* group, TUpdateKind kind)>& visit) {
    if (!update) return;
    for (const TCatalogueGroup& group : CatalogueGroups)
        if (TXmlDNode* element = FindChild(update, group.Name)) visit(element, group.Kind);
}

void ForEachEntryCandidate(const TXmlDNode* update,
                           const std::function<void(TXmlDNode* candidate, TUpdateKind kind)>& visit) {
    ForEachGroup(update, [&](TXmlDNode* group, TUpdateKind kind) {
        for (int i = 0; i < group->ChildNodes().Count(); ++i) visit(group->ChildNodes().Item(i), kind);
    });
}

std::optional<std::string> ChildText(const TXmlDNode* node, std::string_view name) {
    const TXmlDNode* child = FindChild(node, name);
    if (!child) return std::nullopt;
    return child->GetText();
}

bool IsSafeEntryFileName(const std::string& fileName) {
    if (!fileName.empty() && IsSeparator(fileName.front())) return false;
    // A drive letter makes the name absolute where drives exist.
    if (fileName.size() >= 2 && fileName[1] == ':') return false;
    std::string_view segment;
    size_t start = 0;
    while (start <= fileName.size()) {
        size_t end = start;
        while (end < fileName.size() && !IsSeparator(fileName[end])) ++end;
        segment = std::string_view(fileName).substr(start, end - start);
        if (segment == "..") return false;
        start = end + 1;
    }
    // A name whose last segment is empty or "." names a folder, not a file.
    return !segment.empty() && segment != ".";
}

std::string EntryPath(const std::string& folder, TUpdateKind kind, const std::string& fileName) {
    // Built in place: every entry of a run comes here, and a chain of temporaries cost more than the path itself.
    std::string path;
    path.reserve(folder.size() + 6 + fileName.size());
    path += folder;
    if (kind == ukTools) (path += "Tools") += platform::kPathDelimiter;
    const size_t start = path.size();
    path += fileName;
    return LocalSeparators(std::move(path), start);
}

std::string FolderOf(const std::string& path) {
    const size_t last = path.find_last_of("/\\");
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

std::string FileNamePart(const std::string& path) {
    const size_t last = path.find_last_of("/\\");
    return last == std::string::npos ? path : path.substr(last + 1);
}

bool ReadEntryRecord(const TXmlDNode* entry, TUpdateKind kind, TUpdateElementRec& record) {
    // The first child of each name counts, as FindChild would find it; one pass over the children finds every
    // field, where a search per field would walk them seven times.
    enum Field { kName, kFileName, kCrc, kDownload, kSize, kAction, kDownloadSize, kSha256, kFieldCount };
    static constexpr std::string_view kFieldNames[kFieldCount] = {
        "name", "filename", "crc", "download", "size", "action", "downloadsize", "sha256"};
    const TXmlDNode* fields[kFieldCount] = {};
    for (const TXmlDNode* child = entry->FirstChild(); child; child = child->NextSibling()) {
        const std::string_view name = child->NodeName();
        for (int field = 0; field < kFieldCount; ++field) {
            if (name == kFieldNames[field]) {
                if (!fields[field]) fields[field] = child;
                break;
            }
        }
    }
    if (!fields[kName] || !fields[kFileName]) return false;
    std::string fileName = fields[kFileName]->GetText();
    if (!IsSafeEntryFileName(fileName)) return false;
    const auto text = [&](Field field) { return fields[field] ? fields[field]->GetText() : std::string(); };
    // A size that is there but no number must not read as 0, which would delete the file everywhere.
    const std::optional<int32_t> size = fields[kSize] ? TryTextToInt(text(kSize)) : 0;
    if (!size) return false;
    record = TUpdateElementRec{};
    record.FileName = std::move(fileName);
    record.Crc = TextToInt(text(kCrc), 0);
    record.Download = text(kDownload);
    record.Size = *size;
    record.Action = text(kAction);
    record.Kind = kind;
    record.DownloadSize = TextToInt(text(kDownloadSize), 0);
    record.Sha256 = text(kSha256);
    return true;
}

TBuiltEntry BuildUpdateElement(const TXmlDNode* entry, TUpdateKind kind, const std::string& programFolder,
                               const TKillTaskHook& killTask) {
    const auto name = ChildText(entry, "name");
    const auto fileName = name ? ChildText(entry, "filename") : std::nullopt;
    if (!fileName || !IsSafeEntryFileName(*fileName)) return {};
    auto element = std::make_unique<TUpdateElement>();
    element->Name = *name;
    element->FileName = *fileName;
    element->Crc = EntryNumber(entry, "crc");
    element->Download = ChildText(entry, "download").value_or("");
    element->Size = EntryNumber(entry, "size");
    element->DownloadSize = EntryNumber(entry, "downloadsize");
    element->Action = ChildText(entry, "action").value_or("");
    element->Destination = ChildText(entry, "destination").value_or("");
    element->Sha256 = ChildText(entry, "sha256").value_or("");
    element->Deltas = ReadDeltas(entry);
    const std::string folder =
        kind == ukCustom ? ResolveDestinationFolder(element->Destination, programFolder) : programFolder;
    element->FileName = EntryPath(folder, kind, element->FileName);
    TBuiltEntry built;
    built.Required = FindChild(entry, "required") != nullptr;
    if (const TXmlDNode* kill = FindChild(entry, "killtask"); kill && killTask) killTask(element->Name, kill);
    element->Kind = kind;
    built.Element = std::move(element);
    return built;
}

std::string ResolveDestinationFolder(const std::string& destination, const std::string& programFolder) {
    if (destination.empty()) return programFolder;
    const std::string expanded = LocalSeparators(platform::ExpandEnvironmentStrings(destination));
    // The program folder stands in for the current folder of a relative destination; the process's own current
    // folder is left alone, since other threads may rely on it. A network path keeps its form.
    const std::string folder =
        AbsoluteFolder(platform::IsRelativePath(expanded) ? AddBackslash(programFolder) + expanded : expanded);
    if (!platform::ForceDirectories(folder))
        throw EInOutError("Cannot create the folder \"" + folder + "\": " + platform::LastFileError());
    return folder;
}
