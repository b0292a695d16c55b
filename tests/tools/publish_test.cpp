// orvane-publish: its web root read back with the program's own catalogue code and zip reader, the options
// that shape entries, repeatable output swapped in whole, and the inputs it refuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>

#include "OVCommon/OVCommon.h"
#include "catalogue/catalogue.h"
#include "delta/delta.h"
#include "signing/signing.h"
#include "tests/e2e/windowless_sandbox.h"
#include "tests/tools/publish_support.h"
#include "zip/zip.h"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

// Without a trailing '/': the publisher adds it.
const std::string kBaseUrl = "http://updates.example.com:8080/brel";
const std::string kQueryCatalogue = "brellium/orvane.php";

TRef<TXmlDDocument> Load(const std::string& text) {
    TRef<TXmlDDocument> document(new TXmlDDocument());
    LoadXml(document.get(), text);
    return document;
}

// The entries as the windowless modes read them, in the order they handle them.
std::vector<TUpdateElementRec> Records(const TXmlDDocument* catalogue) {
    std::vector<TUpdateElementRec> records;
    ForEachEntryCandidate(FindUpdateElement(catalogue), [&](TXmlDNode* candidate, TUpdateKind kind) {
        TUpdateElementRec record;
        if (ReadEntryRecord(candidate, kind, record)) records.push_back(record);
    });
    return records;
}

