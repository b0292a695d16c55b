// The windowless modes of a verifying installation: catalogues accepted only when signed for this product line,
// current and not older than the last one; files accepted only with the SHA-256 of their signed entry. The shared
// folder is not trusted: the client walks the server's signed catalogue that the mirror stored there, and a
// refused entry is named, not passed over in silence.
#include <string_view>

#include "OVCommon/OVCommon.h"
#include "dEM/dEM.h"
#include "platform/files.h"
#include "platform/stream.h"

namespace {

const std::string kSignedCatalogueName = "catalogue.signed.xml";
// Far above any real catalogue; a share writer cannot make a client read gigabytes.
constexpr std::int64_t kSignedCatalogueLimit = std::int64_t{64} << 20;

std::string Names(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

}  // namespace

void TdmEM::AcceptCatalogue(const std::string& text, const TProductLine& request, TXmlDDocument* into,
                            const std::string& stopReason) {
    try {
        verifier_.Accept(text, request, into);
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

void TdmEM::Refuse(const std::string& path, const std::string& reason) {
    notUpToDate_.push_back(path);
    Tell(TEntryOutcome::Refused, path, reason);
}

void TdmEM::EndRun(const std::string& notUpToDate) {
    if (!notUpToDate_.empty())
        Stop(ExitRefusedEntries,
             notUpToDate + " (" + std::to_string(notUpToDate_.size()) + "): " + Names(notUpToDate_));
    if (Observer) Observer->RunEnded(0, "");
}

// Clients that verify trust this copy, not "latest.xml"; one that does not verify never reads it.
void TdmEM::StoreSignedCatalogue() {
    if (fetchedCatalogue_.rfind("<signature") == std::string::npos) return;
    const std::string path = Settings.SharedFolder + kSignedCatalogueName;
    if (!platform::ReplaceFileWithBytes(path, fetchedCatalogue_))
        throw EFOpenError("Cannot create file \"" + path + "\".");
}

std::string TdmEM::ReadSignedShareCatalogue(const std::string& refused) {
    const std::string path = Settings.SharedFolder + kSignedCatalogueName;
    platform::File file;
    std::int64_t size = -1;
    std::string text;
    switch (platform::OpenRegularFile(file, path, size)) {
        case platform::RegularOpen::Opened: break;
        case platform::RegularOpen::NotRegular: Stop(ExitTransferFailed, refused + "it is not a regular file");
        default: Stop(ExitTransferFailed, refused + "it cannot be read");
    }
    if (size > kSignedCatalogueLimit) Stop(ExitTransferFailed, refused + "it is larger than 64 MiB");
    const bool read = platform::ForEachBlock(file, [&](std::string_view block) {
        text.append(block);
        return static_cast<std::int64_t>(text.size()) <= kSignedCatalogueLimit;
    });
    if (!read) Stop(ExitTransferFailed, refused + "it cannot be read whole");
    return text;
}

std::vector<TUpdateElementRec> TdmEM::SignedShareEntries() {
    const std::string refused = "the shared folder's signed catalogue " + Settings.SharedFolder +
                                kSignedCatalogueName + " is refused, nothing changed: ";
    const std::string text = ReadSignedShareCatalogue(refused);
    const TRef<TXmlDDocument> signedCatalogue(new TXmlDDocument());
    AcceptCatalogue(text, {Settings.Product, Settings.Version, Settings.Code}, signedCatalogue.get(), refused);
    // The copies lie where the mirror stores them; "latest.xml", which any share writer can change, is not read.
    std::vector<TUpdateElementRec> entries;
    ForEachEntryCandidate(FindUpdateElement(signedCatalogue.get()), [&](const TXmlDNode* entry, TUpdateKind kind) {
        TUpdateElementRec record;
        if (!ReadEntryRecord(entry, kind, record)) return;
        record.Download = EntryPath(Settings.SharedFolder, kind, record.FileName);
        record.FileName = EntryPath(ProgramFolder, kind, record.FileName);
        entries.push_back(std::move(record));
    });
    return entries;
}

std::string TdmEM::SignedCopyFault(const TUpdateElementRec& entry,
                                   const std::function<bool(std::string_view block)>& consume) {
    platform::File source;
    std::int64_t size = -1;
    if (platform::OpenRegularFile(source, entry.Download, size) != platform::RegularOpen::Opened)
        return "is not a regular file that can be read";
    if (size != entry.Size)
        return "has " + std::to_string(size) + " bytes, not the " + std::to_string(entry.Size) + " of its signed entry";
    TSha256 hash;
    std::int64_t total = 0;
    bool consumed = true;
    const bool read = platform::ForEachBlock(source, [&](std::string_view block) {
        // A copy that grows while it is read is never taken past its signed size.
        total += static_cast<std::int64_t>(block.size());
        if (total > entry.Size) return false;
        hash.Update(block.data(), block.size());
        return consumed = consume(block);
    });
    if (!consumed) return "could not be written to \"" + entry.FileName + "\"";
    if (!read || total != entry.Size) return "changed while it was read";
    if (entry.Sha256.empty() || hash.HexDigest() != entry.Sha256)
        return std::string("does not have the SHA-256 of its signed entry") + (entry.Sha256.empty() ? " (it has none)" : "");
    return "";
}

bool TdmEM::CopyVerified(const TUpdateElementRec& entry) {
    const std::string folder = FolderOf(entry.FileName);
    std::string fault;
    // A folder is made only for a file that passed its check.
    if (!platform::DirectoryExists(folder)) {
        fault = SignedCopyFault(entry, [](std::string_view) { return true; });
        if (fault.empty()) platform::ForceDirectories(folder);
    }
    const bool written = fault.empty() && platform::ReplaceFile(
                                              entry.FileName,
                                              [&](platform::File& output) {
                                                  fault = SignedCopyFault(entry, [&](std::string_view block) {
                                                      return output.Write(block);
                                                  });
                                                  return fault.empty();
                                              },
                                              platform::Durability::Deferred);
    if (!fault.empty())
        throw EFOpenError("The shared copy \"" + entry.Download + "\" " + fault + "; \"" + entry.FileName + "\" stays.");
    return NoteDeferred(written, entry.FileName);
}
