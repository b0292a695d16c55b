// The differences a release offers beside a changed file's package: one from each version the history keeps.
#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "signing/signing.h"
#include "tools/publish/release.h"

namespace {

// Named by both versions, so that no two differences of a release, nor of two releases, share a path.
std::string DeltaPath(const TReleaseFile& file, const std::string& baseSha256, const std::string& newSha256) {
    return "deltas/" + KindName(file.Kind) + "/" + file.FileName + "." + baseSha256.substr(0, 16) + "." +
           newSha256.substr(0, 16) + ".zst";
}

TPublishedDelta WriteDelta(const TReleaseFile& file, const THistoryVersion& base, const std::string& newVersion,
                           const TPackage& package, const TPublishOptions& options, const std::string& webRoot) {
    TPublishedDelta delta{base.Size, base.Sha256, DeltaPath(file, base.Sha256, package.Sha256), 0, {}};
    const std::string path = webRoot + delta.Path;
    if (!platform::ForceDirectories(FolderOf(path)))
        throw EPublishError("cannot create the folder of " + path + ": " + std::strerror(errno));
    try {
        MakeDelta(base.Path, newVersion, path, options.DeltaLevel);
    } catch (const EDeltaError& failure) {
        throw EPublishError(file.SourcePath + ": cannot make its difference from " + base.Path + ": " +
                            failure.what());
    }
    std::string bytes;
    if (!platform::ReadWholeFile(path, bytes)) throw EPublishError("cannot read " + path + ": " + std::strerror(errno));
    delta.Size = static_cast<int64_t>(bytes.size());
    delta.Sha256 = Sha256Hex(bytes);
    return delta;
}

}  // namespace

std::vector<TPublishedDelta> WriteDeltas(const TReleaseFile& file, const std::string& content,
                                         const TPackage& package, TPublishHistory& history,
                                         const TPublishOptions& options, const std::string& webRoot) {
    std::vector<TPublishedDelta> deltas;
    if (!history.Keeps()) return deltas;
    const std::vector<THistoryVersion> kept = history.Versions(file);
    if (!kept.empty() && kept.back().Sha256 == package.Sha256) return deltas;  // unchanged
    const std::string newVersion = history.Stage(file, content, package.Sha256);
    if (static_cast<int64_t>(content.size()) < kSmallestFileWithDeltas) return deltas;
    for (const THistoryVersion& base : kept) {
        if (base.Sha256 == package.Sha256) continue;  // went back to this version: its holders need nothing
        TPublishedDelta delta = WriteDelta(file, base, newVersion, package, options, webRoot);
        // Fetching it would cost as much as the package: the programs are better off with the package.
        if (delta.Size < package.DownloadSize)
            deltas.push_back(delta);
        else if (!platform::DeleteFile(webRoot + delta.Path))
            throw EPublishError("cannot remove " + webRoot + delta.Path + ": " + std::strerror(errno));
    }
    return deltas;
}
