// The query text's shared block as other programs and other users may leave it (POSIX shared memory).
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include "OVCommon/OVCommon.h"
#include "tests/OVCommon/main_program_fixture.h"
#include "tests/support/other_user.h"
#include "tests/support/shared_block.h"

namespace {

constexpr const char* kQueryBlock = "/BRELLIUMMAPPING19";

using MainProgramQuery = MainProgramFolder;

TEST_F(MainProgramQuery, NoTextGivesAnEmptyOne) {
    // An old text left in the block by an earlier run is not taken.
    testsupport::PlantSharedBlock(kQueryBlock, 260, 0600, "&code=stale");
    EXPECT_EQ(MainProgramQueryText(), "");
    Settings.MainExe = "missing.exe";
    setenv("BRELLIUM_QUERY_TEXT", "&code=Q", 1);
    EXPECT_EQ(MainProgramQueryText(), "");
}

TEST_F(MainProgramQuery, ABlockOfAnotherUserIsNotTrusted) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can leave a block that belongs to another user";
    testsupport::PlantSharedBlock(kQueryBlock, 260, 0666, "&code=false", testsupport::kNobody);
    setenv("BRELLIUM_QUERY_TEXT", "&code=Q", 1);
    EXPECT_EQ(MainProgramQueryText(), "");
    EXPECT_EQ(testsupport::SharedBlockText(kQueryBlock), "&code=false");
    ::shm_unlink(kQueryBlock);
}

}  // namespace
