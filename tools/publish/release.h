#pragma once
// The steps of a publication: the files found in the source folder, their packages, the catalogue that lists
// them, and the web root they are written into.
#include <cstdint>
#include <string>
#include <vector>

#include "signing/signing.h"
#include "tools/publish/publish.h"
#include "xml/dom.h"

struct TReleaseFile {
    std::string SourcePath;  // below the source folder, '/' between folders: how the options name the file
    TUpdateKind Kind = ukDatabase;
    std::string FileName;  // below the kind's folder, '/' between folders
};
// Every file below the source folder, ordered by SourcePath byte by byte, whatever order the file system gives.
std::vector<TReleaseFile> FindReleaseFiles(const TPublishOptions& options);
// Raises when an option names a file the release does not have, or gives it something its kind cannot carry.
void CheckNamedFiles(const std::vector<TReleaseFile>& files, const TPublishOptions& options);
// The catalogue's name of a kind ("database", "tools", ...).
std::string KindName(TUpdateKind kind);

struct TPackage {
    std::string Path;  // below the web root, '/' between folders
    int32_t Size = 0;
    uint32_t Crc = 0;
    int64_t DownloadSize = 0;
    std::string Sha256;  // of the file as installed; in the catalogue only when it is signed
};
// The file's content; raises when it cannot be read or is empty or too large for a catalogue to describe.
std::string ReadReleaseFile(const TReleaseFile& file, const TPublishOptions& options);
// Writes the file's package below the web root: a zip archive, or the file itself when it is to go plain.
TPackage WritePackage(const TReleaseFile& file, const std::string& content, const TPublishOptions& options,
                      const std::string& webRoot);
// A zip archive holding the content deflated as its one member, with fixed time stamps, so the same content
// always gives the same bytes.
std::string ZipArchive(const std::string& memberName, const std::string& content);

// A difference that rebuilds the file from a version published before.
struct TPublishedDelta {
    int64_t BaseSize = 0;
    std::string BaseSha256;
    std::string Path;  // below the web root
    int64_t Size = 0;
    std::string Sha256;
};

struct TPublishedFile {
    TReleaseFile File;
    TPackage Package;
    std::vector<TPublishedDelta> Deltas;
};

// A smaller file costs little to fetch whole, and its difference would save next to nothing.
constexpr int64_t kSmallestFileWithDeltas = 64 * 1024;

// A published version of a file, kept in the history.
struct THistoryVersion {
    std::string Path;
    int64_t Size = 0;
    std::string Sha256;
};

// The last versions the publisher published of each file, kept between runs to make differences from. A
// publication stages the new versions; they join the history only once the release is live, and then the oldest
// beyond the limit, and every file the release no longer holds, go.
class TPublishHistory {
public:
    // Raises unless the folder is missing, empty or a history kept before, and lies apart from source and target.
    explicit TPublishHistory(const TPublishOptions& options);
    ~TPublishHistory();
    TPublishHistory(const TPublishHistory&) = delete;
    TPublishHistory& operator=(const TPublishHistory&) = delete;

    bool Keeps() const { return kept_ > 0; }
    // Oldest first.
    std::vector<THistoryVersion> Versions(const TReleaseFile& file) const;
    // Puts the content aside as the file's next version; returns where it can be read.
    std::string Stage(const TReleaseFile& file, const std::string& content, const std::string& sha256);
    // The release went live holding these files.
    void Commit(const std::vector<TReleaseFile>& files);

private:
    void Create();
    std::string FileFolder(const TReleaseFile& file) const;
    void Tidy(const std::string& fileFolder) const;
    void KeepStaged(const std::string& fileFolder, const std::string& sha256) const;

    std::string folder_;  // with a trailing '/'
    int kept_ = 0;
    bool created_ = false;  // by this publication, which has not gone live yet
    std::vector<std::pair<std::string, std::string>> staged_;  // the file's folder, the SHA-256 of its new version
};
// TARGET.history, beside the target: it survives the swap of the web root and is never served.
std::string DefaultHistoryFolder(const std::string& target);
// True when `inner` is `outer` or lies below it, links resolved.
bool PathWithin(const std::string& inner, const std::string& outer);

// The differences of a changed file from each kept version into the web root, its new version staged in the
// history. None for an unchanged or small file, and none that would cost as much as the package itself.
std::vector<TPublishedDelta> WriteDeltas(const TReleaseFile& file, const std::string& content,
                                         const TPackage& package, TPublishHistory& history,
                                         const TPublishOptions& options, const std::string& webRoot);
// With a signing key, entries carry `sha256` and the document element the release stamp.
TRef<TXmlDDocument> BuildCatalogue(const std::vector<TPublishedFile>& files, const TPublishOptions& options,
                                   const TReleaseStamp* stamp = nullptr);
// The catalogue's bytes as served: signed with the options' key when there is one.
std::string CatalogueBytes(const TXmlDDocument* catalogue, const TPublishOptions& options);
// The stamp of a signed publication: the options' serial, else one more than the target's last; the options'
// expiry, else a week from now.
TReleaseStamp NextReleaseStamp(const TPublishOptions& options);
// A character that stands for itself anywhere in a URL.
bool IsUrlUnreserved(char c);
// Where below the web root the catalogue answers the query request, whatever its query text.
std::string QueryCataloguePath();
// Where below the web root the catalogue answers each request the options call for.
std::vector<std::string> CataloguePaths(const TPublishOptions& options);

// A fresh folder beside the target that becomes the target in one step. Until then, and if that fails, the
// target stays as it was; the folder, or after the swap the old web root, is removed when this object goes.
class TStagedWebRoot {
public:
    explicit TStagedWebRoot(const std::string& target);
    ~TStagedWebRoot();
    TStagedWebRoot(const TStagedWebRoot&) = delete;
    TStagedWebRoot& operator=(const TStagedWebRoot&) = delete;

    // With a trailing '/'.
    const std::string& Folder() const { return folder_; }
    void SwapIn();

private:
    std::string target_;
    std::string folder_;
};
// Raises unless the source is a readable folder, and the target neither lies inside it nor holds it.
void CheckSourceAndTarget(const std::string& source, const std::string& target);
