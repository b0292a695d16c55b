// The signing subsystem against libgcrypt: digests of known texts, signed catalogues and what breaks them, the
// release state's refusals, and the keys an installation trusts.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/files.h"
#include "signing/signing.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

// The signature's last base64 digit with the bits the padding leaves unused set: the same bytes, another text.
std::string NonCanonicalBase64(std::string text) {
    char& digit = text.at(text.rfind("==</signature>") - 1);
    const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    digit = digits.at(digits.find(digit) ^ 1);
    return text;
}

const std::string kCatalogue =
    "<catalogue>\n  <update><database><file><name>a</name><filename>a.db</filename>"
    "<sha256>00</sha256></file></database></update>\n"
    "  <release><product>Brel</product><version>5.0</version><code>abc</code><serial>7</serial>"
    "<expires>2030-01-31T12:00:00Z</expires></release>\n</catalogue>\n";
const TProductLine kLine{"Brel", "5.0", "abc"};

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
        {"base64 with unused bits set", NonCanonicalBase64(signedText), {key.Public}, false},
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
    // S + L, the group order, is the same signature to the curve's arithmetic; only S below L is accepted.
    std::string signature = Sign("message", key);
    ASSERT_TRUE(VerifySignature("message", signature, key.Public));
    static constexpr unsigned char kOrder[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                                                 0xa2, 0xde, 0xf9, 0xde, 0x14, 0,    0,    0,    0,    0,    0,
                                                 0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10};
    for (unsigned i = 0, carry = 0; i < 32; ++i) {
        const unsigned sum = static_cast<unsigned char>(signature[32 + i]) + kOrder[i] + carry;
        signature[32 + i] = static_cast<char>(sum & 0xFF);
        carry = sum >> 8;
    }
    EXPECT_FALSE(VerifySignature("message", signature, key.Public));
}

TEST(Signing, ReleaseStateRefusesRollbackAndFreezePerLineAndFailsClosedWhenDamaged) {
    const TempDir dir;
    const int64_t now = ParseUtcTime("2030-01-01T00:00:00Z");
    TReleaseState state(dir / "OvState.ini");
    const TProductLine other{"Brel", "6.0", "abc"};
    const struct {
        const char* what;
        TReleaseStamp stamp;
        bool accepted;
        uint64_t highestAfter;  // of kLine
    } steps[] = {
        {"first", {kLine, 5, now + 60}, true, 5},
        {"same again", {kLine, 5, now + 60}, true, 5},
        {"newer", {kLine, 9, now + 60}, true, 9},
        {"another line's higher serial", {other, 50, now + 60}, true, 9},
        {"another line's lower serial", {other, 7, now + 60}, false, 9},
        {"older (rollback)", {kLine, 8, now + 60}, false, 9},
        {"expired (freeze)", {kLine, 10, now}, false, 9},
        {"newer still", {kLine, 10, now + 1}, true, 10},
    };
    for (const auto& step : steps) {
        bool accepted = true;
        try {
            state.Accept(step.stamp, now);
        } catch (const ESignatureError&) {
            accepted = false;
        }
        EXPECT_EQ(accepted, step.accepted) << step.what;
        EXPECT_EQ(TReleaseState(dir / "OvState.ini").HighestSerial(kLine), step.highestAfter) << step.what;
    }
    EXPECT_EQ(state.HighestSerial(other), 50u);
    // The state of the first versions, one serial for every line, still holds every line back.
    WriteFile(dir / "OvState.ini", "[release]\r\nserial=12\r\n");
    EXPECT_THROW(state.Accept({other, 11, now + 60}, now), ESignatureError);
    for (const char* damaged : {"[release]\nserial=12x\n", "", "[other]\nx=1\n", "[release]\nBREL/5.0/abc\n"}) {
        WriteFile(dir / "OvState.ini", damaged);
        EXPECT_THROW(state.Accept({kLine, 20, now + 60}, now), ESignatureError) << damaged;
        EXPECT_EQ(testsupport::ReadFile(dir / "OvState.ini"), damaged);
    }
}

