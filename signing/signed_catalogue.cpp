// The signed catalogue: its `signature` element over every byte before it, and its `release` stamp.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "http/civil_time.h"
#include "signing/signing.h"

namespace {

constexpr std::string_view kSignatureOpen = "<signature";
constexpr std::string_view kSignatureClose = "</signature>";
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Base64(std::string_view bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = 0;
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        for (std::size_t j = 0; j < 3; ++j)
            group = group << 8 | (j < count ? static_cast<unsigned char>(bytes[i + j]) : 0u);
        for (std::size_t j = 0; j < 4; ++j) text += j <= count ? kBase64[(group >> (18 - 6 * j)) & 63] : '=';
    }
    return text;
}

// Strict: whole groups of four, padding only at the end, the canonical text only; blanks between characters are
// skipped.
bool FromBase64(std::string_view text, std::string& bytes) {
    std::string digits;
    for (const char c : text)
        if (!IsBlank(c)) digits += c;
    if (digits.size() % 4 != 0) return false;
    const std::size_t padding = digits.ends_with("==") ? 2 : digits.ends_with('=') ? 1 : 0;
    bytes.clear();
    for (std::size_t i = 0; i < digits.size(); i += 4) {
        uint32_t group = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const bool padded = i + j >= digits.size() - padding;
            const char* at = std::find(kBase64, kBase64 + 64, digits[i + j]);
            if (!padded && at == kBase64 + 64) return false;
            group = group << 6 | (padded ? 0u : static_cast<uint32_t>(at - kBase64));
        }
        for (std::size_t j = 0; j < 3; ++j) bytes += static_cast<char>((group >> (16 - 8 * j)) & 0xFF);
    }
    bytes.resize(bytes.size() - padding);
    // Bits the padding leaves unused must be zero: only the one text that encodes the bytes is accepted.
    return Base64(bytes) == digits;
}

// Blanks and closing tags alone: they can end elements the signed part opened, never add content.
bool OnlyClosingTags(std::string_view tail) {
    while (!tail.empty()) {
        if (IsBlank(tail.front())) {
            tail.remove_prefix(1);
            continue;
        }
        const std::size_t end = tail.find('>');
        if (!tail.starts_with("</") || end == std::string_view::npos || end == 2 ||
            tail.substr(2, end - 2).find_first_of("<&\"'= \t\r\n") != std::string_view::npos)
            return false;
        tail.remove_prefix(end + 1);
    }
    return true;
}

// The signature's bytes, or a reason why the text holds none where it must.
std::string SignatureBytes(std::string_view text, std::size_t at) {
    std::string_view element = text.substr(at + kSignatureOpen.size());
    const std::size_t close = element.find(kSignatureClose);
    std::string bytes;
    if (!element.starts_with('>') || close == std::string_view::npos ||
        !FromBase64(element.substr(1, close - 1), bytes) || bytes.size() != 64)
        throw ESignatureError("the catalogue's signature element is malformed", TRefusal::Untrusted);
    if (!OnlyClosingTags(element.substr(close + kSignatureClose.size())))
        throw ESignatureError("the catalogue has content after its signature", TRefusal::Untrusted);
    return bytes;
}

const TXmlDNode* StampField(const TXmlDNode* release, std::string_view name) {
    const TXmlDNode* field = release ? FindChild(release, name) : nullptr;
    if (!field) throw ESignatureError("the catalogue's release stamp has no " + std::string(name));
    return field;
}

// A product, version or code is one plain segment of the request's path; it also names the line in the state file.
std::string LineField(const TXmlDNode* release, std::string_view name) {
    std::string text = StampField(release, name)->GetText();
    const auto plain = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
               c == '_' || c == '~';
    };
    if (text.empty() || !std::all_of(text.begin(), text.end(), plain))
        throw ESignatureError("the catalogue's release stamp has an unusable " + std::string(name) + " \"" + text + "\"");
    return text;
}

}  // namespace

std::string SignCatalogueText(std::string_view text, const TKeyPair& keys) {
    const std::size_t close = text.rfind("</");
    if (close == std::string_view::npos) throw ESignatureError("the catalogue has no closing tag to sign before");
    const std::string_view signedPart = text.substr(0, close);
    return std::string(signedPart) + std::string(kSignatureOpen) + ">" + Base64(Sign(signedPart, keys)) +
           std::string(kSignatureClose) + "\n" + std::string(text.substr(close));
}

