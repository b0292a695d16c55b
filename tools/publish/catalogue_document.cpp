// The catalogue of a release, built with the program's own XML tree and in the layout the program reads.
#include <cstdio>

#include "tools/publish/release.h"

namespace {

TXmlDElement* AddElement(TXmlDNode* parent, std::string_view name) {
    auto* element = new TXmlDElement(name);
    AppendChild(parent, element);
    return element;
}

void AddField(TXmlDNode* parent, std::string_view name, const std::string& text) {
    AddElement(parent, name)->SetText(text);
}

// Containers hold one child per line, so that a person can read the catalogue; the program's loader drops
// such blank text.
void AddLineBreak(TXmlDNode* parent, int depth) {
    AppendChild(parent, new TXmlDText("\n" + std::string(2 * static_cast<size_t>(depth), ' ')));
}

TXmlDElement* AddOnLine(TXmlDNode* parent, std::string_view name, int depth) {
    AddLineBreak(parent, depth);
    return AddElement(parent, name);
}

// Catalogue names separate folders with '\', as every client reads them.
std::string CatalogueName(std::string fileName) {
    for (char& c : fileName)
        if (c == '/') c = '\\';
    return fileName;
}

// The name the wizard lists: the file's path in the source folder.
std::string DisplayName(TUpdateKind kind, const std::string& fileName, const TPublishOptions& options) {
    if (kind == ukTools) return "Tools/" + fileName;
    if (kind == ukCustom) return options.CustomFolder + "/" + fileName;
    return fileName;
}

std::string CrcText(uint32_t crc) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", crc);
    return text;
}

// The program sends a URL as it is written, so every byte that may not stand in a request line is escaped.
std::string UrlPath(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || IsUrlUnreserved(c)) {
            escaped += c;
        } else {
            escaped += {'%', kHex[byte >> 4], kHex[byte & 15]};
        }
    }
    return escaped;
}

const std::string* DestinationOf(const std::string& sourcePath, const TPublishOptions& options) {
    for (const std::string& key : {sourcePath, std::string("*")})
        if (const auto found = options.Destinations.find(key); found != options.Destinations.end())
            return &found->second;
    return nullptr;
}

void AddWizardFields(TXmlDElement* entry, const TReleaseFile& file, const TPublishOptions& options) {
    if (options.Required.contains(file.SourcePath)) AddElement(entry, "required");
    if (const std::string* folder = DestinationOf(file.SourcePath, options); folder && file.Kind == ukCustom)
        AddField(entry, "destination", *folder);
    if (const auto task = options.KillTasks.find(file.SourcePath); task != options.KillTasks.end()) {
        TXmlDElement* killTask = AddElement(entry, "killtask");
        AddField(killTask, "name", task->second.Name);
        AddField(killTask, "filename", task->second.Program);
        if (task->second.Ask) AddField(killTask, "ask", "Y");
    }
}

TXmlDElement* AddEntry(TXmlDNode* group, TUpdateKind kind, const std::string& fileName,
                       const TPublishOptions& options) {
    TXmlDElement* entry = AddOnLine(group, "file", 3);
    AddField(entry, "name", DisplayName(kind, fileName, options));
    AddField(entry, "filename", CatalogueName(fileName));
    return entry;
}

void AddFileEntry(TXmlDNode* group, const TPublishedFile& published, const TPublishOptions& options) {
    const TPackage& package = published.Package;
    TXmlDElement* entry = AddEntry(group, published.File.Kind, published.File.FileName, options);
    AddField(entry, "crc", CrcText(package.Crc));
    AddField(entry, "size", std::to_string(package.Size));
    AddField(entry, "downloadsize", std::to_string(package.DownloadSize));
    AddField(entry, "download", options.BaseUrl + UrlPath(package.Path));
    if (!options.SigningKey.empty()) AddField(entry, "sha256", package.Sha256);
    AddWizardFields(entry, published.File, options);
    // After the entry's other children: programs that know nothing of differences read the entry as before.
    for (const TPublishedDelta& delta : published.Deltas) {
        TXmlDElement* element = AddElement(entry, "delta");
        AddField(element, "basesize", std::to_string(delta.BaseSize));
        AddField(element, "basesha256", delta.BaseSha256);
        AddField(element, "size", std::to_string(delta.Size));
        AddField(element, "sha256", delta.Sha256);
        AddField(element, "download", options.BaseUrl + UrlPath(delta.Path));
    }
}

void AddGroup(TXmlDNode* update, const TCatalogueGroup& group, const std::vector<TPublishedFile>& files,
              const TPublishOptions& options) {
    TXmlDElement* element = nullptr;
    const auto groupElement = [&] { return element ? element : element = AddOnLine(update, group.Name, 2); };
    for (const TPublishedFile& published : files)
        if (published.File.Kind == group.Kind) AddFileEntry(groupElement(), published, options);
    for (const TPublishRemoval& removal : options.Removals) {
        if (removal.Kind != group.Kind) continue;
        AddField(AddEntry(groupElement(), removal.Kind, removal.FileName, options), "size", "0");
    }
    if (element) AddLineBreak(element, 2);
}

void AddRunProgram(TXmlDNode* run, std::string_view name, const TPublishRunProgram& program) {
    if (program.Program.empty()) return;
    TXmlDElement* element = AddOnLine(run, name, 1);
    AddField(element, "filename", program.Program);
    if (!program.Parameters.empty()) AddField(element, "parameters", program.Parameters);
    if (program.NoWait) AddElement(element, "nowait");
}

std::string RequestPath(const std::string& url) {
    const size_t start = url.find('/', url.find("://") + 3);
    return url.substr(start + 1, url.find('?') - start - 1);
}

}  // namespace

bool IsUrlUnreserved(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("-._~").find(c) != std::string_view::npos;
}

TRef<TXmlDDocument> BuildCatalogue(const std::vector<TPublishedFile>& files, const TPublishOptions& options,
                                   const TReleaseStamp* stamp) {
    TRef<TXmlDDocument> document(new TXmlDDocument());
    // The program looks for `run` among the top-level elements only; as the document element, holding `update`
    // beside the programs, it keeps the catalogue one well-formed document.
    const bool runsPrograms = !options.PreInstall.Program.empty() || !options.PostInstall.Program.empty();
    TXmlDElement* root = AddElement(document.get(), runsPrograms ? "run" : "catalogue");
    TXmlDElement* update = AddOnLine(root, "update", 1);
    for (const TCatalogueGroup& group : CatalogueGroups) AddGroup(update, group, files, options);
    AddLineBreak(update, 1);
    AddRunProgram(root, "preinstall", options.PreInstall);
    AddRunProgram(root, "postinstall", options.PostInstall);
    if (stamp) {
        AddLineBreak(root, 1);
        AddReleaseStamp(root, *stamp);
    }
    AddLineBreak(root, 0);
    return document;
}

// The paths of the URLs the program itself forms, whatever host they name.
std::string QueryCataloguePath() { return RequestPath(QueryRequestUrl("localhost", "")); }

std::vector<std::string> CataloguePaths(const TPublishOptions& options) {
    std::vector<std::string> paths{QueryCataloguePath()};
    if (!options.Product.empty())
        paths.push_back(RequestPath(ProductRequestUrl("localhost", options.Product, options.Version, options.Code)) +
                        "index.html");
    return paths;
}
