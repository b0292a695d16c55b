// The wizard of a verifying installation (a public key in OvKeys/), reaching the server through a proxy that
// rewrites bodies: catalogues that are not signed by that key, older than the last one accepted or expired fail
// as a catalogue request does, with the reason in the run log; a package without the SHA-256 of its signed entry
// fails its row and keeps the old file, and a difference not vouched for by its signed SHA-256 gives way to the
// package.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include "delta/delta.h"
#include "signing/signing.h"
#include "tests/UnitOrvane/wizard_fixture.h"
#include "tests/support/crc_forgery.h"
#include "tests/support/tampering_proxy.h"
#include "tests/support/zip_writer.h"

namespace testsupport {
namespace {

class SignedWizardTest : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        proxy = std::make_unique<TamperingProxy>(server.port());
        ASSERT_GT(proxy->port(), 0);
        setenv("ORVANE_UPDATE_SERVER", ("127.0.0.1:" + std::to_string(proxy->port())).c_str(), 1);
        std::filesystem::create_directories(programDir / "OvKeys");
        WriteFile(programDir / "OvKeys/release.pub", HexText(key.Public) + "\n");
        WriteFile(programDir / "OvState.ini", "[release]\r\nWIZ/1.0/C1=5\r\n");
    }
    // The catalogue with a release stamp, signed.
    static std::string Signed(const std::string& catalogue, const TKeyPair& by, uint64_t serial,
                              int64_t expires = UtcNow() + 3600, const std::string& version = "1.0") {
        const std::string stamp = "<release><product>wiz</product><version>" + version + "</version><code>C1</code>"
                                  "<serial>" + std::to_string(serial) + "</serial><expires>" +
                                  UtcTimeText(expires) + "</expires></release>";
        const size_t close = catalogue.rfind("</");
        return SignCatalogueText(catalogue.substr(0, close) + stamp + catalogue.substr(close), by);
    }
    // Serves the file; its URL leads through the proxy.
    std::string ServeProxied(const std::string& name, const std::string& body) {
        std::string url = ServePackage(name, body);
        const std::string port = ":" + std::to_string(server.port());
        return url.replace(url.find(port), port.size(), ":" + std::to_string(proxy->port()));
    }
    EntryFields Entry(const std::string& name, const std::string& content, const std::string& package,
                      const std::string& sha256, const std::string& extra = "") {
        return {.name = name, .fileName = name + ".dat", .content = content, .download = ServeProxied(name, package),
                .extra = (sha256.empty() ? "" : "<sha256>" + sha256 + "</sha256>") + extra};
    }
    // The man in the middle answers requests whose target starts with a prefix with that prefix's body.
    void Tamper(const std::map<std::string, std::string>& bodies) {
        proxy->SetRewrite([bodies](const std::string& target, std::string real) {
            for (const auto& [prefix, body] : bodies)
                if (target.starts_with(prefix)) return body;
            return real;
        });
    }
    void Tamper(const std::string& prefix, const std::string& body) { Tamper({{prefix, body}}); }

    const TKeyPair key = GenerateKeyPair();
    std::unique_ptr<TamperingProxy> proxy;
};

TEST_F(SignedWizardTest, RefusedCataloguesAreFailedRequestsThatSayWhyWithTheReasonLogged) {
    const std::string catalogue = CatalogueXml(GroupXml("database", {{.name = "Db", .fileName = "db.dat", .content = "x"}}));
    const std::string refused = Text("MsgOV30").substr(0, Text("MsgOV30").find("%s"));
    const struct {
        const char* what;
        std::string served;
        const char* reason;
        std::string box;  // the part of the box's text that names the reason
    } cases[] = {
        {"unsigned", catalogue, "not signed", Text("MsgOV31")},
        {"signed by another key", Signed(catalogue, GenerateKeyPair(), 6), "not valid for any key", Text("MsgOV31")},
        {"a byte-order mark in front", "\xEF\xBB\xBF" + Signed(catalogue, key, 6), "not valid for any key",
         Text("MsgOV31")},
        {"older than the last accepted (rollback)", Signed(catalogue, key, 4), "older than 5", Text("MsgOV32")},
        {"expired (freeze)", Signed(catalogue, key, 6, UtcNow() - 1), "expired at", Text("MsgOV33")},
        {"another version's, with a higher serial", Signed(catalogue, key, 9, UtcNow() + 3600, "2.0"),
         "published for WIZ/2.0/C1", Text("MsgOV34")},
    };
    ServeCatalogue(Signed(catalogue, key, 6));
    Open();
    size_t boxes = 0;
    for (const auto& c : cases) {
        Tamper("/orvane/", c.served);
        Next();
        ASSERT_EQ(window.Window.Boxes().size(), ++boxes) << c.what;
        EXPECT_EQ(window.Window.Boxes().back().text.find(refused), 0u) << c.what;
        EXPECT_NE(window.Window.Boxes().back().text.find(c.box), std::string::npos) << c.what;
        EXPECT_EQ(form->Page, 1) << c.what;
        EXPECT_NE(RunLog().find(c.reason), std::string::npos) << c.what << ": " << RunLog();
        EXPECT_EQ(ReadFile(programDir / "OvState.ini"), "[release]\r\nWIZ/1.0/C1=5\r\n") << c.what;
    }
    proxy->SetRewrite({});
    Next();
    EXPECT_EQ(form->Page, 3);
    EXPECT_EQ(window.Window.Boxes().size(), boxes);
    EXPECT_EQ(TReleaseState(programDir / "OvState.ini").HighestSerial({"wiz", "1.0", "C1"}), 6u);
}

