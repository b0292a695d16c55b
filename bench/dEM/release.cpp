#include "bench/dEM/release.h"

#include <cstdio>

#include "OVCommon/OVCommon.h"

namespace windowless_bench {

namespace {

std::string CrcText(std::uint32_t crc) {
    char text[16];
    std::snprintf(text, sizeof text, "$%08X", crc);
    return text;
}

}  // namespace

std::string FileContent(std::uint32_t seed, std::size_t size) {
    std::uint32_t state = seed * 2654435761u + 1;
    std::string content(size, '\0');
    for (char& c : content) {
        // xorshift32: cheap and good enough to keep the bytes from repeating.
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>('a' + (state & 15));
    }
    return content;
}

ReleaseFile DescribeFile(const std::string& fileName, const std::string& content, const std::string& download) {
    return {fileName, static_cast<std::int64_t>(content.size()), CrcUpdate(0, content.data(), content.size()),
            download, Sha256Hex(content), {}};
}

std::string CatalogueText(const std::string& documentElement, const std::vector<ReleaseFile>& files,
                          const TKeyPair* keys) {
    std::string text = "<" + documentElement + ">\r\n<update>\r\n<database>\r\n";
    for (const ReleaseFile& file : files) {
        text += "  <file><name>" + file.fileName + "</name><filename>" + file.fileName + "</filename><crc>" +
                CrcText(file.crc) + "</crc><size>" + std::to_string(file.size) + "</size><download>" +
                file.download + "</download>" + (keys ? "<sha256>" + file.sha256 + "</sha256>" : "");
        for (const TDeltaRef& delta : file.deltas)
            text += "<delta><basesize>" + std::to_string(delta.BaseSize) + "</basesize><basesha256>" +
                    delta.BaseSha256 + "</basesha256><size>" + std::to_string(delta.Size) + "</size><sha256>" +
                    delta.Sha256 + "</sha256><download>" + delta.Download + "</download></delta>";
        text += "</file>\r\n";
    }
    text += "</database>\r\n</update>\r\n";
    if (keys)
        text += "<release><product>signed</product><version>1</version><code>1</code><serial>1</serial><expires>" +
                UtcTimeText(UtcNow() + 24 * 60 * 60) + "</expires></release>\r\n";
    text += "</" + documentElement + ">\r\n";
    return keys ? SignCatalogueText(text, *keys) : text;
}

}  // namespace windowless_bench
