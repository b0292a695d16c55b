// The release state of a verifying installation: the highest serial it accepted, kept across runs so that an
// older signed catalogue (a rollback) is refused, and expiry checked so that a stale one (a freeze) is too.
#include <charconv>

#include "platform/files.h"
#include "platform/ini.h"
#include "signing/signing.h"

uint64_t TReleaseState::HighestSerial() const {
    const std::string text = platform::ReadProfileString(path_, "release", "serial", "0");
    uint64_t serial = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), serial);
    // A damaged state file must not reopen the door to old catalogues.
    if (error != std::errc() || end != text.data() + text.size())
        throw ESignatureError("the release state " + path_ + " is damaged");
    return serial;
}

void TReleaseState::Accept(const TReleaseStamp& stamp, int64_t now) {
    const uint64_t highest = HighestSerial();
    if (stamp.Serial < highest)
        throw ESignatureError("the catalogue's serial " + std::to_string(stamp.Serial) + " is older than " +
                              std::to_string(highest) + ", already accepted");
    if (stamp.Expires <= now) throw ESignatureError("the catalogue expired at " + UtcTimeText(stamp.Expires));
    if (stamp.Serial == highest) return;
    // Written whole into a new file and renamed over the old one: a crash leaves either serial, never none.
    if (!platform::ReplaceFileWithBytes(path_, "[release]\r\nserial=" + std::to_string(stamp.Serial) + "\r\n"))
        throw ESignatureError("cannot write the release state " + path_);
}

TCatalogueVerifier::TCatalogueVerifier(const std::string& programFolder)
    : state_(programFolder + "OvState.ini") {
    try {
        keys_ = LoadTrustedKeys(programFolder);
    } catch (const ESignatureError& failure) {
        keyError_ = failure.Message();
    }
}

void TCatalogueVerifier::Accept(std::string_view text, const TXmlDDocument* loaded, int64_t now) {
    if (!keyError_.empty()) throw ESignatureError(keyError_);
    VerifyCatalogueSignature(text, keys_);
    state_.Accept(ReadReleaseStamp(loaded), now);
}
