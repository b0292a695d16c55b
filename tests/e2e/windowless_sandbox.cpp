#include "tests/e2e/windowless_sandbox.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "tests/e2e/release_fixture.h"

namespace testsupport {

namespace fs = std::filesystem;

WindowlessSandbox::WindowlessSandbox(int serverPort, MainProgram mainProgram) : serverPort_(serverPort) {
    for (const std::string& folder : {programFolder(), share(), tmp()}) fs::create_directories(folder);
    CopyExecutable(ORVANE_EXE, programFolder());
    CopyExecutable(ORVANE_WIZARD_EXE, programFolder());
    fs::copy(fs::path(ORVANE_EXE).parent_path() / "OvLng", programFolder() + "OvLng", fs::copy_options::recursive);
    if (mainProgram == MainProgram::Present) CopyExecutable(BRELLIUM_EXE, programFolder());
}

std::vector<std::string> WindowlessSandbox::MirrorArguments(const std::vector<std::string>& extra) const {
    std::vector<std::string> arguments{"/ENTS", "SFLD=" + share(), std::string("PRODUCT=") + kProduct,
                                       std::string("VERSION=") + kVersion, std::string("CODE=") + kCode};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

std::vector<std::string> WindowlessSandbox::ClientArguments() const { return {"/ENTC", "SFLD=" + share()}; }

ProgramLaunch WindowlessSandbox::Launch(const std::vector<std::string>& arguments,
                                        const std::vector<std::string>& extraEnvironment) const {
    const std::string server = "127.0.0.1:" + std::to_string(serverPort_);
    std::vector<std::string> environment{"TMPDIR=" + tmp(), "ORVANE_HKLM=" + root() + "no-registry.reg",
                                         "ORVANE_UPDATE_SERVER=" + server, "ORVANE_DEMO_SERVER=" + server,
                                         "BRELLIUM_LOG=" + root() + "brellium.log"};
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    // The working folder is the sandbox root, so a relative path written by mistake lands where tests look.
    return ProgramLaunch{programFolder() + "orvane", arguments, root(), environment};
}

ProgramRun WindowlessSandbox::Run(const std::vector<std::string>& arguments,
                                  const std::vector<std::string>& extraEnvironment) const {
    return RunAndWait(Launch(arguments, extraEnvironment));
}

std::vector<std::string> WindowlessSandbox::MainProgramStarts() const {
    std::vector<std::string> starts;
    if (!FileExists(root() + "brellium.log")) return starts;
    std::istringstream log(ReadFile(root() + "brellium.log"));
    for (std::string line; std::getline(log, line);) starts.push_back(line);
    return starts;
}

::testing::AssertionResult EndedQuietly(const ProgramRun& run, int status) {
    const bool saidWhy = std::count(run.errorOutput.begin(), run.errorOutput.end(), '\n') == 1 &&
                         run.errorOutput.find(" stopped with exit status ") != std::string::npos;
    if (run.status == status && (status == 0 ? run.errorOutput.empty() : saidWhy)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "ended with status " << run.status << " instead of " << status
                                         << ", writing \"" << run.errorOutput << "\"";
}

std::string LatestEntry(const std::string& fileName, const std::string& content, const std::string& download) {
    return "<file><name>n</name><filename>" + fileName + "</filename><crc>" + CrcText(content) + "</crc><download>" +
           download + "</download><size>" + std::to_string(content.size()) + "</size></file>";
}

std::map<std::string, std::string> FilesBelow(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        // The runs' lock file holds nothing and is never replaced.
        if (entry.is_regular_file() && entry.path().filename() != kLockFileName)
            files[fs::relative(entry.path(), folder).string()] = ReadFile(entry.path());
    }
    return files;
}

std::map<std::string, std::string> PlacedFiles(const std::string& programFolder) {
    std::map<std::string, std::string> files = FilesBelow(programFolder);
    std::erase_if(files, [](const auto& entry) {
        return entry.first == "orvane" || entry.first == "orvane-wizard" || entry.first.starts_with("OvLng/");
    });
    return files;
}

std::optional<FileStamp> StampOf(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) return std::nullopt;
    return FileStamp{status.st_ino, status.st_size, status.st_mtim.tv_sec * 1000000000LL + status.st_mtim.tv_nsec};
}

std::map<std::string, FileStamp> StampsBelow(const std::string& folder, const std::vector<std::string>& leftOut) {
    std::map<std::string, FileStamp> stamps;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string path = fs::relative(entry.path(), folder).string();
        const auto isLeftOut = [&](const std::string& prefix) { return path.starts_with(prefix); };
        if (std::any_of(leftOut.begin(), leftOut.end(), isLeftOut) || entry.path().filename() == kLockFileName)
            continue;
        if (const auto stamp = StampOf(entry.path())) stamps[path] = *stamp;
    }
    return stamps;
}

// A line of the combined log format holds the request as "GET /target HTTP/1.1" between its first quotes.
std::vector<std::string> RequestedTargets(const std::string& accessLog) {
    std::vector<std::string> targets;
    std::istringstream log(accessLog);
    for (std::string line; std::getline(log, line);) {
        const size_t start = line.find(' ', line.find('"'));
        const size_t end = start == std::string::npos ? start : line.find(' ', start + 1);
        if (end != std::string::npos) targets.push_back(line.substr(start + 1, end - start - 1));
    }
    return targets;
}

}  // namespace testsupport
