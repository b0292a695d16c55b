#pragma once
// The wizard form over a recording window, with a program folder of its own, a private temporary folder, and
// a real update server (nginx on loopback) for catalogues and packages.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "UnitOrvane/UnitOrvane.h"
#include "tests/UnitOrvane/recording_controls.h"
#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"

namespace testsupport {

// One catalogue entry. The installed file's size and CRC are those of content; a removal entry has size 0.
struct EntryFields {
    std::string name{};
    std::string fileName{};
    std::string content{};
    std::string download{};
    int downloadSize = -1;  // -1: no downloadsize element
    bool removal = false;
    std::string extra{};  // further elements, written as they are
};
std::string EntryXml(const EntryFields& fields);
// A group element ("database", "tools", "program", "custom") holding the entries.
std::string GroupXml(const std::string& group, const std::vector<EntryFields>& entries);
// A catalogue with the groups inside its update element, followed by a top-level run element when given.
std::string CatalogueXml(const std::string& groups, const std::string& run = "");

// Polls the condition for up to the given time.
bool Eventually(const std::function<bool()>& condition, int milliseconds = 3000);

class WizardTest : public ::testing::Test {
protected:
    WizardTest();
    void SetUp() override;
    void TearDown() override;

    // Creates the form with the program's arguments (element 0 the program) and runs FormCreate and FormShow.
    void Open(std::vector<std::string> arguments = {"orvane"});
    // Runs a handler as the toolkit does.
    void Run(const std::function<void()>& handler) { form->Dispatch(handler); }
    void Next() {
        Run([this] { form->ButtonNextClick(); });
    }
    // One timer tick, delivered only while the timer runs; false when it does not.
    bool Tick();
    // Next on the welcome page with the catalogue served, then the list page expected.
    void OpenListPage(const std::string& catalogue);

    // The text of a message key in the shipped language file.
    std::string Text(const std::string& key) const { return texts_.GetMessage(key); }
    std::string CatalogueUrl() const;
    void ServeCatalogue(const std::string& text);
    // Serves a package below a folder of this test; returns its URL.
    std::string ServePackage(const std::string& name, const std::string& content);
    std::string RunLog() const;
    // A shell script in the program folder, made executable; returns its path.
    std::string WriteScript(const std::string& relativePath, const std::string& body);
    // The main program: a script that appends "main:<arguments>" to MainLog() and, started as "run SECONDS",
    // stays that long before it appends "ended SECONDS".
    void WriteMainProgram();
    std::string MainLog() const { return programDir / "main.log"; }
    // What the main program has logged so far; empty before its first start.
    std::string MainLogText() const;
    std::string MainProgramPath() const { return ProgramFolder + Settings.MainExe; }

    TempDir scratch;  // $TMPDIR during the test
    TempDir programDir;
    NginxServer server;
    RecordingWizardWindow window;
    std::unique_ptr<TFormOrvane> form;

private:
    TFileLocalizer texts_;
    std::string savedTmpDir_;
};

}  // namespace testsupport
