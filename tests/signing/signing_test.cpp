// The signing subsystem against libgcrypt: digests of known texts, signed catalogues and what breaks them, the
// release state's refusals, and the keys an installation trusts.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "signing/signing.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

const std::string kCatalogue =
    "<catalogue>\n  <update><database><file><name>a</name><filename>a.db</filename>"
    "<sha256>00</sha256></file></database></update>\n"
    "  <release><serial>7</serial><expires>2030-01-31T12:00:00Z</expires></release>\n</catalogue>\n";

TEST(Signing, Sha256OfKnownTextsWholeOrInPieces) {
    const struct {
        std::string text;
        std::string digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Sha256Hex(c.text), c.digest) << c.text;
        TSha256 pieces;
        for (const char byte : c.text) pieces.Update(&byte, 1);
        EXPECT_EQ(pieces.HexDigest(), c.digest) << c.text;
    }
}

TEST(Signing, SignedCatalogueVerifiesOnlyAsSignedByATrustedKey) {
    const TKeyPair key = GenerateKeyPair(), other = GenerateKeyPair();
    const std::string signedText = SignCatalogueText(kCatalogue, key);
    const size_t at = signedText.rfind("<signature>");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(signedText.substr(0, at), kCatalogue.substr(0, kCatalogue.rfind("</")));
    std::string flipped = signedText;
    flipped[kCatalogue.find("a.db")] = 'b';
    std::string badBase64 = signedText;
    badBase64[at + 12] = '*';
    const std::string large = SignCatalogueText("<catalogue>" + std::string(200000, ' ') + "</catalogue>", key);
    const struct {
        const char* what;
        std::string text;
        std::vector<std::string> keys;
        bool verifies;
    } cases[] = {
        {"as signed", signedText, {key.Public}, true},
        {"larger than 64 KiB", large, {key.Public}, true},
        {"either of two keys (rotation)", signedText, {other.Public, key.Public}, true},
        {"closing tags and blanks after it", signedText + "</x>\r\n  \n", {key.Public}, true},
        {"another key only", signedText, {other.Public}, false},
        {"no keys", signedText, {}, false},
        {"one byte changed", flipped, {key.Public}, false},
        {"not signed", kCatalogue, {key.Public}, false},
        {"an element after it", signedText + "<update/>", {key.Public}, false},
        {"text after it", signedText + "x", {key.Public}, false},
        {"signature not base64", badBase64, {key.Public}, false},
        {"signature cut short", signedText.substr(0, at + 30) + "</signature></catalogue>", {key.Public}, false},
        {"signed part swapped", "<catalogue>" + signedText.substr(at), {key.Public}, false},
    };
    for (const auto& c : cases) {
        bool verified = true;
        try {
            VerifyCatalogueSignature(c.text, c.keys);
        } catch (const ESignatureError&) {
            verified = false;
        }
        EXPECT_EQ(verified, c.verifies) << c.what;
    }
}

TEST(Signing, ReleaseStateRefusesRollbackAndFreezeAndKeepsTheHighestSerial) {
    const TempDir dir;
    const int64_t now = ParseUtcTime("2030-01-01T00:00:00Z");
    TReleaseState state(dir / "OvState.ini");
    const struct {
        const char* what;
        TReleaseStamp stamp;
        bool accepted;
        uint64_t highestAfter;
    } steps[] = {
        {"first", {5, now + 60}, true, 5},
        {"same again", {5, now + 60}, true, 5},
        {"newer", {9, now + 60}, true, 9},
        {"older (rollback)", {8, now + 60}, false, 9},
        {"expired (freeze)", {10, now}, false, 9},
        {"newer still", {10, now + 1}, true, 10},
    };
    for (const auto& step : steps) {
        bool accepted = true;
        try {
            state.Accept(step.stamp, now);
        } catch (const ESignatureError&) {
            accepted = false;
        }
        EXPECT_EQ(accepted, step.accepted) << step.what;
        EXPECT_EQ(TReleaseState(dir / "OvState.ini").HighestSerial(), step.highestAfter) << step.what;
    }
    WriteFile(dir / "OvState.ini", "[release]\nserial=12x\n");
    EXPECT_THROW(state.Accept({20, now + 60}, now), ESignatureError);
}

TEST(Signing, StampsAndTimesReadBackOrAreRefused) {
    EXPECT_EQ(UtcTimeText(ParseUtcTime("2030-01-31T12:34:56Z")), "2030-01-31T12:34:56Z");
    for (const char* bad : {"2030-01-31 12:34:56Z", "2030-13-01T00:00:00Z", "2030-01-31T12:34:56", "",
                            "2030-01-31T12:34:56Z ", "2030-1-31T12:34:56Z"})
        EXPECT_THROW(ParseUtcTime(bad), ESignatureError) << bad;
    TRef<TXmlDDocument> document(new TXmlDDocument());
    LoadXml(document.get(), "<catalogue/>");
    AddReleaseStamp(DocumentElement(document.get()), {42, ParseUtcTime("2030-01-31T12:00:00Z")});
    const TReleaseStamp stamp = ReadReleaseStamp(document.get());
    EXPECT_EQ(stamp.Serial, 42u);
    EXPECT_EQ(UtcTimeText(stamp.Expires), "2030-01-31T12:00:00Z");
    for (const char* bad : {"<catalogue/>", "<catalogue><release><serial>-1</serial><expires>2030-01-31T12:00:00Z"
                                            "</expires></release></catalogue>",
                            "<catalogue><release><serial>1</serial></release></catalogue>"}) {
        LoadXml(document.get(), bad);
        EXPECT_THROW(ReadReleaseStamp(document.get()), ESignatureError) << bad;
    }
}

TEST(Signing, TrustedKeysAreEveryPubFileAndABadOneFailsTheVerifier) {
    const TempDir dir;
    EXPECT_FALSE(TCatalogueVerifier(dir.path()).Active());
    const TKeyPair first = GenerateKeyPair(), second = GenerateKeyPair();
    platform::ForceDirectories(dir / "OvKeys");
    WriteFile(dir / "OvKeys/b.pub", HexText(second.Public) + "\n");
    WriteFile(dir / "OvKeys/a.pub", HexText(first.Public));
    WriteFile(dir / "OvKeys/readme.txt", "not a key");
    EXPECT_EQ(LoadTrustedKeys(dir.path()), (std::vector<std::string>{first.Public, second.Public}));

    const std::string signedText = SignCatalogueText(kCatalogue, second);
    TRef<TXmlDDocument> loaded(new TXmlDDocument());
    LoadXml(loaded.get(), signedText);
    TCatalogueVerifier verifier(dir.path());
    ASSERT_TRUE(verifier.Active());
    EXPECT_NO_THROW(verifier.Accept(signedText, loaded.get(), ParseUtcTime("2029-01-01T00:00:00Z")));
    EXPECT_EQ(TReleaseState(dir / "OvState.ini").HighestSerial(), 7u);

    WriteFile(dir / "OvKeys/c.pub", "0011");
    TCatalogueVerifier damaged(dir.path());
    EXPECT_TRUE(damaged.Active());
    EXPECT_THROW(damaged.Accept(signedText, loaded.get(), ParseUtcTime("2029-01-01T00:00:00Z")), ESignatureError);
}

}  // namespace
