#include "tests/support/wizard_window_fixture.h"

#include <filesystem>
#include <thread>

#include "OVCommon/OVCommon.h"
#include "tests/support/environment.h"

namespace testsupport {

namespace fs = std::filesystem;

std::string Package(std::size_t size, char seed) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>(seed + i % 31);
    return content;
}

void WizardWindowTest::PrepareProgramFolder(const std::string& language) {
    programFolder = folder / (language + std::to_string(++folders) + "/");
    fs::create_directories(programFolder + "OvLng");
    for (const auto& file : fs::directory_iterator(ORVANE_LANGUAGE_FOLDER))
        fs::copy_file(file.path(), programFolder + "OvLng/" + file.path().filename().string());
    WriteFile(programFolder + "common.ini", "[general]\r\nLanguage=" + language + "\r\n");
    ProgramFolder = programFolder;
    Localizer = std::make_unique<TFileLocalizer>(ProgramFolder + "OvLng");
    Settings = LaunchSettings{};
    Settings.Product = "br";
    Settings.Version = "5.1";
    Settings.Code = "1234";
    Settings.MainExe = WizardTestMainExe;
    // A server may keep a test's files below a folder of its own (the Windows stage's shared nginx does): that
    // folder is part of the host setting, which the program puts in front of its request paths.
    std::string host = server.Url("");
    host = host.substr(std::string("http://").size(), host.size() - std::string("http://").size() - 1);
    SetEnvironment("ORVANE_UPDATE_SERVER", host);
}

void WizardWindowTest::ServeCatalogue(const std::string& groups) {
    server.AddFile("orvane/update/product/BR/version/5.1/code/1234/index.html",
                   "<?xml version=\"1.0\"?>\n<orvane><update>" + groups + "</update></orvane>\n");
}

std::string WizardWindowTest::Entry(const std::string& name, const std::string& fileName, const std::string& content,
                                    const std::string& extra, bool slow, const std::optional<std::string>& package) {
    const std::string path = (slow ? "slow/" : "packages/") + fileName;
    server.AddFile(path, package.value_or(content));
    const auto crc = static_cast<int32_t>(CrcUpdate(0, content.data(), content.size()));
    return "<entry><name>" + name + "</name><filename>" + fileName + "</filename><size>" +
           std::to_string(content.size()) + "</size><crc>" + std::to_string(crc) + "</crc><download>" +
           server.Url(path) + "</download><downloadsize>" + std::to_string(content.size()) + "</downloadsize>" +
           extra + "</entry>";
}

void TWizardDriver::ExpectBox(const std::string& key, TBoxCheck check, const std::string& screenshot) {
    std::lock_guard lock(boxesLock_);
    expected_.push_back({key, std::move(check), screenshot});
}

bool TWizardDriver::PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        PumpOnce();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool TWizardDriver::BoxesAnswered() {
    return PumpUntil([this] {
        std::lock_guard lock(boxesLock_);
        return expected_.empty();
    });
}

void TWizardDriver::AnswerBox(const TBoxSeen& seen, const TBoxHands& hands) {
    std::unique_lock lock(boxesLock_);
    if (expected_.empty()) {
        lock.unlock();
        ADD_FAILURE() << "box: " << seen.Text;
        hands.Dismiss();
        return;
    }
    const TExpectedBox expected = expected_.front();
    lock.unlock();
    expected.Check(seen);
    if (!expected.Screenshot.empty()) hands.Photograph(expected.Screenshot);
    hands.Type(expected.Key);
    lock.lock();
    expected_.pop_front();
}

}  // namespace testsupport
