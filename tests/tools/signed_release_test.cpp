// Signed releases end to end: orvane-publish signs them into a real nginx's web root, served through a proxy
// that rewrites bodies, and the built program's mirror and client, with keys in OvKeys/, refuse what that man in
// the middle or a writer on the share changes, keeping every file; without keys they behave as before.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "OVCommon/OVCommon.h"
#include "signing/signing.h"
#include "tests/e2e/release_fixture.h"
#include "tests/e2e/windowless_sandbox.h"
#include "tests/support/crc_forgery.h"
#include "tests/support/tampering_proxy.h"
#include "tests/support/zip_writer.h"
#include "tests/tools/publish_support.h"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

const std::string kQueryRule = "location = /brellium/orvane.php { default_type text/xml; }";
const int kCatalogueRefused = 196;  // -60, the failed catalogue request

// A signed release on nginx, reached through the proxy, and a verifying installation that trusts the "release"
// key.
class SignedSite {
public:
    SignedSite() {
        for (const char* name : {"release", "other"}) EXPECT_EQ(publisher.Run({"keygen", "--out", Key(name)}).status, 0);
        Trust("release");
    }
    std::string Key(const std::string& name) const { return publisher.dir() / name; }
    void Trust(const std::string& name) const {
        fs::create_directories(sandbox.programFolder() + "OvKeys");
        fs::copy_file(Key(name) + ".pub", sandbox.programFolder() + "OvKeys/" + name + ".pub");
    }
    // Published into `target` (the served web root by default) with the product request.
    ProgramRun Publish(const std::vector<std::string>& extra, const std::string& target = "",
                       const std::string& version = kVersion) const {
        std::vector<std::string> arguments{"--product", kProduct, "--version", version, "--code", kCode};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return publisher.Publish(target.empty() ? server.webRoot() : target, BaseUrl(), arguments);
    }
    // The server's URL with the proxy's port: downloads go through the man in the middle too.
    std::string BaseUrl() const {
        std::string url = server.Url("/");
        const std::string port = ":" + std::to_string(server.port());
        return url.replace(url.find(port), port.size(), ":" + std::to_string(proxy.port()));
    }
    // The catalogue text another publication would serve.
    std::string CatalogueOf(const std::vector<std::string>& extra, const std::string& version = kVersion) const {
        const std::string target = publisher.dir() / ("alt" + std::to_string(++alternatives_));
        EXPECT_EQ(Publish(extra, target, version).status, 0);
        return ReadFile(target + "/brellium/orvane.php");
    }
    // The signed text with the element's text changed, signed again with the key: what only the key holder could
    // serve, such as an expired catalogue, which the publisher refuses to make.
    std::string Resigned(const std::string& text, const std::string& key, const std::string& element,
                         const std::string& value) const {
        const std::string pair = BytesFromHex(ReadFile(Key(key) + ".key"), 64, "key");
        std::string unsignedText = text.substr(0, text.rfind("<signature")) + text.substr(text.rfind("</"));
        const std::size_t start = unsignedText.find("<" + element + ">") + element.size() + 2;
        unsignedText.replace(start, unsignedText.find("</" + element + ">") - start, value);
        return SignCatalogueText(unsignedText, {pair.substr(0, 32), pair.substr(32)});
    }
    std::string Served() const { return ReadFile(server.webRoot() + kProductCataloguePath); }
    // The man in the middle answers the catalogue request with this text.
    void Serve(const std::string& catalogue) {
        proxy.SetRewrite([catalogue](const std::string& target, std::string body) {
            return target.starts_with("/orvane/update/product/") ? catalogue : body;
        });
    }
    // Every file of the share and of the program folder but the run log, which says why a run stopped.
    std::pair<std::map<std::string, FileStamp>, std::map<std::string, FileStamp>> Stamps() const {
        return {StampsBelow(sandbox.share()), StampsBelow(sandbox.programFolder(), {"OVLog.txt"})};
    }

    NginxServer server{kQueryRule};
    TamperingProxy proxy{server.port()};
    WindowlessSandbox sandbox{proxy.port()};
    PublishRun publisher;

private:
    mutable int alternatives_ = 0;
};

