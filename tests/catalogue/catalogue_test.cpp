#include "catalogue/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "http/http.h"
#include "platform/files.h"
#include "tests/support/environment.h"
#include "tests/support/pe_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zip_writer.h"

namespace {

using testsupport::ReadFile;
using testsupport::SetEnvironment;
using testsupport::UnsetEnvironment;
using testsupport::TempDir;
using testsupport::WriteFile;

TRef<TXmlDDocument> Load(const std::string& text) {
    TRef<TXmlDDocument> document(new TXmlDDocument());
    LoadXml(document.get(), text);
    return document;
}

const TXmlDNode* FirstEntry(const TXmlDDocument* document) {
    const TXmlDNode* found = nullptr;
    ForEachEntryCandidate(FindUpdateElement(document), [&](TXmlDNode* entry, TUpdateKind) {
        if (!found) found = entry;
    });
    return found;
}

// The path with this system's folder separator, which the program's paths use once it has touched them.
std::string Local(std::string path) {
    std::replace(path.begin(), path.end(), '/', platform::kPathDelimiter);
    return path;
}

std::string Entry(const std::string& fields) {
    return "<c><update><database><e>" + fields + "</e></database></update></c>";
}

TEST(CatalogueWalk, GroupsComeInTheFixedOrderAndRunOnlyAtTheTopLevel) {
    const auto document = Load(
        "<c><update><custom><e>c1</e></custom><program><e>p1</e></program><tools><e>t1</e><e>t2</e></tools>"
        "<unknown><e>u</e></unknown><database><e>d1</e></database></update><run><preinstall/></run></c>"
        "<run><postinstall/></run>");
    std::vector<std::pair<std::string, TUpdateKind>> seen;
    ForEachEntryCandidate(FindUpdateElement(document.get()), [&](TXmlDNode* entry, TUpdateKind kind) {
        seen.emplace_back(entry->GetText(), kind);
    });
    const std::vector<std::pair<std::string, TUpdateKind>> expected = {
        {"d1", ukDatabase}, {"t1", ukTools}, {"t2", ukTools}, {"p1", ukProgram}, {"c1", ukCustom}};
    EXPECT_EQ(seen, expected);
    // The run element inside the document element is not the one; the second top-level element is.
    ASSERT_NE(FindRunElement(document.get()), nullptr);
    EXPECT_NE(FindChild(FindRunElement(document.get()), "postinstall"), nullptr);
    EXPECT_NE(FindRunElement(Load("<run><update/></run>").get()), nullptr);

    // A text without any element, or without update, has no entries and no error.
    for (const char* text : {"<?xml version=\"1.0\"?>", "<c/>", "<c><update/></c>"}) {
        const auto empty = Load(text);
        EXPECT_EQ(FirstEntry(empty.get()), nullptr) << text;
        EXPECT_EQ(FindErrorElement(empty.get()), nullptr) << text;
    }
}

TEST(CatalogueEntry, RecordNeedsNameAndASafeFileName) {
    TUpdateElementRec record;
    record.Crc = 99;
    ASSERT_TRUE(ReadEntryRecord(FirstEntry(Load(Entry("<name/><filename>sub\\a.dll</filename><crc>-1</crc>"
                                                      "<size>$10</size><downloadsize>bad</downloadsize>"
                                                      "<download>http://h/a</download><action>x</action>"))
                                               .get()),
                                ukTools, record));
    EXPECT_EQ(record.FileName, "sub\\a.dll");
    EXPECT_EQ(record.Crc, -1);
    EXPECT_EQ(record.Size, 16);
    EXPECT_EQ(record.DownloadSize, 0);  // a number that does not convert reads as 0 here
    EXPECT_EQ(record.Download, "http://h/a");
    EXPECT_EQ(record.Action, "x");
    EXPECT_EQ(record.Kind, ukTools);

    // Each of these counts as no entry: a missing field, a field given as an attribute, a name leaving its folder
    // or naming one, or a size that does not convert (which must never read as "remove the file").
    for (const char* fields : {"<filename>a</filename>", "<name>a</name>",
                               "<name>a</name><filename>..\\a</filename>", "<name>a</name><filename>/etc/a</filename>",
                               "<name>a</name><filename>a/../../b</filename>",
                               "<name>a</name><filename>C:\\a</filename>",
                               "<name>a</name><filename>\\a</filename>", "<name>a</name><filename/>",
                               "<name>a</name><filename>.</filename>", "<name>a</name><filename>sub\\</filename>",
                               "<name>a</name><filename>a</filename><size>13 </size>",
                               "<name>a</name><filename>a</filename><size></size>",
                               "<name>a</name><filename>a</filename><size>4294967309</size>"}) {
        const auto document = Load(std::string("<c><update><database><e name=\"n\" filename=\"f\">") + fields +
                                   "</e></database></update></c>");
        EXPECT_FALSE(ReadEntryRecord(FirstEntry(document.get()), ukDatabase, record)) << fields;
    }
    // An empty name is present all the same; a size that is missing or converts to 0 means removal.
    for (const char* size : {"", "<size>0x0</size>"}) {
        ASSERT_TRUE(ReadEntryRecord(
            FirstEntry(Load(Entry(std::string("<name/><filename a=\"b\">f</filename>") + size)).get()), ukDatabase,
            record));
        EXPECT_EQ(record.Size, 0) << size;
    }
    // A field given twice counts by its first element, wherever the others stand.
    ASSERT_TRUE(ReadEntryRecord(FirstEntry(Load(Entry("<crc>1</crc><filename>a</filename><name/><crc>2</crc>"
                                                      "<filename>../b</filename><size>5</size><size>6</size>"))
                                               .get()),
                                ukDatabase, record));
    EXPECT_EQ(record.FileName, "a");
    EXPECT_EQ(record.Crc, 1);
    EXPECT_EQ(record.Size, 5);
    for (const char* safe : {"a", "sub/a", "..a", "a..", "...", "a\\..b\\c"})
        EXPECT_TRUE(IsSafeEntryFileName(safe)) << safe;
}

TEST(CatalogueEntry, PathsByKind) {
    EXPECT_EQ(EntryPath("/p/", ukDatabase, "a.db"), "/p/a.db");
    EXPECT_EQ(EntryPath("/p/", ukProgram, "b.exe"), "/p/b.exe");
    EXPECT_EQ(EntryPath("/p/", ukTools, "sub\\t.exe"), "/p/" + Local("Tools/sub/t.exe"));
    EXPECT_EQ(EntryPath("/d/", ukCustom, "c.txt"), "/d/c.txt");
    EXPECT_EQ(FolderOf(Local("/p/Tools/sub/t.exe")), Local("/p/Tools/sub/"));
    EXPECT_EQ(FileNamePart("x\\y/a.dll"), "a.dll");
}

TEST(CatalogueEntry, WizardEntryConvertsStrictlyAndHandsOnRequiredAndKilltask) {
    TempDir program;
    std::vector<std::string> killed;
    const TKillTaskHook hook = [&](const std::string& name, const TXmlDNode* kill) {
        killed.push_back(name + ":" + ChildText(kill, "filename").value_or("?"));
    };
    const auto document = Load(Entry(
        "<name>Tool</name><filename>t.exe</filename><crc>$FFFFFFFF</crc><size>0x20</size><downloadsize>7</downloadsize>"
        "<required>no</required><killtask><filename>t.exe</filename><ask>y</ask></killtask>"));
    const TBuiltEntry built = BuildUpdateElement(FirstEntry(document.get()), ukTools, program.path(), hook);
    ASSERT_TRUE(built.Element);
    EXPECT_EQ(Local(built.Element->FileName), Local(program / "Tools/t.exe"));
    EXPECT_EQ(built.Element->Crc, -1);
    EXPECT_EQ(built.Element->Size, 32);
    EXPECT_EQ(built.Element->DownloadSize, 7);
    EXPECT_EQ(built.Element->Kind, ukTools);
    EXPECT_TRUE(built.Required);  // presence counts, whatever the text says
    EXPECT_EQ(killed, std::vector<std::string>{"Tool:t.exe"});

    // A number that does not convert, an empty one included, ends the list building with the conversion error.
    for (const char* number : {"<crc></crc>", "<size>4294967295</size>", "<downloadsize>12 </downloadsize>"}) {
        const auto bad = Load(Entry(std::string("<name>n</name><filename>f</filename>") + number));
        try {
            BuildUpdateElement(FirstEntry(bad.get()), ukDatabase, program.path(), hook);
            ADD_FAILURE() << number;
        } catch (const EConvertError& error) {
            EXPECT_NE(std::string(error.what()).find("is not a valid integer value"), std::string::npos);
        }
    }
    EXPECT_FALSE(BuildUpdateElement(FirstEntry(Load(Entry("<name>n</name>")).get()), ukDatabase, program.path(), hook)
                     .Element);
}

TEST(CatalogueEntry, CustomDestinationIsExpandedCreatedAndAbsolute) {
    TempDir program;
    TempDir elsewhere;
    SetEnvironment("ORVANE_TEST_DEST", "expanded");
    EXPECT_EQ(ResolveDestinationFolder("", program.path()), program.path());
    EXPECT_EQ(ResolveDestinationFolder("%ORVANE_TEST_DEST%\\deep", program.path()), Local(program / "expanded/deep/"));
    EXPECT_TRUE(std::filesystem::is_directory(program / "expanded/deep"));
    EXPECT_EQ(ResolveDestinationFolder(elsewhere / "abs", program.path()), Local(elsewhere / "abs/"));
#ifdef _WIN32
    // A literal path, which the C++ library would make a folder of the current drive, keeps its form.
    const std::string literal = "\\\\?\\" + AbsoluteFolder(elsewhere.path()) + "literal\\";
    EXPECT_EQ(ResolveDestinationFolder(literal, program.path()), literal);
    EXPECT_TRUE(std::filesystem::is_directory(elsewhere / "literal"));
#endif

    const auto document = Load("<c><update><custom><e><name>n</name><filename>c.txt</filename>"
                               "<destination>custom</destination></e></custom></update></c>");
    const TBuiltEntry built = BuildUpdateElement(FirstEntry(document.get()), ukCustom, program.path(), {});
    ASSERT_TRUE(built.Element);
    EXPECT_EQ(built.Element->FileName, Local(program / "custom/c.txt"));

    // A destination blocked by a file cannot be made: an input/output error, not a silent fallback.
    WriteFile(program / "blocked", "x");
    EXPECT_THROW(ResolveDestinationFolder("blocked/sub", program.path()), EInOutError);
}

TEST(Identification, SizeFirstThenCrcAndRemovalByExistence) {
    TempDir dir;
    const std::string file = dir / "a.dat";
    EXPECT_FALSE(NeedsUpdate(file, 0, 0));  // removal entry, nothing to remove
    EXPECT_TRUE(NeedsUpdate(file, 3, 0));   // missing file
    WriteFile(file, "abc");
    const auto crc = static_cast<int32_t>(FileCrc(file));
    EXPECT_TRUE(NeedsUpdate(file, 0, crc));  // removal entry, file present
    EXPECT_FALSE(NeedsUpdate(file, 3, crc));
    EXPECT_TRUE(NeedsUpdate(file, 4, crc));
    EXPECT_TRUE(NeedsUpdate(file, -3, crc));  // a negative size never matches
    WriteFile(file, "abd");
    EXPECT_TRUE(NeedsUpdate(file, 3, crc));
    // The same 32-bit pattern whether written as hexadecimal or as a negative number.
    EXPECT_EQ(TextToInt("$CA6598D0", 0), TextToInt("-899311408", 0));
    std::filesystem::create_directory(dir / "folder");
    EXPECT_FALSE(NeedsUpdate(dir / "folder", 0, 0));  // a folder is no file
    EXPECT_TRUE(NeedsUpdate(dir / "folder", 3, 0));
}

TEST(Identification, VersionTextLosesBlanksAndControlCharacters) {
    TempDir dir;
    EXPECT_EQ(StripBlanks(" 1, 2,\t3, 4\x01\xC3\xA9"), "1,2,3,4\xC3\xA9");
    const std::string exe = dir / "main.exe";
    WriteFile(exe, pe::Image(pe::Serialize(pe::VersionInfo(u"040904b0", u"5, 1, 2, 34", {0x04b00409}))));
    EXPECT_EQ(FileVersionString(exe), "5,1,2,34");
    WriteFile(dir / "plain.exe", "MZ not really");
    EXPECT_EQ(FileVersionString(dir / "plain.exe"), "");
    EXPECT_EQ(FileVersionString(dir / "missing.exe"), "");
}

class PackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetEnvironment(testsupport::kTempFolderVariable, temp.path());
        download = dir / "download";
    }
    void TearDown() override { UnsetEnvironment(testsupport::kTempFolderVariable); }

    TempDir temp;
    TempDir dir;
    std::string download;
};

