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
    std::string Sha256;  // of the file as installed
};
// Writes the file's package below the web root: a zip archive, or the file itself when it is to go plain.
TPackage WritePackage(const TReleaseFile& file, const TPublishOptions& options, const std::string& webRoot);
// A zip archive holding the content deflated as its one member, with fixed time stamps, so the same content
// always gives the same bytes.
std::string ZipArchive(const std::string& memberName, const std::string& content);

struct TPublishedFile {
    TReleaseFile File;
    TPackage Package;
};
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