std::vector<std::string> SignArguments(const SignedSite& site, const std::string& key, const std::string& serial,
                                       const std::string& expires = "") {
    std::vector<std::string> arguments{"--sign", site.Key(key) + ".key", "--serial", serial};
    if (!expires.empty()) arguments.insert(arguments.end(), {"--expires", expires});
    return arguments;
}

TEST(SignedRelease, VerifyingMirrorRefusesWhatAManInTheMiddleServesAndKeepsEveryFile) {
    SignedSite site;
    ASSERT_TRUE(site.server.running() && site.proxy.port() > 0);
    site.publisher.Source("records.db", "first records\n");
    site.publisher.Source("Tools/scan.sh", "#!/bin/sh\necho scan\n");
    ASSERT_EQ(site.Publish(SignArguments(site, "release", "1")).status, 0);
    const std::string lastWeek = site.Served();
    site.publisher.Source("records.db", "second records\n");
    ASSERT_EQ(site.Publish(SignArguments(site, "release", "2")).status, 0);
    const std::string current = site.Served();

    EXPECT_TRUE(EndedQuietly(site.sandbox.Mirror(), 0));
    EXPECT_EQ(ReadFile(site.sandbox.share() + "catalogue.signed.xml"), current);
    EXPECT_NE(ReadFile(site.sandbox.share() + "latest.xml").find("<sha256>"), std::string::npos);
    EXPECT_TRUE(EndedQuietly(site.sandbox.Client(), 0));
    EXPECT_EQ(ReadFile(site.sandbox.programFolder() + "records.db"), "second records\n");

    std::string flipped = current;
    flipped.at(flipped.find("<filename>records.db") + 10) ^= 1;
    const struct {
        const char* what;
        std::string catalogue;
        const char* reason;
    } cases[] = {
        {"another, unsigned catalogue", site.CatalogueOf({}), "not signed"},
        {"signed by an untrusted key", site.CatalogueOf(SignArguments(site, "other", "3")), "not valid for any key"},
        {"one byte changed", flipped, "not valid for any key"},
        {"a byte-order mark in front", "\xEF\xBB\xBF" + current, "not valid for any key"},
        {"bytes after the signature", current + "<update/>", "content after its signature"},
        {"last week's (rollback)", lastWeek, "older than 2"},
        {"expired (freeze)", site.Resigned(current, "release", "expires", "2020-01-01T00:00:00Z"),
         "expired at 2020-01-01T00:00:00Z"},
        {"another version line's, with a higher serial", site.CatalogueOf(SignArguments(site, "release", "9"), "6.0"),
         "published for BREL/6.0/abc, not for BREL/5.0/abc"},
    };
    for (const auto& c : cases) {
        site.Serve(c.catalogue);
        const auto before = site.Stamps();
        const ProgramRun run = site.sandbox.Mirror();
        EXPECT_TRUE(EndedQuietly(run, kCatalogueRefused)) << c.what;
        EXPECT_NE(run.errorOutput.find(c.reason), std::string::npos) << c.what << ": " << run.errorOutput;
        EXPECT_NE(ReadFile(site.sandbox.programFolder() + "OVLog.txt").find(c.reason), std::string::npos) << c.what;
        EXPECT_EQ(site.Stamps(), before) << c.what;
    }

    // Key rotation: a second trusted key signs the next release.
    site.proxy.SetRewrite({});
    site.Trust("other");
    site.publisher.Source("records.db", "third records\n");
    ASSERT_EQ(site.Publish(SignArguments(site, "other", "4")).status, 0);
    EXPECT_TRUE(EndedQuietly(site.sandbox.Mirror(), 0));
    EXPECT_TRUE(EndedQuietly(site.sandbox.Client(), 0));
    EXPECT_EQ(ReadFile(site.sandbox.programFolder() + "records.db"), "third records\n");
}

