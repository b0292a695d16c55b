// The publisher's side of signed releases: its key files, the release stamp of each publication, and the
// catalogue's signed bytes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace

std::vector<std::string> RunKeygen(const std::vector<std::string>& arguments) {
    if (arguments.size() != 2 || arguments[0] != "--out" || arguments[1].empty())
        throw EPublishUsage("keygen takes --out NAME");
    const std::string& name = arguments[1];
    const TKeyPair keys = GenerateKeyPair();
    WriteNewKeyFile(name + ".key", HexText(keys.Secret + keys.Public) + "\n", 0600);
    WriteNewKeyFile(name + ".pub", HexText(keys.Public) + "\n", 0644);
    return {"Wrote the secret key " + name + ".key (keep it off the web server) and the public key " + name +
                ".pub (put it in the program folder's OvKeys/)"};
}

TReleaseStamp NextReleaseStamp(const TPublishOptions& options) {
    TReleaseStamp stamp;
    stamp.Serial = options.Serial ? *options.Serial : LastSerial(options.Target) + 1;
    stamp.Expires = options.Expires ? *options.Expires : UtcNow() + kDefaultLifetime;
    return stamp;
}

std::string CatalogueBytes(const TXmlDDocument* catalogue, const TPublishOptions& options) {
    const std::string text = catalogue->GetXml();
    if (options.SigningKey.empty()) return text;
    return SignCatalogueText(text, ReadKeyFile(options.SigningKey));
}
