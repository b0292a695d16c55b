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

// In catalogue order: kinds as the program handles them, files by path.
std::vector<std::string> Report(const std::vector<TPublishedFile>& files, const TPublishOptions& options) {
    std::vector<std::string> lines;
    for (const TCatalogueGroup& group : CatalogueGroups) {
        for (const TPublishedFile& file : files)
            if (file.File.Kind == group.Kind)
                lines.push_back(ReportLine(group.Name, file.File.SourcePath,
                                           Count(static_cast<size_t>(file.Package.Size), "byte") + " -> " +
                                               file.Package.Path + " (" +
                                               Count(static_cast<size_t>(file.Package.DownloadSize), "byte") + ")"));
        for (const TPublishRemoval& removal : options.Removals)
            if (removal.Kind == group.Kind) lines.push_back(ReportLine(group.Name, removal.FileName, "removed"));
    }
    lines.push_back("Published " + Count(files.size(), "file") + " and " + Count(options.Removals.size(), "removal") +
                    " to " + options.Target);
    for (const std::string& path : CataloguePaths(options)) lines.push_back("  catalogue: /" + path);
    return lines;
}

}  // namespace

std::vector<std::string> PublishRelease(const TPublishOptions& options) {
    CheckSourceAndTarget(options.Source, options.Target);
    const std::vector<TReleaseFile> files = FindReleaseFiles(options);
    CheckNamedFiles(files, options);
    TStagedWebRoot webRoot(options.Target);
    std::vector<TPublishedFile> published;
    for (const TReleaseFile& file : files) published.push_back({file, WritePackage(file, options, webRoot.Folder())});
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
    return Report(published, options);
}
