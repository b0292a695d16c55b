#include "tests/UnitOrvane/wizard_fixture.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "OVCommon/OVCommon.h"

namespace testsupport {

namespace fs = std::filesystem;

namespace {

std::string CrcText(const std::string& content) {
    char text[16];
    std::snprintf(text, sizeof text, "$%08X", CrcUpdate(0, content.data(), content.size()));
    return text;
}

std::string Element(const std::string& name, const std::string& text) {
    return "<" + name + ">" + text + "</" + name + ">";
}

}  // namespace

std::string EntryXml(const EntryFields& fields) {
    std::string xml = Element("name", fields.name) + Element("filename", fields.fileName);
    if (fields.removal) {
        xml += Element("size", "0");
    } else {
        xml += Element("size", std::to_string(fields.content.size())) + Element("crc", CrcText(fields.content));
    }
    if (!fields.download.empty()) xml += Element("download", fields.download);
    if (fields.downloadSize >= 0) xml += Element("downloadsize", std::to_string(fields.downloadSize));
    return Element("entry", xml + fields.extra);
}

std::string GroupXml(const std::string& group, const std::vector<EntryFields>& entries) {
    std::string xml;
    for (const EntryFields& entry : entries) xml += EntryXml(entry);
    return Element(group, xml);
}

std::string CatalogueXml(const std::string& groups, const std::string& run) {
    return "<?xml version=\"1.0\"?>" + Element("catalogue", Element("update", groups)) +
           (run.empty() ? "" : Element("run", run));
}

bool Eventually(const std::function<bool()>& condition, int milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

WizardTest::WizardTest() : texts_(ORVANE_LANGUAGE_FOLDER) {}

void WizardTest::SetUp() {
    ASSERT_TRUE(server.running());
    if (const char* tmpDir = std::getenv("TMPDIR")) savedTmpDir_ = tmpDir;
    setenv("TMPDIR", scratch.path().c_str(), 1);
    setenv("ORVANE_UPDATE_SERVER", ("127.0.0.1:" + std::to_string(server.port())).c_str(), 1);
    ProgramFolder = programDir.path();
    Settings = LaunchSettings{};
    Settings.Product = "wiz";
    Settings.Code = "C1";
    Settings.Version = "1.0";
    // A name no other process on the machine has: the install run waits while a process of this name runs.
    Settings.MainExe = "ovm" + std::to_string(getpid());
    fs::create_directories(programDir / "OvLng");
    fs::copy_file(std::string(ORVANE_LANGUAGE_FOLDER) + "/english.lng", programDir / "OvLng/english.lng");
    Localizer = std::make_unique<TFileLocalizer>(ProgramFolder + "OvLng");
    window.ListViewItems.Changing = [this](int row) { return form->ListViewItemsChanging(row); };
}

void WizardTest::TearDown() {
    if (form) {
        Run([this] { form->FormDestroy(); });
        form.reset();
    }
    Localizer.reset();
    if (savedTmpDir_.empty())
        unsetenv("TMPDIR");
    else
        setenv("TMPDIR", savedTmpDir_.c_str(), 1);
    unsetenv("ORVANE_UPDATE_SERVER");
}

void WizardTest::Open(std::vector<std::string> arguments) {
    form = std::make_unique<TFormOrvane>(window.Controls(), window, std::move(arguments));
    Run([this] { form->FormCreate(); });
    Run([this] { form->FormShow(); });
}

bool WizardTest::Tick() {
    if (!window.tmrSched.Enabled()) return false;
    Run([this] { form->tmrSchedTimer(); });
    return true;
}

void WizardTest::OpenListPage(const std::string& catalogue) {
    ServeCatalogue(catalogue);
    Open();
    Next();
    ASSERT_EQ(form->Page, 3);
    ASSERT_TRUE(window.Window.Exceptions().empty()) << window.Window.Exceptions().front();
}

std::string WizardTest::CatalogueUrl() const { return server.Url("/orvane/update/product/WIZ/version/1.0/code/C1/"); }

void WizardTest::ServeCatalogue(const std::string& text) {
    server.AddFile("orvane/update/product/WIZ/version/1.0/code/C1/index.html", text);
}

std::string WizardTest::ServePackage(const std::string& name, const std::string& content) {
    server.AddFile("packages/" + name, content);
    return server.Url("/packages/" + name);
}

namespace {

std::string TextOrNothing(const std::string& path) { return FileExists(path) ? ReadFile(path) : ""; }

}  // namespace

std::string WizardTest::RunLog() const { return TextOrNothing(programDir / "OVLog.txt"); }

std::string WizardTest::MainLogText() const { return TextOrNothing(MainLog()); }

std::string WizardTest::WriteScript(const std::string& relativePath, const std::string& body) {
    const std::string path = programDir / relativePath;
    fs::create_directories(fs::path(path).parent_path());
    WriteFile(path, "#!/bin/sh\n" + body + "\n");
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    return path;
}

void WizardTest::WriteMainProgram() {
    WriteScript(Settings.MainExe, "echo \"main:$*\" >> '" + MainLog() + "'\n" +
                                      "if [ \"$1\" = run ]; then sleep \"$2\"; echo \"ended $2\" >> '" + MainLog() +
                                      "'; fi");
}

}  // namespace testsupport