TEST_F(PackageTest, ZipIsUnpackedFlatAndTheRestLandsBesideTheStoredFile) {
    WriteFile(download, testsupport::DeflatedMember("x/y/a.dll", "library") +
                            testsupport::DeflatedMember("docs\\b.txt", "notes"));
    const std::string target = dir / "out/a.dll";
    const TPreparedPackage package = PreparePackage(download, target);
    EXPECT_FALSE(testsupport::FileExists(download));
    EXPECT_EQ(package.UnpackFolder, TempFolderPath() + "BR/");
    EXPECT_EQ(package.Candidate, package.UnpackFolder + "a.dll");
    EXPECT_EQ(ReadFile(package.Candidate), "library");
    const auto libraryCrc = static_cast<int32_t>(FileCrc(package.Candidate));
    EXPECT_EQ(CheckCandidate(package, 7, libraryCrc), TCandidateCheck::Matches);
    EXPECT_EQ(CheckCandidate(package, 8, 0), TCandidateCheck::SizeDiffers);
    EXPECT_EQ(CheckCandidate(package, 7, 0), TCandidateCheck::CrcDiffers);
    // With two members the candidate is read back, not judged by what was written.
    EXPECT_FALSE(package.CandidateCrc);
    WriteFile(package.Candidate, "LIBRARY");
    EXPECT_EQ(CheckCandidate(package, 7, libraryCrc), TCandidateCheck::CrcDiffers);
    WriteFile(package.Candidate, "library");

    std::filesystem::create_directory(dir / "out");
    FinishStoredPackage(package, target);
    RemoveUnpackFolder(package);
    EXPECT_EQ(ReadFile(dir / "out/b.txt"), "notes");
    EXPECT_FALSE(testsupport::FileExists(dir / "out/a.dll"));  // the candidate is the caller's to store
    EXPECT_FALSE(std::filesystem::exists(package.UnpackFolder));
}

