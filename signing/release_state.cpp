// The release state of a verifying installation: the highest serial it accepted for each product line, kept
// across runs so that an older signed catalogue (a rollback) is refused, and expiry checked so that a stale one (a
// freeze) is too.
#include <charconv>

#include "platform/files.h"
#include "signing/signing.h"

namespace {

constexpr std::string_view kSection = "[release]";
// Written by the first versions, before serials were kept per line: still a floor for every line.
constexpr std::string_view kSerialOfAnyLine = "serial";

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    return true;
}

}  // namespace

std::map<std::string, uint64_t> TReleaseState::Serials() const {
    std::map<std::string, uint64_t> serials;
    if (!platform::FileExists(path_)) return serials;
    const std::string damaged = "the release state " + path_ + " is damaged";
    std::string text;
    if (!platform::ReadWholeFile(path_, text)) throw ESignatureError(damaged);
    bool inSection = false, sectionSeen = false;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line = Trimmed(std::string_view(text).substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            inSection = SameLetters(line, kSection);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (!inSection) continue;
        const std::size_t equals = line.find('=');
        uint64_t serial = 0;
        const std::string_view value = equals == std::string_view::npos ? "" : Trimmed(line.substr(equals + 1));
        const auto [at, error] = std::from_chars(value.data(), value.data() + value.size(), serial);
        if (value.empty() || error != std::errc() || at != value.data() + value.size()) throw ESignatureError(damaged);
        serials[std::string(Trimmed(line.substr(0, equals)))] = serial;
    }
    // An empty file, or one without the section, is no state at all: something cut or replaced it.
    if (!sectionSeen) throw ESignatureError(damaged);
    return serials;
}

uint64_t TReleaseState::HighestSerial(const TProductLine& line) const {
    const std::map<std::string, uint64_t> serials = Serials();
    const auto own = serials.find(line.Text());
    const auto any = serials.find(std::string(kSerialOfAnyLine));
    return std::max(own == serials.end() ? 0 : own->second, any == serials.end() ? 0 : any->second);
}

void TReleaseState::Accept(const TReleaseStamp& stamp, int64_t now) {
    std::map<std::string, uint64_t> serials = Serials();
    const uint64_t highest = HighestSerial(stamp.Line);
    if (stamp.Serial < highest)
        throw ESignatureError("the catalogue's serial " + std::to_string(stamp.Serial) + " is older than " +
                                  std::to_string(highest) + ", already accepted for " + stamp.Line.Text(),
                              TRefusal::Older);
    if (stamp.Expires <= now)
        throw ESignatureError("the catalogue expired at " + UtcTimeText(stamp.Expires), TRefusal::Expired);
    if (serials[stamp.Line.Text()] == stamp.Serial) return;
    serials[stamp.Line.Text()] = stamp.Serial;
    std::string text = std::string(kSection) + "\r\n";
    for (const auto& [line, serial] : serials) text += line + "=" + std::to_string(serial) + "\r\n";
    // Written whole into a new file and renamed over the old one: a crash leaves either state, never none.
    if (!platform::ReplaceFileWithBytes(path_, text)) throw ESignatureError("cannot write the release state " + path_);
}

TCatalogueVerifier::TCatalogueVerifier(const std::string& programFolder)
    : state_(programFolder + "OvState.ini") {
    try {
        keys_ = LoadTrustedKeys(programFolder);
        active_ = !keys_.empty();
    } catch (const ESignatureError& failure) {
        keyError_ = failure.Message();
        active_ = true;
    }
}

void TCatalogueVerifier::Accept(std::string_view text, const TProductLine& request, TXmlDDocument* into,
                                int64_t now) {
    if (!keyError_.empty()) throw ESignatureError(keyError_);
    VerifyCatalogueSignature(text, keys_);
    try {
        LoadXml(into, text);
    } catch (const std::exception& failure) {
        throw ESignatureError(std::string("the signed catalogue does not load: ") + failure.what());
    }
    const TReleaseStamp stamp = ReadReleaseStamp(into);
    if (!request.Admits(stamp.Line))
        throw ESignatureError("the catalogue was published for " + stamp.Line.Text() + ", not for " + request.Text(),
                              TRefusal::OtherLine);
    state_.Accept(stamp, now);
}
