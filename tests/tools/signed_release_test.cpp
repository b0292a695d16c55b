// Signed releases end to end: orvane-publish signs them into a real nginx's web root, served through a proxy
// that rewrites bodies, and the built program's mirror and client, with keys in OvKeys/, refuse what that man in
// the middle or a writer on the share changes, keeping every file; without keys they behave as before.
#include <gtest/gtest.h>

#include <filesystem>

#include "OVCommon/OVCommon.h"
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
    ProgramRun Publish(const std::vector<std::string>& extra, const std::string& target = "") const {
        std::vector<std::string> arguments{"--product", kProduct, "--version", kVersion, "--code", kCode};
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
    std::string CatalogueOf(const std::vector<std::string>& extra) const {
        const std::string target = publisher.dir() / ("alt" + std::to_string(++alternatives_));
        EXPECT_EQ(Publish(extra, target).status, 0);
        return ReadFile(target + "/" + kProductCataloguePath);
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
        {"last week's (rollback)", lastWeek, "older than 2"},
        {"expired (freeze)", site.CatalogueOf(SignArguments(site, "release", "3", "2020-01-01T00:00:00Z")),
         "expired at 2020-01-01T00:00:00Z"},
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

TEST(SignedRelease, AForgedPackageOfTheSameSizeAndCrcIsStoredOnlyWithoutKeys) {
    SignedSite site;
    ASSERT_TRUE(site.server.running() && site.proxy.port() > 0);
    const std::string records = "records of the release\n";
    site.publisher.Source("records.db", records);
    site.publisher.Source("notes.txt", "notes\n");
    ASSERT_EQ(site.Publish(SignArguments(site, "release", "1")).status, 0);
    const std::string forged = ForgedSameCrc(records);
    ASSERT_NE(forged, records);
    ASSERT_EQ(CrcUpdate(0, forged.data(), forged.size()), CrcUpdate(0, records.data(), records.size()));
    site.proxy.SetRewrite([&](const std::string& target, std::string body) {
        return target == "/packages/database/records.db.zip" ? ZipArchive({{"records.db", forged}}) : body;
    });

    EXPECT_TRUE(EndedQuietly(site.sandbox.Mirror(), 0));
    EXPECT_FALSE(FileExists(site.sandbox.share() + "records.db"));
    EXPECT_EQ(ReadFile(site.sandbox.share() + "notes.txt"), "notes\n");
    EXPECT_EQ(ReadFile(site.sandbox.share() + "latest.xml").find("records.db"), std::string::npos);

    const WindowlessSandbox plain(site.proxy.port());
    EXPECT_TRUE(EndedQuietly(plain.Mirror(), 0));
    EXPECT_EQ(ReadFile(plain.share() + "records.db"), forged);
}

TEST(SignedRelease, AVerifyingClientTrustsTheSignedCatalogueOnTheShareNotTheShare) {
    const SignedSite site;
    ASSERT_TRUE(site.server.running());
    site.publisher.Source("records.db", "first records\n");
    site.publisher.Source("notes.txt", "notes\n");
    ASSERT_EQ(site.Publish(SignArguments(site, "release", "1")).status, 0);
    EXPECT_TRUE(EndedQuietly(site.sandbox.Mirror(), 0));
    EXPECT_TRUE(EndedQuietly(site.sandbox.Client(), 0));
    const std::string second = "second records\n";
    site.publisher.Source("records.db", second);
    ASSERT_EQ(site.Publish(SignArguments(site, "release", "2")).status, 0);
    EXPECT_TRUE(EndedQuietly(site.sandbox.Mirror(), 0));
    const std::string signedCatalogue = ReadFile(site.sandbox.share() + "catalogue.signed.xml");
    std::string flipped = signedCatalogue;
    flipped.at(flipped.find("<filename>records.db") + 10) ^= 1;

    const auto share = [&](const std::string& file) { return site.sandbox.share() + file; };
    const struct {
        const char* what;
        std::function<void()> tamper;
        int status;
        const char* reason;
    } cases[] = {
        {"signed catalogue missing", [&] { fs::remove(share("catalogue.signed.xml")); }, kCatalogueRefused,
         "cannot be read"},
        {"signed catalogue changed", [&] { WriteFile(share("catalogue.signed.xml"), flipped); }, kCatalogueRefused,
         "not valid for any key"},
        {"shared copy forged to the same size and CRC",
         [&] {
             WriteFile(share("catalogue.signed.xml"), signedCatalogue);
             WriteFile(share("records.db"), ForgedSameCrc(second));
         },
         1, "does not have the SHA-256"},
    };
    for (const auto& c : cases) {
        c.tamper();
        const auto before = StampsBelow(site.sandbox.programFolder(), {"OVLog.txt"});
        const ProgramRun run = site.sandbox.Client();
        EXPECT_EQ(run.status, c.status) << c.what;
        EXPECT_NE(run.errorOutput.find(c.reason), std::string::npos) << c.what << ": " << run.errorOutput;
        EXPECT_EQ(StampsBelow(site.sandbox.programFolder(), {"OVLog.txt"}), before) << c.what;
    }
    EXPECT_EQ(ReadFile(site.sandbox.programFolder() + "records.db"), "first records\n");

    // Without keys the share is trusted, as it always was: the forged copy is installed.
    fs::remove_all(site.sandbox.programFolder() + "OvKeys");
    EXPECT_TRUE(EndedQuietly(site.sandbox.Client(), 0));
    EXPECT_EQ(ReadFile(site.sandbox.programFolder() + "records.db"), ForgedSameCrc(second));
}

}  // namespace