TEST(SignedRelease, AVerifyingMirrorRefusesAndNamesPackagesThatAreNotWhatWasSigned) {
    SignedSite site;
    ASSERT_TRUE(site.server.running() && site.proxy.port() > 0);
    const std::string records = "records of the release\n";
    site.publisher.Source("records.db", records);
    site.publisher.Source("notes.txt", "notes\n");
    ASSERT_EQ(site.Publish(SignArguments(site, "release", "1")).status, 0);
    const std::string forged = ForgedSameCrc(records);
    ASSERT_NE(forged, records);
    ASSERT_EQ(CrcUpdate(0, forged.data(), forged.size()), CrcUpdate(0, records.data(), records.size()));
    const struct {
        const char* what;
        std::string package;
        const char* reason;
    } cases[] = {
        {"forged to the same size and CRC", ZipArchive({{"records.db", forged}}), "wrong SHA-256"},
        {"genuine, with a main program and a state file planted beside it",
         ZipArchive({{"records.db", records}, {"brellium.exe", "#!/bin/sh\necho planted\n"}, {"OvState.ini", ""}}),
         "does not name (brellium.exe, OvState.ini)"},
    };
    for (const auto& c : cases) {
        site.proxy.SetRewrite([&](const std::string& target, std::string body) {
            return target == "/packages/database/records.db.zip" ? c.package : body;
        });
        const WindowlessSandbox verifying(site.proxy.port());
        fs::create_directories(verifying.programFolder() + "OvKeys");
        fs::copy_file(site.Key("release") + ".pub", verifying.programFolder() + "OvKeys/release.pub");
        // Off a terminal too, as cron would mail it: one line for the package, one for the run's status.
        const ProgramRun run = verifying.Mirror();
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_NE(run.errorOutput.find("refused  " + verifying.share() + "records.db: "), std::string::npos) << run.errorOutput;
        EXPECT_NE(run.errorOutput.find(c.reason), std::string::npos) << c.what << ": " << run.errorOutput;
        for (const char* absent : {"records.db", "brellium.exe", "OvState.ini"})
            EXPECT_FALSE(FileExists(verifying.share() + absent)) << c.what << ": " << absent;
        EXPECT_EQ(ReadFile(verifying.share() + "notes.txt"), "notes\n") << c.what;
        EXPECT_EQ(ReadFile(verifying.share() + "latest.xml").find("records.db"), std::string::npos) << c.what;
    }
    const WindowlessSandbox plain(site.proxy.port());
    EXPECT_TRUE(EndedQuietly(plain.Mirror(), 0));
    EXPECT_EQ(ReadFile(plain.share() + "records.db"), records);

    // A shared copy forged to the size and CRC of its entry is no current copy: the next run repairs it.
    site.proxy.SetRewrite({});
    EXPECT_TRUE(EndedQuietly(site.sandbox.Mirror(), 0));
    WriteFile(site.sandbox.share() + "records.db", forged);
    EXPECT_TRUE(EndedQuietly(site.sandbox.Mirror(), 0));
    EXPECT_EQ(ReadFile(site.sandbox.share() + "records.db"), records);
}

