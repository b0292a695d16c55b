// The wizard of a verifying installation: a catalogue that is not signed by a trusted key for this product line,
// older than the last one accepted, or expired is a failed catalogue request that says why; a file without its
// signed SHA-256, or a package holding files its signed entry does not name, is a failed test.
#include "OVCommon/OVCommon.h"
#include "UnitOrvane/UnitOrvane.h"
#include "signing/signing.h"

std::string TFormOrvane::SignedCatalogueRefusal(const std::string& catalogueText) {
    TCatalogueVerifier verifier(ProgramFolder);
    Verifying = verifier.Active();
    if (!Verifying) return "";
    try {
        const TRef<TXmlDDocument> loaded(new TXmlDDocument());
        verifier.Accept(catalogueText, RequestedProductLine(QueryText), loaded.get());
        return "";
    } catch (const ESignatureError& failure) {
        CatalogueRefusal = std::pair(failure.Refusal(), failure.Message());
        return "The catalogue is refused: " + failure.Message();
    }
}

// Each kind of refusal in the user's language; a damaged key or state file is named as the program found it.
std::string TFormOrvane::CatalogueRefusalText() const {
    const auto& [refusal, reason] = *CatalogueRefusal;
    const char* key = refusal == TRefusal::Untrusted ? "MsgOV31"
                      : refusal == TRefusal::Older   ? "MsgOV32"
                      : refusal == TRefusal::Expired ? "MsgOV33"
                      : refusal == TRefusal::OtherLine ? "MsgOV34"
                                                       : nullptr;
    return FormatText(Message("MsgOV30"), {key ? Message(key) : reason});
}

std::optional<std::string> TFormOrvane::ExpectedSha256(const TUpdateElement& entry) const {
    return Verifying ? std::optional(entry.Sha256) : std::nullopt;
}

void TFormOrvane::LogRefusedPackage(const TUpdateElement& entry, const TPreparedPackage& package, TCandidateCheck check) {
    if (!Verifying || check == TCandidateCheck::Matches) return;
    std::string reason = check == TCandidateCheck::SizeDiffers ? "wrong size"
                         : check == TCandidateCheck::CrcDiffers ? "wrong CRC"
                         : check == TCandidateCheck::Sha256Differs ? "wrong SHA-256"
                                                                   : "it holds files its signed entry does not name:";
    for (const std::string& member : package.UnsignedMembers) reason += " " + member;
    AppendToRunLog("The package " + entry.Download + " of " + entry.FileName + " is refused: " + reason);
}