TEST_F(PackageTest, PlainFilesEmptyArchivesAndNamelessMembers) {
    WriteFile(download, "plain bytes");
    TPreparedPackage package = PreparePackage(download, dir / "a.dll");
    EXPECT_EQ(package.UnpackFolder, "");
    EXPECT_EQ(package.Candidate, download);

    WriteFile(download, "PK but no member at all");
    package = PreparePackage(download, dir / "a.dll");
    EXPECT_EQ(package.Candidate, "");
    EXPECT_EQ(CheckCandidate(package, 5, 0), TCandidateCheck::SizeDiffers);

    // A lone member is judged by the CRC-32 it was written with; a lone member of another name is not.
    WriteFile(download, testsupport::DeflatedMember("sub/a.dll", "library"));
    package = PreparePackage(download, dir / "a.dll");
    ASSERT_TRUE(package.CandidateCrc);
    EXPECT_EQ(*package.CandidateCrc, FileCrc(package.Candidate));
    EXPECT_EQ(CheckCandidate(package, 7, static_cast<int32_t>(*package.CandidateCrc)), TCandidateCheck::Matches);
    WriteFile(download, testsupport::DeflatedMember("b.dll", "library"));
    package = PreparePackage(download, dir / "a.dll");
    EXPECT_FALSE(package.CandidateCrc);

    // A member whose name ends with a separator has no file name to write.
    WriteFile(download, testsupport::DeflatedMember("folder/", "x"));
    EXPECT_THROW(PreparePackage(download, dir / "a.dll"), EFOpenError);
    WriteFile(download, testsupport::LocalHeader("a.dll", 0, 1234, "abc", 3));
    EXPECT_ANY_THROW(PreparePackage(download, dir / "a.dll"));  // the member's CRC is wrong
}