TEST(SignedRelease, AVerifyingClientWalksTheSignedCatalogueAndNamesWhatAShareWriterHeldBack) {
    const SignedSite site;
    ASSERT_TRUE(site.server.running());
    site.publisher.Source("records.db", "first records\n");
    site.publisher.Source("zebra.db", "first zebra\n");
    ASSERT_EQ(site.Publish(SignArguments(site, "release", "1")).status, 0);
    EXPECT_TRUE(EndedQuietly(site.sandbox.Mirror(), 0));
    EXPECT_TRUE(EndedQuietly(site.sandbox.Client(), 0));
    const std::string second = "second records\n";
    site.publisher.Source("records.db", second);
    site.publisher.Source("zebra.db", "second zebra\n");
    site.publisher.Source("sub/deep.db", "deep\n");
    ASSERT_EQ(site.Publish(SignArguments(site, "release", "2")).status, 0);
    EXPECT_TRUE(EndedQuietly(site.sandbox.Mirror(), 0));
    const auto share = [&](const std::string& file) { return site.sandbox.share() + file; };
    const auto installed = [&](const std::string& file) { return site.sandbox.programFolder() + file; };
    const std::string signedCatalogue = ReadFile(share("catalogue.signed.xml"));
    std::string flipped = signedCatalogue;
    flipped.at(flipped.find("<filename>records.db") + 10) ^= 1;
    const std::string elsewhere = site.publisher.dir() / "catalogue.signed.xml";
    WriteFile(elsewhere, signedCatalogue);

    const struct {
        const char* what;
        std::function<void()> tamper;
        int status;
        const char* reason;
        std::string records, zebra;  // the installed files afterwards ("" : as before the run)
    } cases[] = {
        {"signed catalogue missing", [&] { fs::remove(share("catalogue.signed.xml")); }, kCatalogueRefused,
         "cannot be read", "", ""},
        {"signed catalogue changed", [&] { WriteFile(share("catalogue.signed.xml"), flipped); }, kCatalogueRefused,
         "not valid for any key", "", ""},
        {"a link out of the share in its place",
         [&] {
             fs::remove(share("catalogue.signed.xml"));
             fs::create_symlink(elsewhere, share("catalogue.signed.xml"));
         },
         kCatalogueRefused, "not a regular file", "", ""},
        {"a FIFO in its place",
         [&] {
             fs::remove(share("catalogue.signed.xml"));
             ASSERT_EQ(mkfifo(share("catalogue.signed.xml").c_str(), 0600), 0);
         },
         kCatalogueRefused, "not a regular file", "", ""},
        {"latest.xml deleted, two copies forged to their size and CRC",
         [&] {
             fs::remove(share("catalogue.signed.xml"));
             WriteFile(share("catalogue.signed.xml"), signedCatalogue);
             fs::remove(share("latest.xml"));
             WriteFile(share("records.db"), ForgedSameCrc(second));
             WriteFile(share("sub/deep.db"), ForgedSameCrc("deep\n"));
         },
         1, "entries not brought up to date (2): ", "first records\n", "second zebra\n"},
        {"a copy of 3 MiB in place of 15 bytes", [&] { WriteFile(share("records.db"), std::string(3 << 20, 'x')); },
         1, "has 3145728 bytes, not the 15 of its signed entry", "first records\n", "second zebra\n"},
        {"the entry removed from latest.xml",
         [&] {
             WriteFile(share("records.db"), second);
             WriteFile(share("sub/deep.db"), "deep\n");
             WriteFile(share("latest.xml"), "<xml><update><database/></update></xml>");
         },
         0, "", second, "second zebra\n"},
    };
    for (const auto& c : cases) {
        c.tamper();
        const auto before = StampsBelow(site.sandbox.programFolder(), {"OVLog.txt"});
        const ProgramRun run = site.sandbox.Client();
        EXPECT_EQ(run.status, c.status) << c.what << ": " << run.errorOutput;
        EXPECT_NE(run.errorOutput.find(c.reason), std::string::npos) << c.what << ": " << run.errorOutput;
        if (c.records.empty()) {
            EXPECT_EQ(StampsBelow(site.sandbox.programFolder(), {"OVLog.txt"}), before) << c.what;
            continue;
        }
        EXPECT_EQ(ReadFile(installed("records.db")), c.records) << c.what;
        EXPECT_EQ(ReadFile(installed("zebra.db")), c.zebra) << c.what;
        // A folder is made only for a file that passed its check.
        EXPECT_EQ(fs::exists(installed("sub")), c.status == 0) << c.what;
    }

    // Without keys the share is trusted, as it always was: a forged copy is installed.
    WriteFile(share("records.db"), ForgedSameCrc(second));
    WriteFile(share("latest.xml"), ReadFile(share("catalogue.signed.xml")));
    fs::remove_all(site.sandbox.programFolder() + "OvKeys");
    WriteFile(installed("records.db"), "first records\n");
    EXPECT_TRUE(EndedQuietly(site.sandbox.Client(), 0));
    EXPECT_EQ(ReadFile(installed("records.db")), ForgedSameCrc(second));
}

}  // namespace
