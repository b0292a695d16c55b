// A whole publication, from the source folder to the web root swapped into place.
#include "tools/publish/publish.h"

#include <cstdio>

#include "platform/files.h"
#include "tools/publish/release.h"

namespace {

std::string ReportLine(const char* kind, const std::string& name, const std::string& detail) {
    char line[64];
    std::snprintf(line, sizeof line, "  %-9s ", kind);
    const size_t width = 30;
    return line + name + (name.size() < width ? std::string(width - name.size(), ' ') : " ") + detail;
}

std::string Count(size_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Written(const std::string& path, int64_t size) {
    return path + " (" + Count(static_cast<size_t>(size), "byte") + ")";
}

void ReportFile(const TPublishedFile& file, const char* kind, std::vector<std::string>& lines) {
    lines.push_back(ReportLine(kind, file.File.SourcePath,
                               Count(static_cast<size_t>(file.Package.Size), "byte") + " -> " +
                                   Written(file.Package.Path, file.Package.DownloadSize)));
    for (const TPublishedDelta& delta : file.Deltas)
        lines.push_back(ReportLine("delta", "  from " + delta.BaseSha256.substr(0, 16), Written(delta.Path, delta.Size)));
}

// In catalogue order: kinds as the program handles them, files by path.
std::vector<std::string> Report(const std::vector<TPublishedFile>& files, const TPublishOptions& options) {
    std::vector<std::string> lines;
    for (const TCatalogueGroup& group : CatalogueGroups) {
        for (const TPublishedFile& file : files)
            if (file.File.Kind == group.Kind) ReportFile(file, group.Name, lines);
        for (const TPublishRemoval& removal : options.Removals)
            if (removal.Kind == group.Kind) lines.push_back(ReportLine(group.Name, removal.FileName, "removed"));
    }
    lines.push_back("Published " + Count(files.size(), "file") + " and " + Count(options.Removals.size(), "removal") +
                    " to " + options.Target);
    for (const std::string& path : CataloguePaths(options)) lines.push_back("  catalogue: /" + path);
    if (options.KeptVersions > 0)
        lines.push_back("  history: " + options.HistoryFolder + " (the last " + Count(static_cast<size_t>(options.KeptVersions), "version") +
                        " of each file)");
    return lines;
}

}  // namespace

std::vector<std::string> PublishRelease(const TPublishOptions& options) {
    CheckSourceAndTarget(options.Source, options.Target);
    const std::vector<TReleaseFile> files = FindReleaseFiles(options);
    CheckNamedFiles(files, options);
    TPublishHistory history(options);
    TStagedWebRoot webRoot(options.Target);
    std::vector<TPublishedFile> published;
    for (const TReleaseFile& file : files) {
        const std::string content = ReadReleaseFile(file, options);
        const TPackage package = WritePackage(file, content, options, webRoot.Folder());
        published.push_back({file, package, WriteDeltas(file, content, package, history, options, webRoot.Folder())});
    }
    const std::optional<TReleaseStamp> stamp =
        options.SigningKey.empty() ? std::nullopt : std::optional(NextReleaseStamp(options));
    const TRef<TXmlDDocument> catalogue = BuildCatalogue(published, options, stamp ? &*stamp : nullptr);
    const std::string bytes = CatalogueBytes(catalogue.get(), options);
    for (const std::string& path : CataloguePaths(options)) {
        platform::ForceDirectories(FolderOf(webRoot.Folder() + path));
        if (!platform::ReplaceFileWithBytes(webRoot.Folder() + path, bytes))
            throw EPublishError("cannot write " + webRoot.Folder() + path);
    }
    webRoot.SwapIn();
    history.Commit(files);
    return Report(published, options);
}