TEST_F(SignedWizardTest, OnlyPackagesOfTheirSignedSha256AndNothingElseAreInstalled) {
    const char* const names[] = {"good", "forged", "unhashed", "planted", "patched", "swapped", "uncovered"};
    for (const char* name : names) WriteFile(programDir / (std::string(name) + ".dat"), "old");
    const std::string content = "the database of this release\n";
    const TempDir work;
    WriteFile(work / "old", "old");
    WriteFile(work / "content", content);
    MakeDelta(work / "old", work / "content", work / "delta");
    const std::string delta = ReadFile(work / "delta");
    std::string swapped = delta;
    swapped.back() ^= 1;
    // Differences from the installed "old": the signed one, one that the proxy swaps, one the signature does not
    // cover since the catalogue gives no SHA-256 for it.
    const auto deltaXml = [&](const std::string& name, bool hashed) {
        return "<delta><basesize>3</basesize><basesha256>" + Sha256Hex("old") + "</basesha256><size>" +
               std::to_string(delta.size()) + "</size>" + (hashed ? "<sha256>" + Sha256Hex(delta) + "</sha256>" : "") +
               "<download>" + ServeProxied(name + ".delta", delta) + "</download></delta>";
    };
    Tamper({{"/packages/forged", ForgedSameCrc(content)}, {"/packages/swapped.delta", swapped}});
    const std::string planted =
        ZipArchive({{"planted.dat", content}, {Settings.MainExe, "#!/bin/sh\necho planted\n"}, {"OvState.ini", ""}});
    const std::string sha256 = Sha256Hex(content);
    const std::vector<EntryFields> entries = {
        Entry("good", content, content, sha256),
        Entry("forged", content, content, sha256),
        Entry("unhashed", content, content, ""),
        Entry("planted", content, planted, sha256),
        Entry("patched", content, content, sha256, deltaXml("patched", true)),
        Entry("swapped", content, content, sha256, deltaXml("swapped", true)),
        Entry("uncovered", content, content, sha256, deltaXml("uncovered", false))};
    OpenListPage(Signed(CatalogueXml(GroupXml("database", entries)), key, 6));
    Next();
    ASSERT_TRUE(window.Window.Exceptions().empty()) << window.Window.Exceptions().front();
    const RecordingListView& list = window.ListViewItems;
    const struct {
        const char* file;
        std::string status;
        std::string after;
    } rows[] = {
        {"good.dat", Text("MsgOV9"), content},
        {"forged.dat", Text("MsgOV18"), "old"},
        {"unhashed.dat", Text("MsgOV18"), "old"},
        {"planted.dat", Text("MsgOV18"), "old"},
        {"patched.dat", Text("MsgOV9"), content},
        {"swapped.dat", Text("MsgOV9"), content},
        {"uncovered.dat", Text("MsgOV9"), content},
    };
    for (int row = 0; row < static_cast<int>(std::size(rows)); ++row) {
        EXPECT_EQ(list.Status(row), rows[row].status) << rows[row].file;
        EXPECT_EQ(ReadFile(programDir / rows[row].file), rows[row].after) << rows[row].file;
    }
    EXPECT_FALSE(std::filesystem::exists(programDir / Settings.MainExe));
    EXPECT_EQ(ReadFile(programDir / "OvState.ini"), "[release]\r\nWIZ/1.0/C1=6\r\n");
    // Every refused package is in the run log, which an unattended run leaves for the administrator.
    for (const char* reason : {"forged.dat is refused: wrong SHA-256", "unhashed.dat is refused: wrong SHA-256",
                               "is refused: it holds files its signed entry does not name: " })
        EXPECT_NE(RunLog().find(reason), std::string::npos) << reason << "\n" << RunLog();
    // A difference the signature does not vouch for is never applied: the package comes instead.
    for (const char* reason : {"swapped.dat was not used (the difference's SHA-256 is not the catalogue's)",
                               "uncovered.dat was not used (the difference has no SHA-256"})
        EXPECT_NE(RunLog().find(reason), std::string::npos) << reason << "\n" << RunLog();
    EXPECT_EQ(RunLog().find("patched.dat was not used"), std::string::npos) << RunLog();
    const std::string accessLog = server.AccessLog();
    EXPECT_EQ(accessLog.find("/packages/patched HTTP/"), std::string::npos) << accessLog;
    EXPECT_NE(accessLog.find("/packages/patched.delta HTTP/"), std::string::npos) << accessLog;
}

}  // namespace
}  // namespace testsupport
