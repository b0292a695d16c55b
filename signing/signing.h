#pragma once
// Signed releases: Ed25519 keys and signatures, the check of a signed catalogue, the release state that refuses
// an older or expired catalogue, and SHA-256 over bytes fed in pieces. Knows the catalogue only as a signed XML
// text with a `release` stamp; libgcrypt does every cryptographic step.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"
#include "xml/dom.h"

// A signature, key, stamp or state that fails its check; the message is one line saying why.
class ESignatureError : public Exception {
public:
    using Exception::Exception;
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

// The public keys of an installation: every "*.pub" in the folder's "OvKeys/". None: it does not verify.
std::vector<std::string> LoadTrustedKeys(const std::string& programFolder);

// The `release` child of a signed catalogue's document element.
struct TReleaseStamp {
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

// The highest serial an installation accepted, in its "OvState.ini".
class TReleaseState {
public:
    explicit TReleaseState(std::string path) : path_(std::move(path)) {}
    uint64_t HighestSerial() const;
    // Raises for an older serial (a rollback) or a stamp that has expired (a freeze); else records the serial.
    void Accept(const TReleaseStamp& stamp, int64_t now);

private:
    std::string path_;
};

// What a verifying installation does with each catalogue it is given.
class TCatalogueVerifier {
public:
    explicit TCatalogueVerifier(const std::string& programFolder);
    // True when the folder has keys, even ones that do not load: those make every catalogue fail.
    bool Active() const { return !keys_.empty() || !keyError_.empty(); }
    // Checks the signature of the text, then the stamp of the same text as loaded; raises ESignatureError.
    void Accept(std::string_view text, const TXmlDDocument* loaded, int64_t now = UtcNow());

private:
    std::vector<std::string> keys_;
    std::string keyError_;
    TReleaseState state_;
};