TEST(Signing, StampsAndTimesReadBackOrAreRefused) {
    EXPECT_EQ(UtcTimeText(ParseUtcTime("2030-01-31T12:34:56Z")), "2030-01-31T12:34:56Z");
    for (const char* bad : {"2030-01-31 12:34:56Z", "2030-13-01T00:00:00Z", "2030-01-31T12:34:56", "",
                            "2030-01-31T12:34:56Z ", "2030-1-31T12:34:56Z"})
        EXPECT_THROW(ParseUtcTime(bad), ESignatureError) << bad;
    TRef<TXmlDDocument> document(new TXmlDDocument());
    LoadXml(document.get(), "<catalogue/>");
    AddReleaseStamp(DocumentElement(document.get()), {kLine, 42, ParseUtcTime("2030-01-31T12:00:00Z")});
    const TReleaseStamp stamp = ReadReleaseStamp(document.get());
    EXPECT_EQ(stamp.Serial, 42u);
    EXPECT_EQ(stamp.Line.Text(), "BREL/5.0/abc");
    EXPECT_EQ(UtcTimeText(stamp.Expires), "2030-01-31T12:00:00Z");
    for (const char* bad : {"<catalogue/>", "<catalogue><release><serial>-1</serial><expires>2030-01-31T12:00:00Z"
                                            "</expires></release></catalogue>",
                            "<catalogue><release><serial>1</serial></release></catalogue>",
                            "<catalogue><release><product>a/b</product><version>1</version><code>c</code>"
                            "<serial>1</serial><expires>2030-01-31T12:00:00Z</expires></release></catalogue>"}) {
        LoadXml(document.get(), bad);
        EXPECT_THROW(ReadReleaseStamp(document.get()), ESignatureError) << bad;
    }
}

TEST(Signing, TrustedKeysAreEveryPubFileAndAnythingUnreadableFailsClosed) {
    const TempDir dir;
    EXPECT_FALSE(TCatalogueVerifier(dir.path()).Active());
    for (const auto& [what, make] : std::vector<std::pair<const char*, std::function<void()>>>{
             {"a file named OvKeys", [&] { WriteFile(dir / "OvKeys", "x"); }},
             {"an empty OvKeys", [&] { platform::ForceDirectories(dir / "OvKeys"); }},
         }) {
        make();
        EXPECT_TRUE(TCatalogueVerifier(dir.path()).Active()) << what;
        EXPECT_THROW(LoadTrustedKeys(dir.path()), ESignatureError) << what;
        std::filesystem::remove_all(dir / "OvKeys");
    }
    const TKeyPair first = GenerateKeyPair(), second = GenerateKeyPair();
    platform::ForceDirectories(dir / "OvKeys");
    WriteFile(dir / "OvKeys/b.pub", HexText(second.Public) + "\n");
    WriteFile(dir / "OvKeys/a.pub", HexText(first.Public));
    WriteFile(dir / "OvKeys/readme.txt", "not a key");
    EXPECT_EQ(LoadTrustedKeys(dir.path()), (std::vector<std::string>{first.Public, second.Public}));

    const std::string signedText = SignCatalogueText(kCatalogue, second);
    TRef<TXmlDDocument> loaded(new TXmlDDocument());
    const int64_t before = ParseUtcTime("2029-01-01T00:00:00Z");
    TCatalogueVerifier verifier(dir.path());
    ASSERT_TRUE(verifier.Active());
    // The request names what it knows; a catalogue of another line is refused and leaves no state behind.
    for (const TProductLine& request : {TProductLine{"brel", "6.0", "abc"}, TProductLine{"", "5.0", "xyz"}}) {
        try {
            verifier.Accept(signedText, request, loaded.get(), before);
            ADD_FAILURE() << request.Text();
        } catch (const ESignatureError& failure) {
            EXPECT_EQ(failure.Refusal(), TRefusal::OtherLine) << failure.Message();
        }
        EXPECT_FALSE(platform::FileExists(dir / "OvState.ini"));
    }
    EXPECT_NO_THROW(verifier.Accept(signedText, {"brel", "5.0", ""}, loaded.get(), before));
    EXPECT_EQ(TReleaseState(dir / "OvState.ini").HighestSerial(kLine), 7u);

    WriteFile(dir / "OvKeys/c.pub", "0011");
    TCatalogueVerifier damaged(dir.path());
    EXPECT_TRUE(damaged.Active());
    EXPECT_THROW(damaged.Accept(signedText, kLine, loaded.get(), before), ESignatureError);
}

}  // namespace
