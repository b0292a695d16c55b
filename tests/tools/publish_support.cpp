#include "tests/tools/publish_support.h"

#include <filesystem>

namespace testsupport {

void PublishRun::Source(const std::string& path, const std::string& content) const {
    const std::filesystem::path file = source() + path;
    std::filesystem::create_directories(file.parent_path());
    WriteFile(file.string(), content);
}

ProgramRun PublishRun::Publish(const std::string& target, const std::string& baseUrl,
                               const std::vector<std::string>& extra) const {
    std::vector<std::string> arguments{"--source", source(), "--target", target, "--base-url", baseUrl};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return Run(arguments);
}

ProgramRun PublishRun::Run(const std::vector<std::string>& arguments) const {
    return RunAndWait(ProgramLaunch{ORVANE_PUBLISH_EXE, arguments, dir_.path(), {}});
}

}  // namespace testsupport
