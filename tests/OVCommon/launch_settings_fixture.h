#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "tests/support/environment.h"
#include "tests/support/temp_dir.h"

// Loads the settings from the arguments, with the registry pointed at a file of the test's choice where the
// registry is such a file (POSIX); Windows reads its own registry, which lacks the program's key in the tests.
class LaunchSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { UseRegistry(""); }
    void TearDown() override { testsupport::UnsetEnvironment("ORVANE_HKLM"); }

    void UseRegistry(const std::string& values) {
        const std::string file = folder / "hklm.reg";
        testsupport::WriteFile(file, "Windows Registry Editor Version 5.00\r\n\r\n"
                                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelmar\\Orvane]\r\n" + values);
        testsupport::SetEnvironment("ORVANE_HKLM", file);
    }
    static void Load(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "orvane");
        LoadLaunchSettings(arguments);
    }

    testsupport::TempDir folder;
};
