#pragma once
// What the wizard window tests of both toolkits start from: a fresh program folder with the shipped language
// files and the language chosen in common.ini, the product "br" 5.1, code 1234, known, and its catalogue and
// packages served by the test's nginx (packages below "slow/" at a limited rate). Needs the program's common
// library, whose globals it sets.
#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>

#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"

namespace testsupport {

// Bytes with a repeating pattern that starts at the seed.
std::string Package(std::size_t size, char seed);

class WizardWindowTest : public ::testing::Test {
protected:
    // mainExe: the main program's name, one no process has, so that an install run does not wait for it.
    explicit WizardWindowTest(std::string mainExe) : mainExe_(std::move(mainExe)) {}

    // Each call makes a fresh folder, and the program's folder is that one from then on.
    void PrepareProgramFolder(const std::string& language);
    void ServeCatalogue(const std::string& groups);
    // An entry whose package (the content itself unless given) is served, below "slow/" at a limited rate.
    std::string Entry(const std::string& name, const std::string& fileName, const std::string& content,
                      const std::string& extra = "", bool slow = false,
                      const std::optional<std::string>& package = std::nullopt);

    TempDir folder;
    int folders = 0;
    std::string programFolder;
    NginxServer server{"location ~ /slow/ { limit_rate 64k; }"};

private:
    std::string mainExe_;
};

}  // namespace testsupport
