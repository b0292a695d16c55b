// Differences a catalogue offers beside a package: which one fits the local file, and the file rebuilt from it,
// made ready for the same test as an unpacked package.
#include <algorithm>
#include <charconv>
#include <climits>

#include "OVCommon/OVCommon.h"
#include "catalogue/catalogue.h"
#include "delta/delta.h"
#include "platform/files.h"
#include "signing/signing.h"

namespace {

std::optional<int64_t> Count(const std::optional<std::string>& text) {
    int64_t value = 0;
    if (!text || text->empty()) return std::nullopt;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size() || value < 0) return std::nullopt;
    return value;
}

// Lower-case hex of 32 bytes; anything else is no SHA-256.
std::optional<std::string> Sha256Text(const std::optional<std::string>& text) {
    if (!text || text->size() != 64) return std::nullopt;
    std::string hex = *text;
    for (char& c : hex) {
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
    }
    return hex;
}

std::optional<TDeltaRef> ReadDelta(const TXmlDNode* element) {
    const auto baseSize = Count(ChildText(element, "basesize"));
    const auto baseSha256 = Sha256Text(ChildText(element, "basesha256"));
    const auto size = Count(ChildText(element, "size"));
    const auto download = ChildText(element, "download");
    if (!baseSize || !baseSha256 || !size || *size == 0 || *size > INT32_MAX || !download || download->empty())
        return std::nullopt;
    return TDeltaRef{*baseSize, *baseSha256, static_cast<int32_t>(*size),
                     Sha256Text(ChildText(element, "sha256")).value_or(""), *download};
}

// The fetched difference is the one offered: a damaged or substituted one is never applied.
void CheckFetchedDelta(const TDeltaRef& delta, const std::string& deltaFile, bool verifying) {
    if (verifying && delta.Sha256.empty())
        throw EDeltaError("the difference has no SHA-256, so the catalogue's signature does not cover it");
    platform::File file;
    std::int64_t size = -1;
    if (!file.OpenRead(deltaFile, size)) throw EDeltaError("Cannot open file \"" + deltaFile + "\".");
    if (size != delta.Size)
        throw EDeltaError("the difference has " + std::to_string(size) + " bytes, not the " +
                          std::to_string(delta.Size) + " offered");
    if (!delta.Sha256.empty() && *ReadFileDigest(file).Sha256 != delta.Sha256)
        throw EDeltaError("the difference's SHA-256 is not the catalogue's");
}

}  // namespace

std::vector<TDeltaRef> ReadDeltas(const TXmlDNode* entry) {
    std::vector<TDeltaRef> deltas;
    for (int i = 0; i < entry->ChildNodes().Count(); ++i) {
        const TXmlDNode* child = entry->ChildNodes().Item(i);
        if (child->NodeName() != "delta") continue;
        if (auto delta = ReadDelta(child)) deltas.push_back(std::move(*delta));
    }
    return deltas;
}

std::optional<TDeltaRef> DeltaForLocalFile(const std::vector<TDeltaRef>& deltas, const std::string& localFile) {
    platform::File file;
    std::int64_t size = -1;
    if (deltas.empty() || !file.OpenRead(localFile, size)) return std::nullopt;
    const auto sameSize = [size](const TDeltaRef& delta) { return delta.BaseSize == size; };
    if (std::none_of(deltas.begin(), deltas.end(), sameSize)) return std::nullopt;
    const std::string sha256 = *ReadFileDigest(file).Sha256;
    for (const TDeltaRef& delta : deltas)
        if (sameSize(delta) && delta.BaseSha256 == sha256) return delta;
    return std::nullopt;
}

TPreparedPackage RebuildFromDelta(const TDeltaRef& delta, const std::string& baseFile, const std::string& deltaFile,
                                  const std::string& candidateFile, int32_t entrySize, bool verifying) {
    CheckFetchedDelta(delta, deltaFile, verifying);
    // A base that changed since it was chosen rebuilds a wrong file, which fails the candidate's test.
    uint32_t crc = 0;
    std::optional<TSha256> sha256;
    if (verifying) sha256.emplace();
    try {
        ApplyDelta(baseFile, deltaFile, candidateFile, entrySize, [&](const char* bytes, std::size_t length) {
            crc = CrcUpdate(crc, bytes, length);
            if (sha256) sha256->Update(bytes, length);
        });
    } catch (...) {
        platform::DeleteFile(candidateFile);
        throw;
    }
    TPreparedPackage package;
    package.Candidate = candidateFile;
    package.CandidateCrc = crc;
    if (sha256) package.CandidateSha256 = sha256->HexDigest();
    return package;
}

std::string RebuiltFileFault(TCandidateCheck check) {
    const char* what = check == TCandidateCheck::SizeDiffers  ? "size"
                       : check == TCandidateCheck::CrcDiffers ? "CRC-32"
                                                              : "SHA-256";
    return std::string("the rebuilt file has the wrong ") + what;
}