// A package received in memory or in a file is judged as the same package downloaded and prepared the old way,
// but a plain package or a lone member of the entry's name is written once, as the given candidate file.
TEST_F(PackageTest, AReceivedPackageIsJudgedAsAPreparedOneAndWrittenOnceWhereItCan) {
    struct Case {
        const char* what;
        std::string bytes;
        bool oneFile;  // from memory: the candidate is the given file, its CRC taken as written
    };
    const Case cases[] = {
        {"plain", "plain bytes", true},
        {"lone member", testsupport::DeflatedMember("sub/a.dll", "library"), true},
        {"lone member of another name", testsupport::DeflatedMember("b.dll", "library"), false},
        {"two members", testsupport::DeflatedMember("a.dll", "library") + testsupport::DeflatedMember("c", "x"), false},
        {"no member", "PK but no member at all", false}};
    const std::string candidateFile = dir / "ahead/7";
    std::filesystem::create_directory(dir / "ahead");
    const auto contentOf = [](const TPreparedPackage& package) {
        return testsupport::FileExists(package.Candidate) ? ReadFile(package.Candidate) : "(none)";
    };
    for (const Case& c : cases)
        for (const bool inMemory : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (inMemory ? " in memory" : " in a file"));
            WriteFile(download, c.bytes);
            const TPreparedPackage old = PreparePackage(download, dir / "a.dll");
            const std::string oldContent = contentOf(old);
            const TCandidateCheck oldCheck = CheckCandidate(old, 7, static_cast<int32_t>(FileCrc(old.Candidate)));
            RemoveUnpackFolder(old);

            const std::string received = dir / "ahead/7.download";
            if (!inMemory) WriteFile(received, c.bytes);
            const TPreparedPackage package = PrepareReceivedPackage(
                inMemory ? TReceivedPackage{c.bytes, ""} : TReceivedPackage{"", received}, dir / "a.dll",
                candidateFile, dir / "unpack-7/", false);
            EXPECT_EQ(contentOf(package), oldContent);
            EXPECT_EQ(CheckCandidate(package, 7, static_cast<int32_t>(FileCrc(package.Candidate))), oldCheck);
            if (c.oneFile && inMemory) {
                EXPECT_EQ(package.Candidate, candidateFile);
                ASSERT_TRUE(package.CandidateCrc);
                EXPECT_EQ(*package.CandidateCrc, FileCrc(candidateFile));
            }
            // A zip received into a file is gone once read; a plain one is its own candidate.
            if (!inMemory) {
                EXPECT_EQ(testsupport::FileExists(received), c.bytes.rfind("PK", 0) != 0);
            }
            DiscardPreparedPackage(package);
            EXPECT_TRUE(std::filesystem::is_empty(dir / "ahead"));
            EXPECT_FALSE(std::filesystem::exists(dir / "unpack-7"));
        }
}

