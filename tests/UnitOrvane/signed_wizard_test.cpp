// The wizard of a verifying installation (a public key in OvKeys/), reaching the server through a proxy that
// rewrites bodies: catalogues that are not signed by that key, older than the last one accepted or expired fail
// as a catalogue request does, with the reason in the run log; a package without the SHA-256 of its signed entry
// fails its row and keeps the old file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

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
    EntryFields Entry(const std::string& name, const std::string& content, const std::string& package,
                      const std::string& sha256) {
        std::string url = ServePackage(name, package);
        const std::string port = ":" + std::to_string(server.port());
        url.replace(url.find(port), port.size(), ":" + std::to_string(proxy->port()));
        return {.name = name, .fileName = name + ".dat", .content = content, .download = url,
                .extra = sha256.empty() ? "" : "<sha256>" + sha256 + "</sha256>"};
    }
    // The man in the middle answers requests whose target starts with the prefix with this body.
    void Tamper(const std::string& prefix, const std::string& body) {
        proxy->SetRewrite([prefix, body](const std::string& target, std::string real) {
            return target.starts_with(prefix) ? body : real;
        });
    }

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
    for (const char* name : {"good", "forged", "unhashed", "planted"})
        WriteFile(programDir / (std::string(name) + ".dat"), "old");
    const std::string content = "the database of this release\n";
    Tamper("/packages/forged", ForgedSameCrc(content));
    const std::string planted =
        ZipArchive({{"planted.dat", content}, {Settings.MainExe, "#!/bin/sh\necho planted\n"}, {"OvState.ini", ""}});
    OpenListPage(Signed(CatalogueXml(GroupXml("database", {Entry("good", content, content, Sha256Hex(content)),
                                                           Entry("forged", content, content, Sha256Hex(content)),
                                                           Entry("unhashed", content, content, ""),
                                                           Entry("planted", content, planted, Sha256Hex(content))})),
                        key, 6));
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
    };
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(list.Status(row), rows[row].status) << rows[row].file;
        EXPECT_EQ(ReadFile(programDir / rows[row].file), rows[row].after) << rows[row].file;
    }
    EXPECT_FALSE(std::filesystem::exists(programDir / Settings.MainExe));
    EXPECT_EQ(ReadFile(programDir / "OvState.ini"), "[release]\r\nWIZ/1.0/C1=6\r\n");
    // Every refused package is in the run log, which an unattended run leaves for the administrator.
    for (const char* reason : {"forged.dat is refused: wrong SHA-256", "unhashed.dat is refused: wrong SHA-256",
                               "is refused: it holds files its signed entry does not name: " })
        EXPECT_NE(RunLog().find(reason), std::string::npos) << reason << "\n" << RunLog();
}

}  // namespace
}  // namespace testsupport
