// The wizard of a verifying installation: a catalogue that is not signed by a trusted key, older than the last
// one accepted, or expired is a failed catalogue request; a file without its signed SHA-256 is a failed test.
#include "OVCommon/OVCommon.h"
#include "UnitOrvane/UnitOrvane.h"
#include "signing/signing.h"

std::string TFormOrvane::SignedCatalogueRefusal(const std::string& catalogueText) {
    TCatalogueVerifier verifier(ProgramFolder);
    Verifying = verifier.Active();
    if (!Verifying) return "";
    try {
        const TRef<TXmlDDocument> loaded(new TXmlDDocument());
        LoadCatalogue(loaded.get(), catalogueText);
        verifier.Accept(catalogueText, loaded.get());
        return "";
    } catch (const std::exception& failure) {
        return std::string("The catalogue is refused: ") + failure.what();
    }
}

std::optional<std::string> TFormOrvane::ExpectedSha256(const TUpdateElement& entry) const {
    return Verifying ? std::optional(entry.Sha256) : std::nullopt;
}
