// The publisher's side of signed releases: its key files, the release stamp of each publication, and the
// catalogue's signed bytes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "tools/publish/release.h"

namespace {

constexpr int64_t kDefaultLifetime = 7 * 24 * 60 * 60;

// Created with its final mode, so the secret is never readable by others, not even for a moment; an existing
// file is never overwritten.
void WriteNewKeyFile(const std::string& path, const std::string& text, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) throw EPublishError("cannot create " + path + ": " + std::strerror(errno));
    const bool written = ::fchmod(fd, mode) == 0 && ::write(fd, text.data(), text.size()) ==
                                                        static_cast<ssize_t>(text.size());
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(path.c_str());
        throw EPublishError("cannot write " + path + ": " + std::strerror(errno));
    }
}

// NAME.key holds the secret and the public key, in hex on one line.
TKeyPair ReadKeyFile(const std::string& path) {
    std::string text;
    if (!platform::ReadWholeFile(path, text)) throw EPublishError("cannot read the key " + path);
    const std::string bytes = BytesFromHex(text, 64, "the key " + path);
    return {bytes.substr(0, 32), bytes.substr(32)};
}

uint64_t LastSerial(const std::string& target) {
    std::string text;
    if (!platform::ReadWholeFile(target + "/" + QueryCataloguePath(), text)) return 0;
    try {
        TRef<TXmlDDocument> catalogue(new TXmlDDocument());
        LoadXml(catalogue.get(), text);
        return ReadReleaseStamp(catalogue.get()).Serial;
    } catch (const Exception&) {
        return 0;  // an unsigned or unreadable catalogue: the next serial is the first
    }
}

// The UTC time as the digits YYYYMMDDhhmmss: it only grows, needs no state, and reads as the time of publication.
uint64_t SerialOfTime(int64_t seconds) {
    const std::string text = UtcTimeText(seconds);  // "YYYY-MM-DDThh:mm:ssZ"
    uint64_t serial = 0;
    for (const char c : text)
        if (c >= '0' && c <= '9') serial = serial * 10 + static_cast<uint64_t>(c - '0');
    return serial;
}

}  // namespace

std::vector<std::string> RunKeygen(const std::vector<std::string>& arguments) {
    if (arguments.size() != 2 || arguments[0] != "--out" || arguments[1].empty())
        throw EPublishUsage("keygen takes --out NAME");
    const std::string& name = arguments[1];
    // Half a pair is worse than none: an existing file of either name leaves both as they are.
    for (const std::string& path : {name + ".key", name + ".pub"})
        if (platform::FileExists(path) || platform::DirectoryExists(path))
            throw EPublishError(path + " exists already; nothing was written");
    const TKeyPair keys = GenerateKeyPair();
    WriteNewKeyFile(name + ".key", HexText(keys.Secret + keys.Public) + "\n", 0600);
    try {
        WriteNewKeyFile(name + ".pub", HexText(keys.Public) + "\n", 0644);
    } catch (const EPublishError&) {
        ::unlink((name + ".key").c_str());
        throw;
    }
    return {"Wrote the secret key " + name + ".key (keep it off the web server) and the public key " + name +
                ".pub (put it in the program folder's OvKeys/)"};
}

TReleaseStamp NextReleaseStamp(const TPublishOptions& options) {
    TReleaseStamp stamp;
    stamp.Line = {options.Product, options.Version, options.Code};
    // Installations refuse a serial below one they accepted: a publication never goes below the target's, and by
    // default never below the time, so that a fresh or rebuilt target cannot go back either.
    const uint64_t last = LastSerial(options.Target);
    if (options.Serial && *options.Serial <= last)
        throw EPublishError("--serial " + std::to_string(*options.Serial) + " is not above " + std::to_string(last) +
                            ", the serial the target already publishes: installations that took it would refuse it");
    stamp.Serial = options.Serial ? *options.Serial : std::max(SerialOfTime(UtcNow()), last + 1);
    stamp.Expires = options.Expires ? *options.Expires : UtcNow() + kDefaultLifetime;
    return stamp;
}

std::string CatalogueBytes(const TXmlDDocument* catalogue, const TPublishOptions& options) {
    const std::string text = catalogue->GetXml();
    if (options.SigningKey.empty()) return text;
    const TKeyPair keys = ReadKeyFile(options.SigningKey);
    const std::string signedText = SignCatalogueText(text, keys);
    // Checked as installations will check it, before it goes live: a key file whose halves do not belong together
    // would otherwise freeze every installation that trusts its public half.
    try {
        VerifyCatalogueSignature(signedText, {keys.Public});
    } catch (const ESignatureError&) {
        throw EPublishError("the key " + options.SigningKey +
                            " does not verify its own signature (its secret and public halves do not match); "
                            "nothing was published");
    }
    return signedText;
}
