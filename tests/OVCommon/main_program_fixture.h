#pragma once
// A private program folder holding a copy of the stand-in main program, as ProgramFolder for the test.
#include <gtest/gtest.h>

#include <string>

#include "OVCommon/OVCommon.h"
#include "tests/support/environment.h"
#include "tests/support/temp_dir.h"

class MainProgramFolder : public ::testing::Test {
protected:
    void SetUp() override {
        savedFolder = ProgramFolder;
        ProgramFolder = folder.path();
        Settings = LaunchSettings{};
        mainProgram = testsupport::CopyExecutable(BRELLIUM_EXE, folder.path());
        testsupport::UnsetEnvironment("BRELLIUM_QUERY_TEXT");
    }
    void TearDown() override {
        ProgramFolder = savedFolder;
        testsupport::UnsetEnvironment("BRELLIUM_QUERY_TEXT");
    }

    testsupport::TempDir folder;
    std::string mainProgram;
    std::string savedFolder;
};
