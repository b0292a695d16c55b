// The windowless modes of a verifying installation: catalogues accepted only when signed, current and not
// older than the last one; files accepted only with the SHA-256 of their signed entry. The shared folder is not
// trusted: the client checks the server's signed catalogue that the mirror stored there.
#include <string_view>

#include "OVCommon/OVCommon.h"
#include "dEM/dEM.h"
#include "platform/files.h"
#include "platform/stream.h"

namespace {

const std::string kSignedCatalogueName = "catalogue.signed.xml";

}  // namespace

void TdmEM::AcceptCatalogue(const std::string& text, const TXmlDDocument* loaded, const std::string& stopReason) {
    if (!verifier_.Active()) return;
    try {
        verifier_.Accept(text, loaded);
    } catch (const ESignatureError& failure) {
        try {
            AppendToRunLog(stopReason + failure.Message());
        } catch (const std::exception&) {
            // The stop line below still says why.
        }
        Stop(ExitTransferFailed, stopReason + failure.Message());
    }
}

std::optional<std::string> TdmEM::ExpectedSha256(const TUpdateElementRec& entry) const {
    return verifier_.Active() ? std::optional(entry.Sha256) : std::nullopt;
}

// Clients that verify trust this copy, not "latest.xml"; one that does not verify never reads it.
void TdmEM::StoreSignedCatalogue() {
    if (fetchedCatalogue_.rfind("<signature") == std::string::npos) return;
    const std::string path = Settings.SharedFolder + kSignedCatalogueName;
    if (!platform::ReplaceFileWithBytes(path, fetchedCatalogue_))
        throw EFOpenError("Cannot create file \"" + path + "\".");
}

void TdmEM::LoadSignedShareCatalogue() {
    const std::string path = Settings.SharedFolder + kSignedCatalogueName;
    const std::string refused = "the shared folder's signed catalogue " + path + " is refused, nothing changed: ";
    std::string text;
    if (!platform::ReadWholeFile(path, text)) Stop(ExitTransferFailed, refused + "it cannot be read");
    const TRef<TXmlDDocument> signedCatalogue(new TXmlDDocument());
    try {
        LoadCatalogue(signedCatalogue.get(), text);
    } catch (const std::exception& failure) {
        Stop(ExitTransferFailed, refused + failure.what());
    }
    AcceptCatalogue(text, signedCatalogue.get(), refused);
    ForEachEntryCandidate(FindUpdateElement(signedCatalogue.get()), [&](const TXmlDNode* entry, TUpdateKind kind) {
        if (TUpdateElementRec record; ReadEntryRecord(entry, kind, record))
            signedEntries_.emplace(std::pair(kind, record.FileName), std::move(record));
    });
}

bool TdmEM::ApplySignedEntry(TUpdateElementRec& record) const {
    const auto found = signedEntries_.find({record.Kind, record.FileName});
    if (found == signedEntries_.end()) {
        record.Sha256.clear();
        return record.Size != 0;
    }
    record.Size = found->second.Size;
    record.Crc = found->second.Crc;
    record.Sha256 = found->second.Sha256;
    return true;
}

bool TdmEM::CopyVerified(const TUpdateElementRec& entry) {
    platform::File source;
    if (!source.OpenRead(entry.Download)) return false;
    bool copied = false, matches = false;
    const bool written = platform::ReplaceFile(
        entry.FileName,
        [&](platform::File& output) {
            TSha256 hash;
            copied = platform::ForEachBlock(source, [&](std::string_view block) {
                hash.Update(block.data(), block.size());
                return output.Write(block);
            });
            matches = copied && !entry.Sha256.empty() && hash.HexDigest() == entry.Sha256;
            return matches;
        },
        platform::Durability::Deferred);
    if (copied && !matches)
        throw EFOpenError("The shared copy \"" + entry.Download + "\" does not have the SHA-256 of its signed entry" +
                          (entry.Sha256.empty() ? " (it has none)" : "") + "; \"" + entry.FileName + "\" stays.");
    return NoteDeferred(written, entry.FileName);
}
