// The cryptographic steps, each one libgcrypt call sequence: SHA-256, and Ed25519 key generation, signing and
// verification on raw 32-byte keys and 64-byte signatures. What Ed25519 signs is the SHA-512 digest of the
// message: libgcrypt hands a message to Ed25519 inside an S-expression, whose data items hold at most 64 KiB, and
// a catalogue is often larger.
#include <gcrypt.h>

#include <memory>
#include <mutex>

#include "signing/signing.h"

namespace {

constexpr std::size_t kKeySize = 32;
constexpr std::size_t kSignatureSize = 64;

void Initialise() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!gcry_check_version(GCRYPT_VERSION)) throw ESignatureError("libgcrypt is older than the program needs");
        // Public-key checks and hashes need no secure memory; the publisher's one secret is short-lived.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}

struct SexpFree {
    void operator()(gcry_sexp_t sexp) const { gcry_sexp_release(sexp); }
};
using Sexp = std::unique_ptr<std::remove_pointer_t<gcry_sexp_t>, SexpFree>;

Sexp Build(const char* format, std::string_view a, std::string_view b = {}) {
    Initialise();
    gcry_sexp_t sexp = nullptr;
    const gcry_error_t error = gcry_sexp_build(&sexp, nullptr, format, static_cast<int>(a.size()), a.data(),
                                               static_cast<int>(b.size()), b.data());
    if (error) throw ESignatureError(std::string("libgcrypt cannot build a key or signature: ") + gcry_strerror(error));
    return Sexp(sexp);
}

// The bytes of the token's value, as long as they must be; anything else is an error of the library's answer.
std::string TokenBytes(gcry_sexp_t from, const char* token, std::size_t size) {
    const Sexp found(gcry_sexp_find_token(from, token, 0));
    std::size_t length = 0;
    const char* data = found ? gcry_sexp_nth_data(found.get(), 1, &length) : nullptr;
    if (!data || length != size) throw ESignatureError(std::string("libgcrypt gave no usable ") + token);
    return std::string(data, length);
}

std::string Sha512(std::string_view message) {
    Initialise();
    std::string digest(64, '\0');
    gcry_md_hash_buffer(GCRY_MD_SHA512, digest.data(), message.data(), message.size());
    return digest;
}

}  // namespace

TSha256::TSha256() : handle_(nullptr) {
    Initialise();
    gcry_md_hd_t handle = nullptr;
    if (gcry_md_open(&handle, GCRY_MD_SHA256, 0)) throw ESignatureError("libgcrypt cannot start a SHA-256 hash");
    handle_ = handle;
}

TSha256::~TSha256() { gcry_md_close(static_cast<gcry_md_hd_t>(handle_)); }

void TSha256::Update(const void* data, std::size_t length) {
    gcry_md_write(static_cast<gcry_md_hd_t>(handle_), data, length);
}

std::string TSha256::HexDigest() const {
    const unsigned char* digest = gcry_md_read(static_cast<gcry_md_hd_t>(handle_), GCRY_MD_SHA256);
    return HexText(std::string_view(reinterpret_cast<const char*>(digest), 32));
}

std::string Sha256Hex(std::string_view bytes) {
    TSha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.HexDigest();
}

TKeyPair GenerateKeyPair() {
    const Sexp parameters = Build("(genkey (ecc (curve Ed25519)(flags eddsa)))", {});
    gcry_sexp_t pair = nullptr;
    if (const gcry_error_t error = gcry_pk_genkey(&pair, parameters.get()))
        throw ESignatureError(std::string("libgcrypt cannot make a key: ") + gcry_strerror(error));
    const Sexp owned(pair);
    const Sexp secret(gcry_sexp_find_token(pair, "private-key", 0));
    if (!secret) throw ESignatureError("libgcrypt gave no private key");
    return {TokenBytes(secret.get(), "d", kKeySize), TokenBytes(secret.get(), "q", kKeySize)};
}

std::string Sign(std::string_view message, const TKeyPair& keys) {
    const Sexp secret = Build("(private-key (ecc (curve Ed25519)(flags eddsa)(d %b)(q %b)))", keys.Secret, keys.Public);
    const Sexp data = Build("(data (flags eddsa)(hash-algo sha512)(value %b))", Sha512(message));
    gcry_sexp_t signature = nullptr;
    if (const gcry_error_t error = gcry_pk_sign(&signature, data.get(), secret.get()))
        throw ESignatureError(std::string("libgcrypt cannot sign: ") + gcry_strerror(error));
    const Sexp owned(signature);
    return TokenBytes(signature, "r", kSignatureSize / 2) + TokenBytes(signature, "s", kSignatureSize / 2);
}

namespace {

// S must lie below the group order: a signature with S + L would verify too, and one message would then have
// many valid signatures.
bool ScalarIsCanonical(std::string_view s) {
    static constexpr unsigned char kOrder[kKeySize] = {
        0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7, 0xa2, 0xde, 0xf9, 0xde, 0x14,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10};
    for (std::size_t i = kKeySize; i-- > 0;) {
        const auto byte = static_cast<unsigned char>(s[i]);
        if (byte != kOrder[i]) return byte < kOrder[i];
    }
    return false;
}

}  // namespace

bool VerifySignature(std::string_view message, std::string_view signature, std::string_view publicKey) {
    if (signature.size() != kSignatureSize || publicKey.size() != kKeySize) return false;
    if (!ScalarIsCanonical(signature.substr(kSignatureSize / 2))) return false;
    const Sexp key = Build("(public-key (ecc (curve Ed25519)(flags eddsa)(q %b)))", publicKey);
    const Sexp value =
        Build("(sig-val (eddsa (r %b)(s %b)))", signature.substr(0, kSignatureSize / 2), signature.substr(kSignatureSize / 2));
    const Sexp data = Build("(data (flags eddsa)(hash-algo sha512)(value %b))", Sha512(message));
    return gcry_pk_verify(value.get(), data.get(), key.get()) == 0;
}