class RequestTest : public ::testing::Test {
protected:
    void SetUp() override { saved = Settings; }
    void TearDown() override { Settings = saved; }
    LaunchSettings saved;
};

TEST_F(RequestTest, UrlFormsAndWhenEachIsUsed) {
    EXPECT_EQ(ProductRequestUrl("h:81", "bRe", "1.0", "X y"),
              "http://h:81/orvane/update/product/BRE/version/1.0/code/X y/");
    EXPECT_EQ(QueryRequestUrl("h", "&code=1"), "http://h/brellium/orvane.php?request=update&code=1");
    SetEnvironment("ORVANE_UPDATE_SERVER", "update.test:90");
    Settings.Product = "p";
    Settings.Code = "c";
    Settings.Version = "v";
    EXPECT_EQ(CatalogueRequestUrl("demo.test", "&q"), "http://demo.test/orvane/update/product/P/version/v/code/c/");
    Settings.Product.clear();
    EXPECT_EQ(CatalogueRequestUrl("demo.test", "&q"), "http://update.test:90/brellium/orvane.php?request=update&q");
    UnsetEnvironment("ORVANE_UPDATE_SERVER");
    EXPECT_EQ(UpdateServerHost(), ORVANE_UPDATE_SERVER);
}

TEST_F(RequestTest, RequestSettingsAndProxy) {
    SetEnvironment("ORVANE_UPDATE_SERVER", "update.test:90");
    TIdHTTP http;
    http.Request().ContentLength = 55;
    PrepareCatalogueRequest(http);
    EXPECT_EQ(http.Host(), "update.test");
    EXPECT_EQ(http.Request().ContentLength, 0);
    EXPECT_EQ(http.Request().UserAgent, "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
    EXPECT_EQ(http.Request().Accept.substr(0, 10), "image/gif,");
    http.Request().ContentLength = 55;
    PrepareDownloadRequest(http);
    EXPECT_EQ(http.Host(), "");
    EXPECT_EQ(http.Request().ContentLength, 55);  // the download leaves it as it was
    UnsetEnvironment("ORVANE_UPDATE_SERVER");

    Settings.ProxyServer.clear();
    Settings.ProxyPort = 3128;
    ApplyProxySettings(http);
    EXPECT_EQ(http.ProxyParams().ProxyPort(), 0);  // no server: nothing changes
    Settings.ProxyServer = "proxy.test";
    Settings.ProxyPassword = "secret";
    Settings.ProxyBasicAuth = true;
    ApplyProxySettings(http);
    EXPECT_EQ(http.ProxyParams().ProxyServer(), "proxy.test");
    EXPECT_EQ(http.ProxyParams().ProxyPort(), 3128);
    EXPECT_EQ(http.ProxyParams().ProxyUsername(), "");
    EXPECT_EQ(http.ProxyParams().ProxyPassword(), "secret");
    EXPECT_TRUE(http.ProxyParams().BasicAuthentication());
}

TEST(RunLog, RequestRecordReplacesAndDownloadErrorsAppend) {
    TempDir program;
    const std::string saved = ProgramFolder;
    ProgramFolder = program.path();
    SaveRequestRecord({"http://h/one", "http://h/one"});
    EXPECT_EQ(ReadFile(program / "OVLog.txt"), "http://h/one\r\nhttp://h/one\r\n");
    SaveRequestRecord({"http://h/two"});
    AppendToRunLog("TDownloadThread.Execute ERROR: first");
    AppendToRunLog("TDownloadThread.Execute ERROR: second");
    const std::string log = ReadFile(program / "OVLog.txt");
    EXPECT_EQ(log.rfind("http://h/two\r\n", 0), 0u) << log;
    const size_t first = log.find(" TDownloadThread.Execute ERROR: first\r\n");
    const size_t second = log.find(" TDownloadThread.Execute ERROR: second\r\n");
    EXPECT_NE(first, std::string::npos);
    EXPECT_GT(second, first);
    EXPECT_EQ(log.back(), '\n');

    // A log that cannot be written is the caller's failure, never a silent loss.
    ProgramFolder = program / "missing/";
    EXPECT_THROW(AppendToRunLog("x"), EFOpenError);
    EXPECT_THROW(SaveRequestRecord({"u"}), EFOpenError);
    ProgramFolder = saved;
}

}  // namespace
