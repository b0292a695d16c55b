// The files of a release: what the source folder holds, and which kind of entry each file is.
#include <algorithm>
#include <filesystem>

#include "tools/publish/release.h"

namespace {

namespace fs = std::filesystem;

TReleaseFile Classify(const std::string& sourcePath, const TPublishOptions& options) {
    const size_t slash = sourcePath.find('/');
    if (slash != std::string::npos) {
        const std::string top = sourcePath.substr(0, slash);
        const std::string below = sourcePath.substr(slash + 1);
        if (top == "Tools") return {sourcePath, ukTools, below};
        if (top == options.CustomFolder) return {sourcePath, ukCustom, below};
    }
    return {sourcePath, sourcePath == options.MainExe ? ukProgram : ukDatabase, sourcePath};
}

// Only a file's content can be published, and a backslash in a catalogue name separates folders.
void CheckPublishable(const fs::directory_entry& entry, const std::string& sourcePath) {
    std::error_code error;
    if (!entry.is_regular_file(error))
        throw EPublishError(sourcePath + ": not a regular file (links to folders are not followed)");
    if (sourcePath.find('\\') != std::string::npos)
        throw EPublishError(sourcePath + ": a backslash in a file name would read as a folder separator");
}

const TReleaseFile& FileNamedBy(const std::vector<TReleaseFile>& files, const std::string& option,
                                const std::string& sourcePath) {
    const auto found = std::find_if(files.begin(), files.end(),
                                    [&](const TReleaseFile& file) { return file.SourcePath == sourcePath; });
    if (found == files.end())
        throw EPublishError(option + " names " + sourcePath + ", which the release does not hold");
    return *found;
}

}  // namespace

std::vector<TReleaseFile> FindReleaseFiles(const TPublishOptions& options) {
    std::vector<TReleaseFile> files;
    std::error_code error;
    std::string folder = options.Source;
    for (fs::recursive_directory_iterator entry(options.Source, error), end; !error && entry != end;
         entry.increment(error)) {
        folder = entry->path().parent_path().string();
        if (entry->is_directory(error) && !entry->is_symlink(error)) {
            folder = entry->path().string();  // the next step enters it
            continue;
        }
        const std::string sourcePath = entry->path().lexically_relative(options.Source).generic_string();
        CheckPublishable(*entry, sourcePath);
        files.push_back(Classify(sourcePath, options));
    }
    if (error) throw EPublishError("cannot read the folder " + folder + ": " + error.message());
    std::sort(files.begin(), files.end(),
              [](const TReleaseFile& a, const TReleaseFile& b) { return a.SourcePath < b.SourcePath; });
    return files;
}

void CheckNamedFiles(const std::vector<TReleaseFile>& files, const TPublishOptions& options) {
    for (const std::string& path : options.Required) FileNamedBy(files, "--required", path);
    for (const auto& [path, task] : options.KillTasks) FileNamedBy(files, "--killtask", path);
    for (const auto& [path, folder] : options.Destinations)
        if (path != "*" && FileNamedBy(files, "--destination", path).Kind != ukCustom)
            throw EPublishError("--destination names " + path + ", which is no custom file");
    for (const TPublishRemoval& removal : options.Removals) {
        const auto held = [&](const TReleaseFile& file) {
            return file.Kind == removal.Kind && file.FileName == removal.FileName;
        };
        if (std::any_of(files.begin(), files.end(), held))
            throw EPublishError("--remove " + KindName(removal.Kind) + ":" + removal.FileName +
                                " removes a file that the release holds");
    }
}

std::string KindName(TUpdateKind kind) {
    for (const TCatalogueGroup& group : CatalogueGroups)
        if (group.Kind == kind) return group.Name;
    return {};
}