std::string UrlDecoded(const std::string& text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

// The names of a folder's entries.
std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

class Publisher : public ::testing::Test {
protected:
    std::string Target(const std::string& name = "www") const { return run.dir() / (name + "/"); }
    std::string WebFile(const std::string& path) const { return ReadFile(Target() + path); }
    TRef<TXmlDDocument> Catalogue() const { return Load(WebFile(kQueryCatalogue)); }

    PublishRun run;
};

struct SourceFile {
    TUpdateKind kind;
    std::string fileName;  // as the catalogue names it
    std::string content;
    bool zipped;
};

TEST_F(Publisher, CatalogueAndPackagesReadBackAsTheProgramChecksThem) {
    const std::string binary("\xFF\x00\x7F\x80 tool library\xFE", 19);
    const std::vector<std::pair<std::string, SourceFile>> files = {
        {"archive.db", {ukDatabase, "archive.db", "PK\x03\x04 looks like a zip archive", true}},
        {"records.db", {ukDatabase, "records.db", std::string(2000, 'r'), false}},
        {"rules/extra.db", {ukDatabase, "rules\\extra.db", "more records\n", false}},
        {"Tools/scan.sh", {ukTools, "scan.sh", "#!/bin/sh\necho scan\n", false}},
        {"Tools/sub/helper.dll", {ukTools, "sub\\helper.dll", binary, false}},
        {"brellium.exe", {ukProgram, "brellium.exe", "#!/bin/sh\nexit 0\n", true}},
        {"Custom/notes #1.txt", {ukCustom, "notes #1.txt", "notes\n", true}}};
    for (const auto& [path, file] : files) run.Source(path, file.content);
    const auto published = run.Publish(Target(), kBaseUrl,
                                       {"--plain", "*.db", "--plain", "Tools/*", "--remove", "tools:old\\gone.dll",
                                        "--remove", "custom:stale.txt", "--product", "Brel", "--version", "5.0",
                                        "--code", "abc"});
    ASSERT_EQ(published.status, 0) << published.errorOutput;
    EXPECT_EQ(published.errorOutput, "");
    // The product request's path upper-cases the product, as the program does.
    EXPECT_EQ(WebFile("orvane/update/product/BREL/version/5.0/code/abc/index.html"), WebFile(kQueryCatalogue));

    const std::vector<TUpdateElementRec> records = Records(Catalogue().get());
    std::vector<std::pair<TUpdateKind, std::string>> order;
    for (const TUpdateElementRec& record : records) order.emplace_back(record.Kind, record.FileName);
    const std::vector<std::pair<TUpdateKind, std::string>> expectedOrder = {
        {ukDatabase, "archive.db"},   {ukDatabase, "records.db"}, {ukDatabase, "rules\\extra.db"},
        {ukTools, "scan.sh"},         {ukTools, "sub\\helper.dll"}, {ukTools, "old\\gone.dll"},
        {ukProgram, "brellium.exe"}, {ukCustom, "notes #1.txt"},   {ukCustom, "stale.txt"}};
    ASSERT_EQ(order, expectedOrder);

    const TempDir installed;
    for (const TUpdateElementRec& record : records) {
        SCOPED_TRACE(record.FileName);
        const auto source = std::find_if(files.begin(), files.end(), [&](const auto& file) {
            return file.second.kind == record.Kind && file.second.fileName == record.FileName;
        });
        if (source == files.end()) {  // a removal
            EXPECT_EQ(record.Size, 0);
            EXPECT_EQ(record.Download, "");
            continue;
        }
        ASSERT_TRUE(record.Download.starts_with(kBaseUrl + "/packages/"));
        const std::string package = Target() + UrlDecoded(record.Download.substr(kBaseUrl.size() + 1));
        EXPECT_EQ(record.DownloadSize, static_cast<int32_t>(fs::file_size(package)));
        std::string content = ReadFile(package);
        EXPECT_EQ(IsZipFile(package), source->second.zipped);
        if (IsZipFile(package)) {
            TZipFile zip;
            zip.LoadFromFile(package);
            ASSERT_EQ(zip.Count(), 1);
            EXPECT_EQ(zip.MemberName(0), FileNamePart(record.FileName));
            content = zip.Extract(0);
            EXPECT_EQ(std::system(("unzip -tqq '" + package + "' >/dev/null").c_str()), 0);
        }
        EXPECT_EQ(content, source->second.content);
        // Installed where the client puts it, the file is the one the entry describes.
        const std::string path = EntryPath(installed.path(), record.Kind, record.FileName);
        fs::create_directories(fs::path(path).parent_path());
        WriteFile(path, content);
        EXPECT_FALSE(NeedsUpdate(path, record.Size, record.Crc));
    }
    EXPECT_EQ(records[7].Download, kBaseUrl + "/packages/custom/notes%20%231.txt.zip");
}

TEST_F(Publisher, WizardFieldsAndProgramsToRun) {
    for (const char* path : {"records.db", "brellium.exe", "Extras/a.cfg", "Extras/b.cfg"}) run.Source(path, path);
    const auto published = run.Publish(
        Target(), kBaseUrl,
        {"--custom-dir", "Extras", "--required", "records.db", "--destination", "Extras/a.cfg=extras\\a",
         "--destination=*=extras\\all", "--killtask", "brellium.exe=Brellium,brellium.exe,ask", "--killtask",
         "records.db=Indexer,indexer", "--preinstall", "stop.sh", "--preinstall-parameters", "/quiet now",
         "--postinstall=start.sh", "--postinstall-nowait"});
    ASSERT_EQ(published.status, 0) << published.errorOutput;
    // Without a product, only the query request is answered.
    EXPECT_EQ(Listing(Target()), (std::set<std::string>{"brellium", "packages"}));

    const auto catalogue = Catalogue();
    const TempDir programFolder;
    const std::string program = AddBackslash(fs::canonical(programFolder.path()).string());
    std::map<std::string, std::pair<std::string, std::string>> killTasks;  // entry -> program, ask
    const TKillTaskHook hook = [&](const std::string& name, const TXmlDNode* killTask) {
        killTasks[name] = {ChildText(killTask, "filename").value_or(""), ChildText(killTask, "ask").value_or("-")};
        EXPECT_TRUE(ChildText(killTask, "name").has_value());
    };
    std::map<std::string, bool> required;
    std::vector<std::string> paths;
    ForEachEntryCandidate(FindUpdateElement(catalogue.get()), [&](TXmlDNode* candidate, TUpdateKind kind) {
        TBuiltEntry entry = BuildUpdateElement(candidate, kind, program, hook);
        if (!entry.Element) return;
        required[entry.Element->Name] = entry.Required;
        paths.push_back(entry.Element->FileName);
    });
    EXPECT_EQ(required, (std::map<std::string, bool>{{"records.db", true},
                                                     {"brellium.exe", false},
                                                     {"Extras/a.cfg", false},
                                                     {"Extras/b.cfg", false}}));
    EXPECT_EQ(paths, (std::vector<std::string>{program + "records.db", program + "brellium.exe",
                                               program + "extras/a/a.cfg", program + "extras/all/b.cfg"}));
    EXPECT_EQ(killTasks, (std::map<std::string, std::pair<std::string, std::string>>{
                             {"brellium.exe", {"brellium.exe", "Y"}}, {"records.db", {"indexer", "-"}}}));

    const TXmlDNode* runs = FindRunElement(catalogue.get());
    ASSERT_NE(runs, nullptr);
    const TXmlDNode* before = FindChild(runs, "preinstall");
    const TXmlDNode* after = FindChild(runs, "postinstall");
    ASSERT_TRUE(before && after);
    EXPECT_EQ(ChildText(before, "filename"), "stop.sh");
    EXPECT_EQ(ChildText(before, "parameters"), "/quiet now");
    EXPECT_EQ(FindChild(before, "nowait"), nullptr);
    EXPECT_EQ(ChildText(after, "filename"), "start.sh");
    EXPECT_EQ(ChildText(after, "parameters"), std::nullopt);
    EXPECT_NE(FindChild(after, "nowait"), nullptr);
}

TEST_F(Publisher, SameFolderGivesTheSameBytesAndANewReleaseReplacesTheWholeWebRoot) {
    run.Source("records.db", "records\n");
    run.Source("Tools/scan.sh", "#!/bin/sh\n");
    run.Source("Custom/rules.txt", "rules\n");
    ASSERT_EQ(run.Publish(Target(), kBaseUrl).status, 0);
    // Neither a file's time nor the moment of publishing reaches the output.
    fs::last_write_time(run.source() + "records.db", fs::file_time_type::clock::now() - std::chrono::hours(50));
    ASSERT_EQ(run.Publish(Target("again"), kBaseUrl).status, 0);
    EXPECT_EQ(FilesBelow(Target()), FilesBelow(Target("again")));

    // Published again over itself with one file changed and one gone: exactly what a fresh web root would hold.
    run.Source("records.db", "changed records\n");
    fs::remove(run.source() + "Tools/scan.sh");
    ASSERT_EQ(run.Publish(Target(), kBaseUrl).status, 0);
    ASSERT_EQ(run.Publish(Target("fresh"), kBaseUrl).status, 0);
    EXPECT_EQ(FilesBelow(Target()), FilesBelow(Target("fresh")));
    EXPECT_FALSE(FileExists(Target() + "packages/tools/scan.sh.zip"));
    // Each target keeps the history of its releases beside it.
    EXPECT_EQ(Listing(run.dir().path()), (std::set<std::string>{"src", "www", "again", "fresh", "www.history",
                                                                "again.history", "fresh.history"}));

    // A folder that holds something else is never replaced.
    run.Source("../mine/letter.txt", "keep me\n");
    const auto refused = run.Publish(Target("mine"), kBaseUrl);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.errorOutput.find("neither empty nor a web root published before"), std::string::npos);
    EXPECT_EQ(FilesBelow(Target("mine")), (std::map<std::string, std::string>{{"letter.txt", "keep me\n"}}));
}

