#pragma once
// Signed releases: Ed25519 keys and signatures, the check of a signed catalogue, the release state that refuses
// an older or expired catalogue, and SHA-256 over bytes fed in pieces. Knows the catalogue only as a signed XML
// text with a `release` stamp; libgcrypt does every cryptographic step.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"
#include "xml/dom.h"

// Why a catalogue is refused, for a person: the wizard names each kind in the user's language.
enum class TRefusal { Untrusted, Older, Expired, OtherLine, Damaged };

// A signature, key, stamp or state that fails its check; the message is one line saying why.
class ESignatureError : public Exception {
public:
    explicit ESignatureError(std::string message, TRefusal refusal = TRefusal::Damaged)
        : Exception(std::move(message)), refusal_(refusal) {}
    TRefusal Refusal() const { return refusal_; }

private:
    TRefusal refusal_;
};

// SHA-256 of bytes fed in pieces, so a file is hashed while it is written.
class TSha256 {
public:
    TSha256();
    ~TSha256();
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;
    void Update(const void* data, std::size_t length);
    // Lower-case hex of the digest of everything fed so far.
    std::string HexDigest() const;

private:
    void* handle_;
};
std::string Sha256Hex(std::string_view bytes);

// Raw Ed25519 keys: the 32-byte secret seed and the 32-byte public key.
struct TKeyPair {
    std::string Secret;
    std::string Public;
};
TKeyPair GenerateKeyPair();
// Key files hold lower-case hex on one line.
std::string HexText(std::string_view bytes);
// The bytes of hex text, blanks around it ignored; raises ESignatureError (naming `what`) unless it holds exactly
// `size` bytes.
std::string BytesFromHex(std::string_view text, std::size_t size, const std::string& what);
// The 64-byte Ed25519 signature of the message's SHA-512 digest, so that messages of any length can be signed.
std::string Sign(std::string_view message, const TKeyPair& keys);
bool VerifySignature(std::string_view message, std::string_view signature, std::string_view publicKey);

// The public keys of an installation: every "*.pub" in the folder's "OvKeys/"; none when there is no "OvKeys".
// Raises when "OvKeys" is there but is no folder, cannot be listed, holds no key or a key that cannot be read.
std::vector<std::string> LoadTrustedKeys(const std::string& programFolder);

// The product line a catalogue answers, as its request named it. An empty field is one the request did not name.
struct TProductLine {
    std::string Product;
    std::string Version;
    std::string Code;
    // "PRODUCT/VERSION/CODE", the product in capitals as the product request sends it.
    std::string Text() const;
    // True when every field this line names (the request's) is the same in `stamped` (the catalogue's).
    bool Admits(const TProductLine& stamped) const;
};

// The `release` child of a signed catalogue's document element.
struct TReleaseStamp {
    TProductLine Line;
    uint64_t Serial = 0;
    int64_t Expires = 0;  // seconds since 1970, UTC
};
void AddReleaseStamp(TXmlDNode* documentElement, const TReleaseStamp& stamp);
TReleaseStamp ReadReleaseStamp(const TXmlDDocument* catalogue);
// "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcTimeText(int64_t seconds);
int64_t ParseUtcTime(const std::string& text);
int64_t UtcNow();

// The catalogue text with a `signature` element, the signature of every byte before it, put before the document
// element's closing tag.
std::string SignCatalogueText(std::string_view text, const TKeyPair& keys);
// Raises unless one of the keys signed every byte before the last "<signature", and nothing but closing tags and
// blanks follows the signature element.
void VerifyCatalogueSignature(std::string_view text, const std::vector<std::string>& publicKeys);

// The highest serial an installation accepted for each product line, in its "OvState.ini", so that two lines
// never hold each other back.
class TReleaseState {
public:
    explicit TReleaseState(std::string path) : path_(std::move(path)) {}
    // Raises when the file exists but holds no readable release state: a damaged file must not reopen the door
    // to old catalogues.
    uint64_t HighestSerial(const TProductLine& line) const;
    // Raises for an older serial (a rollback) or a stamp that has expired (a freeze); else records the serial.
    void Accept(const TReleaseStamp& stamp, int64_t now);

private:
    std::map<std::string, uint64_t> Serials() const;
    std::string path_;
};

// What a verifying installation does with each catalogue it is given.
class TCatalogueVerifier {
public:
    explicit TCatalogueVerifier(const std::string& programFolder);
    // True when the folder has "OvKeys", even one that does not load: that makes every catalogue fail.
    bool Active() const { return active_; }
    // Checks the text's signature before anything reads it, loads it into `into`, then checks that its stamp
    // answers the request and is current; only then records its serial. Raises ESignatureError.
    void Accept(std::string_view text, const TProductLine& request, TXmlDDocument* into, int64_t now = UtcNow());

private:
    bool active_ = false;
    std::vector<std::string> keys_;
    std::string keyError_;
    TReleaseState state_;
};