void VerifyCatalogueSignature(std::string_view text, const std::vector<std::string>& publicKeys) {
    const std::size_t at = text.rfind(kSignatureOpen);
    if (at == std::string_view::npos) throw ESignatureError("the catalogue is not signed", TRefusal::Untrusted);
    const std::string signature = SignatureBytes(text, at);
    for (const std::string& key : publicKeys)
        if (VerifySignature(text.substr(0, at), signature, key)) return;
    throw ESignatureError("the catalogue's signature is not valid for any key in OvKeys", TRefusal::Untrusted);
}

void AddReleaseStamp(TXmlDNode* documentElement, const TReleaseStamp& stamp) {
    auto* release = new TXmlDElement("release");
    AppendChild(documentElement, release);
    for (const auto& [name, text] :
         {std::pair{"product", stamp.Line.Product}, std::pair{"version", stamp.Line.Version},
          std::pair{"code", stamp.Line.Code}, std::pair{"serial", std::to_string(stamp.Serial)},
          std::pair{"expires", UtcTimeText(stamp.Expires)}}) {
        auto* field = new TXmlDElement(name);
        AppendChild(release, field);
        field->SetText(text);
    }
}

TReleaseStamp ReadReleaseStamp(const TXmlDDocument* catalogue) {
    const TXmlDNode* root = DocumentElement(catalogue);
    const TXmlDNode* release = root ? FindChild(root, "release") : nullptr;
    const std::string serial = StampField(release, "serial")->GetText();
    TReleaseStamp stamp;
    const auto [end, error] = std::from_chars(serial.data(), serial.data() + serial.size(), stamp.Serial);
    if (serial.empty() || error != std::errc() || end != serial.data() + serial.size())
        throw ESignatureError("the catalogue's serial \"" + serial + "\" is not a number");
    stamp.Expires = ParseUtcTime(StampField(release, "expires")->GetText());
    stamp.Line = {LineField(release, "product"), LineField(release, "version"), LineField(release, "code")};
    return stamp;
}

std::string TProductLine::Text() const {
    std::string product = Product;
    for (char& c : product)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const auto known = [](const std::string& field) { return field.empty() ? std::string("?") : field; };
    return known(product) + "/" + known(Version) + "/" + known(Code);
}

bool TProductLine::Admits(const TProductLine& stamped) const {
    const auto same = [](const std::string& asked, const std::string& stamped, bool anyCase) {
        if (asked.empty()) return true;
        if (asked.size() != stamped.size()) return false;
        for (std::size_t i = 0; i < asked.size(); ++i)
            if (asked[i] != stamped[i] && !(anyCase && (asked[i] | 0x20) == (stamped[i] | 0x20))) return false;
        return true;
    };
    // The product request sends the product in capitals, so a server never saw its letter case.
    return same(Product, stamped.Product, true) && same(Version, stamped.Version, false) &&
           same(Code, stamped.Code, false);
}

std::string UtcTimeText(int64_t seconds) {
    const TCivilTime time = CivilFromSeconds(seconds);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02dZ", static_cast<long long>(time.Year),
                  time.Month, time.Day, time.Hour, time.Minute, time.Second);
    return text;
}

int64_t ParseUtcTime(const std::string& text) {
    TCivilTime time;
    long long year = 0;
    char zone = 0;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4lld-%2d-%2dT%2d:%2d:%2d%c%n", &year, &time.Month, &time.Day, &time.Hour,
                    &time.Minute, &time.Second, &zone, &consumed) != 7 ||
        zone != 'Z' || static_cast<std::size_t>(consumed) != text.size() || text.size() != 20 || time.Month < 1 ||
        time.Month > 12 || time.Day < 1 || time.Day > 31 || time.Hour > 23 || time.Minute > 59 || time.Second > 59)
        throw ESignatureError("the catalogue's expiry \"" + text + "\" is not a UTC time like 2030-01-31T12:00:00Z");
    time.Year = year;
    return SecondsFromCivil(time);
}

int64_t UtcNow() { return static_cast<int64_t>(std::time(nullptr)); }