TEST_F(Publisher, RefusedInputsLeaveTheWebRootAsItWas) {
    run.Source("records.db", "records\n");
    run.Source("Custom/rules.txt", "rules\n");
    ASSERT_EQ(run.Publish(Target(), kBaseUrl).status, 0);
    const auto before = FilesBelow(Target());
    const auto historyBefore = FilesBelow(run.dir() / "www.history");
    const auto expectRefused = [&](const ProgramRun& refused, int status, const std::string& reason) {
        EXPECT_EQ(refused.status, status);
        EXPECT_TRUE(refused.errorOutput.starts_with("orvane-publish: ")) << refused.errorOutput;
        EXPECT_NE(refused.errorOutput.find(reason), std::string::npos) << refused.errorOutput;
        EXPECT_EQ(std::count(refused.errorOutput.begin(), refused.errorOutput.end(), '\n'), 1) << refused.errorOutput;
        EXPECT_EQ(FilesBelow(Target()), before);
        EXPECT_EQ(FilesBelow(run.dir() / "www.history"), historyBefore);
        EXPECT_EQ(Listing(run.dir().path()), (std::set<std::string>{"src", "www", "www.history"}));
    };

    const std::string source = run.source();
    const std::string target = Target();
    const auto plainRun = [&](const std::vector<std::string>& arguments) { return run.Run(arguments); };
    expectRefused(plainRun({"--source", run.dir() / "missing", "--target", target, "--base-url", kBaseUrl}), 1,
                  "does not exist");
    expectRefused(run.Publish(source + "site", kBaseUrl), 1, "lies inside the source folder");
    expectRefused(run.Publish(run.dir().path(), kBaseUrl), 1, "lies inside the target");
    expectRefused(run.Publish(target, kBaseUrl, {"--required", "missing.db"}), 1, "does not hold");
    expectRefused(run.Publish(target, kBaseUrl, {"--destination", "records.db=x"}), 1, "no custom file");
    expectRefused(run.Publish(target, kBaseUrl, {"--remove", "database:records.db"}), 1, "that the release holds");
    expectRefused(plainRun({"--source", source, "--target", target}), 2, "--base-url is required");
    expectRefused(run.Publish(target, "https://secure.example.com"), 2, "http:// URL");
    expectRefused(run.Publish(target, kBaseUrl, {"--product", "Brel"}), 2, "go together");
    expectRefused(run.Publish(target, kBaseUrl, {"--product", "Brel", "--version", "5", "--code", "a/b"}), 2,
                  "--code may hold only");
    expectRefused(run.Publish(target, kBaseUrl, {"--killtask", "records.db=Indexer"}), 2, "--killtask takes");
    expectRefused(run.Publish(target, kBaseUrl, {"--zip"}), 2, "unknown option");
    expectRefused(run.Publish(target, kBaseUrl, {"--deltas", "-1"}), 2, "--deltas takes a count from 0 to 100");
    expectRefused(run.Publish(target, kBaseUrl, {"--delta-level", "23"}), 2, "--delta-level takes a level");
    // A history inside the target would go with the next swap of the web root.
    expectRefused(run.Publish(target, kBaseUrl, {"--history", target + "history"}), 1, "must lie apart");

    run.Source("empty.db", "");
    expectRefused(run.Publish(target, kBaseUrl), 1, "empty.db: an empty file cannot be published");
    fs::remove(source + "empty.db");
    run.Source("records.db", "changed records\n");  // its new version is put aside, then dropped with the rest
    // Reading this file fails whoever runs the test: the publisher's own memory at address 0.
    fs::create_symlink("/proc/self/mem", source + "unreadable.db");
    expectRefused(run.Publish(target, kBaseUrl), 1, "cannot read " + source + "unreadable.db");
    fs::remove(source + "unreadable.db");
    fs::create_symlink(source + "Custom", source + "linked");
    expectRefused(run.Publish(target, kBaseUrl), 1, "linked: not a regular file");
    fs::remove(source + "linked");

    // Signing mistakes that would freeze every installation trusting the key publish nothing.
    const TempDir keys;
    ASSERT_EQ(run.Run({"keygen", "--out", keys / "k"}).status, 0);
    const std::vector<std::string> line{"--product", "Brel", "--version", "5", "--code", "a"};
    const auto signedRun = [&](const std::string& key, const std::vector<std::string>& extra) {
        std::vector<std::string> arguments = line;
        arguments.insert(arguments.end(), {"--sign", key});
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return run.Publish(target, kBaseUrl, arguments);
    };
    const auto servedSerial = [&] { return ReadReleaseStamp(Catalogue().get()).Serial; };
    const uint64_t serialNow = std::stoull(UtcTimeText(UtcNow()).substr(0, 4)) * 10000000000ull;
    ASSERT_EQ(signedRun(keys / "k.key", {}).status, 0);
    const uint64_t first = servedSerial();
    EXPECT_GE(first, serialNow);  // from the time: a rebuilt target never goes back
    ASSERT_EQ(signedRun(keys / "k.key", {}).status, 0);
    EXPECT_GT(servedSerial(), first);
    const auto signedBefore = FilesBelow(Target());
    const auto expectSigningRefused = [&](const ProgramRun& refused, int status, const std::string& reason) {
        EXPECT_EQ(refused.status, status);
        EXPECT_NE(refused.errorOutput.find(reason), std::string::npos) << refused.errorOutput;
        EXPECT_EQ(FilesBelow(Target()), signedBefore);
    };
    expectSigningRefused(signedRun(keys / "k.key", {"--serial", std::to_string(first)}), 1, "is not above");
    expectSigningRefused(signedRun(keys / "k.key", {"--expires", "2020-01-01T00:00:00Z"}), 2, "is in the past");
    expectSigningRefused(run.Publish(target, kBaseUrl, {"--sign", keys / "k.key"}), 2,
                         "--sign needs --product, --version and --code");
    const std::string pair = ReadFile(keys / "k.key");
    WriteFile(keys / "mixed.key", pair.substr(0, 64) + HexText(GenerateKeyPair().Public) + "\n");
    expectSigningRefused(signedRun(keys / "mixed.key", {}), 1, "do not match");
    // keygen never leaves half a pair, nor touches an existing file.
    WriteFile(keys / "half.pub", "mine\n");
    EXPECT_EQ(run.Run({"keygen", "--out", keys / "half"}).status, 1);
    EXPECT_EQ(ReadFile(keys / "half.pub"), "mine\n");
    EXPECT_FALSE(fs::exists(keys / "half.key"));
}

