#pragma once
// The releases the windowless benchmarks work on: file contents and the two catalogues (the server's, and the
// "latest.xml" a mirror run leaves in the shared folder). Their zip packages are made by the publisher's code.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "signing/signing.h"

namespace windowless_bench {

// One entry of a catalogue.
struct ReleaseFile {
    std::string fileName;  // the catalogue's filename, also the member name inside a zip package
    std::int64_t size = 0;
    std::uint32_t crc = 0;  // the catalogue's CRC of the content
    std::string download;  // the package URL, or the shared-folder path in "latest.xml"
    std::string sha256;    // of the content, for signed catalogues
    std::vector<TDeltaRef> deltas;  // offered beside the package
};

// Bytes over a 16-letter alphabet, a different sequence for every seed: they deflate to about half, as
// typical data files do.
std::string FileContent(std::uint32_t seed, std::size_t size);
ReleaseFile DescribeFile(const std::string& fileName, const std::string& content, const std::string& download);
// The catalogue text: every file as an entry of the database group. Signed with the keys when given: entries
// carry their SHA-256 and the catalogue a release stamp expiring in a day.
std::string CatalogueText(const std::string& documentElement, const std::vector<ReleaseFile>& files,
                          const TKeyPair* keys = nullptr);

}  // namespace windowless_bench
