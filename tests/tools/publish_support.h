#pragma once
// Running orvane-publish from a test: a source folder to fill and the command line around it.
#include <string>
#include <vector>

#include "tests/e2e/program_run.h"
#include "tests/support/temp_dir.h"

namespace testsupport {

class PublishRun {
public:
    // Writes a file below the source folder, creating its folders.
    void Source(const std::string& path, const std::string& content) const;
    // orvane-publish with these arguments, in the scratch folder.
    ProgramRun Run(const std::vector<std::string>& arguments) const;
    // orvane-publish --source <source> --target <target> --base-url <baseUrl>, then `extra`.
    ProgramRun Publish(const std::string& target, const std::string& baseUrl,
                       const std::vector<std::string>& extra = {}) const;

    const TempDir& dir() const { return dir_; }
    std::string source() const { return dir_ / "src/"; }

private:
    TempDir dir_;
};

}  // namespace testsupport