// Fixed-size records with a serial number and random bytes, like the product's databases.
std::string Record(std::mt19937& random, size_t serial) {
    std::string record = std::to_string(serial) + ":";
    while (record.size() < 100) record += static_cast<char>('a' + random() % 26);
    return record;
}

TEST_F(Publisher, DifferencesFromTheKeptVersionsRebuildTheNewFileAndTheHistoryStaysBounded) {
    const TempDir keys;
    ASSERT_EQ(run.Run({"keygen", "--out", keys / "k"}).status, 0);
    const std::string history = run.dir() / "www.history/";
    // Publishes signed and reads back each entry's offered differences, as the programs read them.
    const auto publish = [&](const std::vector<std::string>& extra) {
        std::vector<std::string> arguments{"--product", "Brel", "--version", "5", "--code", "a", "--sign",
                                           keys / "k.key"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const auto published = run.Publish(Target(), kBaseUrl, arguments);
        EXPECT_EQ(published.status, 0) << published.errorOutput;
        const std::string text = WebFile(kQueryCatalogue);
        EXPECT_NO_THROW(VerifyCatalogueSignature(text, {BytesFromHex(ReadFile(keys / "k.pub"), 32, "key")}));
        const auto catalogue = Load(text);
        std::map<std::string, std::vector<TDeltaRef>> offered;
        ForEachEntryCandidate(FindUpdateElement(catalogue.get()), [&](TXmlDNode* entry, TUpdateKind) {
            offered[ChildText(entry, "filename").value_or("")] = ReadDeltas(entry);
        });
        return std::pair(offered, Records(catalogue.get()));
    };

    // Three releases of a 200 KB database, each changing ten records, inserting one and deleting one.
    std::mt19937 random(29);
    std::vector<std::string> records;
    for (size_t i = 0; i < 2000; ++i) records.push_back(Record(random, i));
    std::vector<std::string> versions;
    const TempDir work;
    for (size_t release = 0; release < 3; ++release) {
        SCOPED_TRACE(release);
        for (int changed = 0; release > 0 && changed < 10; ++changed) records[random() % records.size()] = Record(random, 0);
        if (release > 0) {
            records.insert(records.begin() + static_cast<std::ptrdiff_t>(random() % records.size()), Record(random, 1));
            records.erase(records.begin() + static_cast<std::ptrdiff_t>(random() % records.size()));
        }
        std::string large;
        for (const std::string& record : records) large += record;
        versions.push_back(large);
        run.Source("large.db", large);
        run.Source("small.db", std::string(10 * 1024, static_cast<char>('a' + release)));
        const auto [offered, entries] = publish({"--deltas", "2"});
        EXPECT_TRUE(offered.at("small.db").empty());  // below 64 KB
        // The entry reads as before for programs that know nothing of differences.
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].Size, static_cast<int32_t>(large.size()));
        EXPECT_TRUE(entries[0].Download.ends_with("/packages/database/large.db.zip"));
        // One difference from each kept version: none at first, then the first, then the first two.
        const std::vector<TDeltaRef>& deltas = offered.at("large.db");
        ASSERT_EQ(deltas.size(), release);
        for (size_t base = 0; base < release; ++base) {
            const TDeltaRef& delta = deltas[base];
            EXPECT_EQ(delta.BaseSize, static_cast<int64_t>(versions[base].size()));
            EXPECT_EQ(delta.BaseSha256, Sha256Hex(versions[base]));
            ASSERT_TRUE(delta.Download.starts_with(kBaseUrl + "/deltas/database/large.db."));
            const std::string deltaFile = Target() + UrlDecoded(delta.Download.substr(kBaseUrl.size() + 1));
            const std::string bytes = ReadFile(deltaFile);
            EXPECT_EQ(delta.Size, static_cast<int32_t>(bytes.size()));
            EXPECT_EQ(delta.Sha256, Sha256Hex(bytes));
            EXPECT_LT(bytes.size(), large.size() / 20);
            WriteFile(work / "base", versions[base]);
            ApplyDelta(work / "base", deltaFile, work / "rebuilt", static_cast<int64_t>(large.size()), {});
            EXPECT_EQ(ReadFile(work / "rebuilt"), large);
        }
    }
    // The history holds the last two versions of each file, and only these.
    EXPECT_EQ(FilesBelow(history).size(), 1 + 2 * 3u);  // its mark; per file, its name and two versions

    // Published again unchanged, without the small file: no difference, and the small file's history goes.
    fs::remove(run.source() + "small.db");
    EXPECT_TRUE(publish({"--deltas", "2"}).first.at("large.db").empty());
    EXPECT_EQ(FilesBelow(history).size(), 1 + 3u);

    // --deltas 0: none offered, and no history kept.
    run.Source("large.db", versions[0]);
    EXPECT_TRUE(publish({"--deltas", "0"}).first.at("large.db").empty());
    EXPECT_FALSE(fs::exists(Target() + "deltas"));
    EXPECT_FALSE(fs::exists(history));
}

}  // namespace
