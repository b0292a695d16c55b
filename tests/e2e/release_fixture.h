#pragma once
// A release published on a test's nginx: the package of every file and the catalogue that lists them, served
// both where the product request and where the query request of the mirror look for it.
#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"

namespace testsupport {

// The product request the sandbox's mirror runs make, and the folder of the catalogue that answers it.
inline constexpr const char* kProduct = "Brel";
inline constexpr const char* kVersion = "5.0";
inline constexpr const char* kCode = "abc";
inline constexpr const char* kProductCataloguePath = "orvane/update/product/BREL/version/5.0/code/abc/index.html";
inline constexpr const char* kQueryCataloguePath = "brellium/orvane.php";

// One entry of the catalogue. The stated size and CRC start as those of the content; a test may change them.
struct ReleaseFile {
    std::string group;        // "database", "tools", "program" or "custom"
    std::string fileName;     // as the catalogue names it, '\' between folders
    std::string content;      // the correct file; empty for a removal
    std::string packagePath;  // below the web root; empty for a removal
    int64_t statedSize = 0;   // 0 for a removal
    uint32_t statedCrc = 0;
    std::string extraXml;     // children written as given after the entry's own (its sha256, its delta children)
};

// The catalogue's CRC of some bytes, as "$XXXXXXXX".
std::string CrcText(const std::string& bytes);
// A Windows program image whose version resource states the file version, for a release's program entry.
std::string VersionedProgram(const std::u16string& fileVersion);

class Release {
public:
    // Packages go below "<name>/" in the web root, so releases published one after another keep apart.
    Release(const NginxServer& server, std::string name);

    // The file is its own package.
    ReleaseFile& AddFile(const std::string& group, const std::string& fileName, const std::string& content);
    // A zip package holding the file, under memberFolder (e.g. "x/y/"), and further members beside it.
    ReleaseFile& AddZipped(const std::string& group, const std::string& fileName, const std::string& content,
                           const std::map<std::string, std::string>& otherMembers = {},
                           const std::string& memberFolder = "");
    // An entry of size 0: the file is to be removed.
    ReleaseFile& AddRemoval(const std::string& group, const std::string& fileName);
    // Child nodes written as given: into a group after its entries, into the document element, or after it.
    void AddGroupXml(const std::string& group, const std::string& xml);
    void AddRootXml(const std::string& xml);
    void AddTopLevelXml(const std::string& xml);

    // Writes the catalogue where both requests find it, replacing an earlier release's.
    void Publish() const;
    std::string CatalogueText() const;
    const std::deque<ReleaseFile>& files() const { return files_; }

private:
    ReleaseFile& Add(const std::string& group, const std::string& fileName, const std::string& content,
                     const std::string& packageName);
    std::string EntryXml(const ReleaseFile& file) const;
    std::string GroupXml(const std::string& group) const;

    const NginxServer& server_;
    std::string name_;
    TempDir staging_;
    std::deque<ReleaseFile> files_;  // a deque keeps handed-out references valid
    std::map<std::string, std::string> groupXml_;
    std::string rootXml_;
    std::string topLevelXml_;
};

}  // namespace testsupport
